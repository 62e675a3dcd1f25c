// Checks of the values that the command-line tools take, shared so that
// veks12-report and veks12-journal accept exactly the same numbers and dates.
#pragma once

#include <optional>
#include <string_view>

namespace veks {

// Plain ASCII digits (any number of leading zeros) naming a value within
// [low, high]; no sign, no blanks, no wrap-around however many digits.
[[nodiscard]] std::optional<int> ParseNumberArgument(std::string_view text, int low, int high);

// DD.MM.YY: exactly two ASCII digits each, day 01-31, month 01-12, year
// 00-99. No calendar check: 31.02.13 is a well-formed date that no record has.
[[nodiscard]] bool IsDateArgument(std::string_view text);

}  // namespace veks
