// Device names: the name a device gets from an archive's file, and the names
// an operator may give; the labels and texts of notes an operator may give.
// Pure functions of their text.
#pragma once

#include <string>
#include <string_view>

namespace veks {

// The name a device gets from an archive's file: its stem (no folder, no last
// extension), control characters as "_" and bytes that are no UTF-8 (a
// truncated or overlong sequence, a surrogate, a code point past U+10FFFF) as
// U+FFFD, each such byte on its own; "архив" when the stem is empty.
[[nodiscard]] std::string DeviceNameForFile(const std::string& archive);

// A device name an operator may give: not empty, valid UTF-8, no control characters.
[[nodiscard]] bool IsValidDeviceName(std::string_view name);

// A note's kind or author: valid UTF-8 of 1 to 100 characters, none of them a
// control character (C0, DEL, C1).
[[nodiscard]] bool IsValidNoteLabel(std::string_view label);

// A note's text: valid UTF-8 that is not empty nor blanks only (spaces, line
// and paragraph separators, TABs and line feeds); line feeds separate its
// lines, and they and TABs are its only control characters.
[[nodiscard]] bool IsValidNoteText(std::string_view text);

}  // namespace veks
