// Device names: the name a device gets from an archive's file, and the names
// an operator may give. Pure functions of their text.
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

}  // namespace veks
