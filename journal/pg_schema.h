// The journal on a PostgreSQL server: a schema of its own in the database the
// connection names, holding the same tables, indexes and view as a journal
// file, and a table `journal_info` of one row that marks the schema as ours
// (the journal file's application id, "VKJL") and gives its version (the
// file's user version; the two engines count versions alike).
//
// The schema is "veks12" unless the connection's options set a search_path
// (in the URI, "?options=-csearch_path%3Dteam1", or PGOPTIONS): then its
// first entry, as the server reads it ("$user" is the role's name). Each
// team or site can so keep its journal in a schema of its own in one
// database, and a DBA can make the schema beforehand for the role that will
// own it: a schema holding nothing at all is a journal not yet made.
//
// Types: integers are bigint, blobs bytea, and every text column compares
// and sorts byte for byte (COLLATE "C"), as SQLite's texts do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "journal/pg_connection.h"

namespace veks {

inline constexpr const char* kDefaultJournalSchema = "veks12";
inline constexpr const char* kMsgNotAServerJournal =
    "Схема на сервере не является журналом событий";

// The first schema a search_path setting names, as the server reads it: an
// unquoted name in lower case, a quoted one as written ("" for a quote),
// "$user" as `user`. Nothing when the setting names none.
[[nodiscard]] std::optional<std::string> FirstSchemaOf(std::string_view searchPath,
                                                       std::string_view user);

// The schema that holds this connection's journal: the first of the
// search_path its options set, else kDefaultJournalSchema.
[[nodiscard]] std::string JournalSchemaName(PgConnection& connection);

enum class PgJournalKind {
  kMissing,     // no schema of that name, or one that holds nothing
  kJournal,     // ours, of this version or an older one
  kNewer,       // ours, of a newer version
  kNotJournal,  // a schema of that name that holds something not ours
};

struct PgJournalState {
  PgJournalKind kind = PgJournalKind::kMissing;
  std::int64_t version = 0;  // of kJournal and kNewer
};

// Reads the catalogue and the marker only; writes nothing.
[[nodiscard]] PgJournalState InspectPgJournal(PgConnection& connection, const std::string& schema);

// Makes the journal in `schema` (the schema too, when missing) at
// `version` (this program's unless a test makes an older one), or brings an
// older journal there, in one transaction. Clients that create or migrate at
// once wait for each other, and a journal another client made meanwhile is
// no failure. A schema that turns out to be another's or newer is left
// untouched: kNotJournal or kNewerVersion.
void CreatePgJournal(PgConnection& connection, const std::string& schema);
void CreatePgJournal(PgConnection& connection, const std::string& schema, std::int64_t version);

// Makes `schema` the only one unqualified names find (after the system's
// own), so that the journal's statements read the same on both engines.
void UsePgJournalSchema(PgConnection& connection, const std::string& schema);

// Why the journal in `schema` cannot be written (or, missing, made) through
// this connection, in Russian, to follow kMsgJournalReadOnly: the server is
// a standby or the session is read-only, or the role lacks the rights.
// Nothing when it can.
[[nodiscard]] std::optional<std::string> PgReadOnlyReason(PgConnection& connection,
                                                          const std::string& schema);

}  // namespace veks
