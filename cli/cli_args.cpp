#include "cli/cli_args.h"

namespace veks {

std::optional<int> ParseNumberArgument(std::string_view text, int low, int high) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    // Once past the range no further digit can bring it back: stop before
    // the value could overflow.
    if (value > high) return std::nullopt;
  }
  if (value < low) return std::nullopt;
  return static_cast<int>(value);
}

bool IsDateArgument(std::string_view t) {
  if (t.size() != 8 || t[2] != '.' || t[5] != '.') return false;
  const auto twoDigits = [&](std::size_t at, int low, int high) {
    return ParseNumberArgument(t.substr(at, 2), low, high).has_value();
  };
  return twoDigits(0, 1, 31) && twoDigits(3, 1, 12) && twoDigits(6, 0, 99);
}

}  // namespace veks
