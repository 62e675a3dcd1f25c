// The journal's file format: an SQLite database marked as ours by its
// application id, with the schema version in its user version. The schema and
// the steps from one version to the next live here and nowhere else.
#pragma once

#include <cstdint>
#include <string>

#include "journal/sqlite.h"

namespace veks {

// "VKJL": tells a journal from any other SQLite database (offset 68 of the file).
inline constexpr std::int64_t kJournalApplicationId = 0x564B4A4C;
inline constexpr std::int64_t kJournalSchemaVersion = 2;

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

// Brings an open journal of an older version up to this one.
void MigrateJournal(SqliteDb& db);

}  // namespace veks
