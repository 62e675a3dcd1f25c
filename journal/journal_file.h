// The journal's file: where it lives by default, telling ours from any other
// file without opening it as a database, making a new one, and clearing away
// what an interrupted making left behind.
#pragma once

#include <optional>
#include <string>

#include "journal/journal_types.h"

namespace veks {

// The journal's file when none is named: $XDG_DATA_HOME/veks12/journal.sqlite,
// where an unset, empty or relative XDG_DATA_HOME means $HOME/.local/share.
// Nothing when HOME is unset, empty or relative too.
[[nodiscard]] std::optional<std::string> DefaultJournalPath(const char* xdgDataHome,
                                                            const char* home);

enum class JournalFileKind {
  kMissing,      // no file of that name
  kJournal,      // ours, of this version or an older one
  kNewer,        // ours, of a newer version
  kNotJournal,   // anything else: an empty file, a directory, another database
  kUnavailable,  // the system refuses to show it (systemError says why)
};

struct JournalFileState {
  JournalFileKind kind = JournalFileKind::kMissing;
  int systemError = 0;  // errno, for kUnavailable
};

// Reads the file's 100-byte header only; nothing opens it as a database. The
// version it tells is the main file's: a newer one that stands only in the
// -wal beside it is found when the database is opened.
[[nodiscard]] JournalFileState InspectJournalFile(const std::string& path);

// "Журнал не удается открыть: " and the system's reason.
[[nodiscard]] JournalError JournalUnavailable(int systemError);

// Why this process cannot write the existing journal `path`, in Russian: its
// file system is read-only, or the file or its folder (where SQLite makes
// the -wal and -shm beside it) refuses writing. Nothing when it can.
[[nodiscard]] std::optional<std::string> JournalReadOnlyReason(const std::string& path);

// Creates a journal where no file exists, with the folders that lead to it:
// the schema is built in a file of its own beside it (TemporaryNameBeside)
// and linked into place, so the name never shows a half-made journal. Another
// process that creates it first wins; that is no failure. Throws
// JournalUnavailable when the system refuses.
void CreateJournalFile(const std::string& path);

// A name for a file being made to become `path`: "PATH.new-PID-RANDOM".
[[nodiscard]] std::string TemporaryNameBeside(const std::string& path);

// Removes the files that makings of `path` left when they were interrupted:
// TemporaryNameBeside names (and SQLite's -journal, -wal and -shm of them)
// whose process runs no more on this machine and that were last changed more
// than a minute ago. A name that is still being made is left alone.
void RemoveStaleTemporaries(const std::string& path);

}  // namespace veks
