// Windows virtual-key codes of Qt key events, for the number box's key filter,
// which decides by key code and not by character.
#pragma once

#include <Qt>

// The virtual-key code of a key press, or 0 for a key without one here (the
// filter treats 0 like any other key it does not let through). Digits give
// 48-57 on the main keyboard and 96-105 on the keypad; both Enter keys give 13.
int VirtualKeyCode(int qtKey, Qt::KeyboardModifiers modifiers);
