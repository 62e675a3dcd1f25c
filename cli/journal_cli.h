// The command `veks12-journal`: imports archive copies into the event journal
// and reports and exports the histories it holds.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <ostream>
#include <span>
#include <string>

namespace veks {

// What the command reads of its environment.
struct JournalCliEnvironment {
  const char* xdgDataHome = nullptr;
  const char* home = nullptr;
  // Who writes a note when --author is not given, the first that names
  // someone: $LOGNAME, $USER, the user's name in the password database.
  const char* logname = nullptr;
  const char* user = nullptr;
  std::function<std::string()> accountName = {};  // asked only when needed
  // When a note is written, in seconds since 1970 (UTC); the system's clock
  // when not given.
  std::function<std::int64_t()> now = {};
  // A moment (seconds since 1970) in the local time of the process (TZ), as
  // the report shows when a note was written; localtime_r when not given.
  std::function<std::tm(std::int64_t)> localTime = {};
};

// Runs `veks12-journal` with its arguments (without the program name) and
// returns the exit code: 0 done, 1 a failure (message on `err`), 2 bad usage
// (found before the journal or any archive is opened).
int RunJournalCli(std::span<const std::string> args, const JournalCliEnvironment& environment,
                  std::ostream& out, std::ostream& err);

}  // namespace veks
