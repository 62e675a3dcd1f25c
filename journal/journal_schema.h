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
inline constexpr std::int64_t kJournalSchemaVersion = 3;

// Brings an open journal of an older version up to this one.
void MigrateJournal(SqliteDb& db);

}  // namespace veks
