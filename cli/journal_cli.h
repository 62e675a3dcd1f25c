// The command `veks12-journal`: imports archive copies into the event journal
// and reports and exports the histories it holds.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace veks {

// What the command reads of its environment.
struct JournalCliEnvironment {
  const char* xdgDataHome = nullptr;
  const char* home = nullptr;
};

// Runs `veks12-journal` with its arguments (without the program name) and
// returns the exit code: 0 done, 1 a failure (message on `err`), 2 bad usage
// (found before the journal or any archive is opened).
int RunJournalCli(std::span<const std::string> args, const JournalCliEnvironment& environment,
                  std::ostream& out, std::ostream& err);

}  // namespace veks
