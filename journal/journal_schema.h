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
// The version that brought notes (kSchemaNotes in journal_schema.cpp): the
// one number to change when another step comes before it.
inline constexpr std::int64_t kJournalNotesVersion = 4;
// The version that brought the undo of a device's last import (kSchemaUndo).
inline constexpr std::int64_t kJournalUndoVersion = 5;
// The version whose input and kind indexes hold the timestamp
// (kSchemaStatsIndexes).
inline constexpr std::int64_t kJournalStatsIndexesVersion = 6;
inline constexpr std::int64_t kJournalSchemaVersion = kJournalStatsIndexesVersion;

// Brings an open journal of an older version up to `version` (this program's
// unless a test makes an older journal), in one transaction.
void MigrateJournal(SqliteDb& db, std::int64_t version = kJournalSchemaVersion);

}  // namespace veks
