// The journal's file: where it lives by default, telling ours from any other
// file without opening it as a database, and making a new one.
#pragma once

#include <optional>
#include <string>

namespace veks {

// The journal's file when none is named: $XDG_DATA_HOME/veks12/journal.sqlite,
// where an unset, empty or relative XDG_DATA_HOME means $HOME/.local/share.
// Nothing when HOME is unset, empty or relative too.
[[nodiscard]] std::optional<std::string> DefaultJournalPath(const char* xdgDataHome,
                                                            const char* home);

enum class JournalFileKind {
  kJournal,     // ours, of this version or an older one
  kNewer,       // ours, of a newer version
  kNotJournal,  // anything else, an empty or unreadable file included
};

// Reads the file's 100-byte header only; nothing opens it as a database.
[[nodiscard]] JournalFileKind InspectJournalFile(const std::string& path);

// Creates a journal where no file exists: the schema is built in a file of its
// own beside it and linked into place, so the name never shows a half-made
// journal. Another process that creates it first wins; that is no failure.
void CreateJournalFile(const std::string& path);

}  // namespace veks
