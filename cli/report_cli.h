// The command-line companion: prints the window's reports without a window.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace veks {

// Runs `veks12-report` with its arguments (without the program name). Returns
// the exit code: 0 on a printed report or --help, 1 when the archive gives a
// failure message or `out` cannot be written (the reason goes to `err`), 2 on
// bad usage (found before any file is opened).
int RunReportCli(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace veks
