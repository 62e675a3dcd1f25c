#include "journal/journal_schema.h"

namespace veks {
namespace {

// Version 1. The history of a device is its segments in order; a segment's
// events are ordered by seq. Texts are those the window's table shows,
// without leading and trailing blanks.
constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE devices (
  id    INTEGER PRIMARY KEY,
  name  TEXT NOT NULL UNIQUE
);
CREATE TABLE segments (
  id              INTEGER PRIMARY KEY,
  device_id       INTEGER NOT NULL REFERENCES devices(id),
  rank            INTEGER NOT NULL,
  first_seq       INTEGER NOT NULL,
  last_seq        INTEGER NOT NULL,
  event_count     INTEGER NOT NULL,
  last_timestamp  TEXT
);
CREATE INDEX segments_device ON segments(device_id, last_timestamp, rank);
CREATE TABLE events (
  segment_id  INTEGER NOT NULL REFERENCES segments(id),
  seq         INTEGER NOT NULL,
  raw         BLOB NOT NULL,
  code        INTEGER NOT NULL,
  argument    INTEGER NOT NULL,
  timestamp   TEXT,
  date        TEXT NOT NULL,
  time        TEXT NOT NULL,
  event       TEXT NOT NULL,
  input       TEXT NOT NULL,
  PRIMARY KEY (segment_id, seq)
) WITHOUT ROWID;
CREATE INDEX events_raw ON events(raw);
CREATE INDEX events_timestamp ON events(segment_id, timestamp);
CREATE INDEX events_argument ON events(segment_id, argument);
CREATE TABLE imports (
  id           INTEGER PRIMARY KEY,
  device_id    INTEGER NOT NULL REFERENCES devices(id),
  archive      TEXT NOT NULL,
  imported_at  TEXT NOT NULL,
  copy_events  INTEGER NOT NULL,
  new_events   INTEGER NOT NULL
);
CREATE VIEW history AS
  SELECT d.name AS device,
         (SELECT count(*) FROM segments o
           WHERE o.device_id = s.device_id
             AND (o.last_timestamp IS NULL, coalesce(o.last_timestamp, ''), o.rank)
               <= (s.last_timestamp IS NULL, coalesce(s.last_timestamp, ''), s.rank)) AS segment,
         e.seq, e.timestamp, e.date, e.time, e.event, e.input, e.code, e.argument,
         lower(hex(e.raw)) AS raw
    FROM events e JOIN segments s ON s.id = e.segment_id JOIN devices d ON d.id = s.device_id;
)sql";

// Version 2: events are found by their moment and bytes, an index that new
// events join at its end (they are the newest), so an import writes few of
// its pages; the input filter is answered from its index alone (the index
// holds the code the filter also checks), and the kind-of-event filter has an
// index of its own.
constexpr const char* kSchemaV2 = R"sql(
DROP INDEX events_raw;
CREATE INDEX events_moment ON events(timestamp, raw);
DROP INDEX events_argument;
CREATE INDEX events_argument ON events(segment_id, argument, seq, code);
CREATE INDEX events_event ON events(segment_id, event);
)sql";

// Version 3: the history view numbers each device's segments once, a window
// function over the segments, instead of counting them again for every event.
constexpr const char* kSchemaV3 = R"sql(
DROP VIEW history;
CREATE VIEW history AS
  SELECT d.name AS device, s.segment, e.seq, e.timestamp, e.date, e.time, e.event, e.input,
         e.code, e.argument, lower(hex(e.raw)) AS raw
    FROM (SELECT id, device_id,
                 row_number() OVER (PARTITION BY device_id
                                    ORDER BY last_timestamp IS NULL, last_timestamp, rank)
                   AS segment
            FROM segments) s
    JOIN events e ON e.segment_id = s.id
    JOIN devices d ON d.id = s.device_id;
)sql";

// Notes: what operators wrote about events (a note) or about a moment (an
// operator entry). A note's row says what it is attached to; everything the
// operator wrote is in its versions, which are only ever added. Where a
// note's event stands (segment_id, seq) follows the event: an import that
// moves events moves them by an UPDATE, which the foreign key carries to the
// notes; one that drops a segment whose events stand elsewhere as well moves
// the notes there first (JournalStore::dropSegment); and an event that
// carries a note cannot be deleted.
// Version 4.
constexpr const char* kSchemaNotes = R"sql(
CREATE TABLE notes (
  number      INTEGER PRIMARY KEY AUTOINCREMENT,
  uuid        TEXT NOT NULL UNIQUE,
  device_id   INTEGER NOT NULL REFERENCES devices(id),
  segment_id  INTEGER,
  seq         INTEGER,
  raw         BLOB,
  at          TEXT,
  CHECK ((raw IS NULL) <> (at IS NULL)),
  FOREIGN KEY (segment_id, seq) REFERENCES events(segment_id, seq) ON UPDATE CASCADE
);
CREATE INDEX notes_event ON notes(segment_id, seq);
CREATE INDEX notes_device ON notes(device_id);
CREATE TABLE note_versions (
  note     INTEGER NOT NULL REFERENCES notes(number),
  version  INTEGER NOT NULL,
  kind     TEXT NOT NULL,
  text     TEXT NOT NULL,
  author   TEXT NOT NULL,
  written  TEXT NOT NULL,
  deleted  INTEGER NOT NULL CHECK (deleted IN (0, 1)),
  PRIMARY KEY (note, version)
) WITHOUT ROWID;
CREATE TRIGGER note_versions_unchanged BEFORE UPDATE ON note_versions
  BEGIN SELECT RAISE(ABORT, 'a version of a note is never changed'); END;
CREATE TRIGGER note_versions_kept BEFORE DELETE ON note_versions
  BEGIN SELECT RAISE(ABORT, 'a version of a note is never removed'); END;
CREATE TRIGGER notes_kept BEFORE DELETE ON notes
  BEGIN SELECT RAISE(ABORT, 'a note is never removed'); END;
CREATE TRIGGER notes_attached BEFORE UPDATE OF number, uuid, raw, at ON notes
  BEGIN SELECT RAISE(ABORT, 'what a note is attached to is never changed'); END;
)sql";

// What undoing a device's last import needs (journal/import_undo.h): the
// segment that holds the import's events now, what that segment was before
// it (no prior_ values when the import made it), and the runs of it that
// were segments of their own before the import joined them in. A device has
// at most one such record, for its last import, kept until the next import
// into it, its undo or a rename join. An undone import keeps its row in
// imports, marked with the moment of the undo.
// Version 5.
constexpr const char* kSchemaUndo = R"sql(
ALTER TABLE imports ADD COLUMN undone_at TEXT;
CREATE TABLE import_undo (
  import_id             INTEGER PRIMARY KEY REFERENCES imports(id),
  device_id             INTEGER NOT NULL UNIQUE REFERENCES devices(id),
  segment_id            INTEGER NOT NULL REFERENCES segments(id),
  first_seq             INTEGER NOT NULL,
  last_seq              INTEGER NOT NULL,
  prior_rank            INTEGER,
  prior_first_seq       INTEGER,
  prior_last_seq        INTEGER,
  prior_last_timestamp  TEXT
);
CREATE TABLE import_undo_parts (
  import_id       INTEGER NOT NULL REFERENCES import_undo(import_id),
  at_seq          INTEGER NOT NULL,
  rank            INTEGER NOT NULL,
  first_seq       INTEGER NOT NULL,
  event_count     INTEGER NOT NULL,
  last_timestamp  TEXT,
  PRIMARY KEY (import_id, at_seq)
) WITHOUT ROWID;
)sql";

// Version 6: the input and kind-of-event indexes also hold the timestamp, so
// that statistics over a date range count from these indexes alone instead
// of looking up every event's row, and a chattering input is found in one
// pass over its input index in order.
constexpr const char* kSchemaStatsIndexes = R"sql(
DROP INDEX events_argument;
CREATE INDEX events_argument ON events(segment_id, argument, seq, code, timestamp);
DROP INDEX events_event;
CREATE INDEX events_event ON events(segment_id, event, timestamp);
)sql";

}  // namespace

void MigrateJournal(SqliteDb& db, std::int64_t to) {
  // Each step takes the journal from version i to i + 1.
  static constexpr const char* kSteps[] = {kSchemaV1,    kSchemaV2,   kSchemaV3,
                                           kSchemaNotes, kSchemaUndo, kSchemaStatsIndexes};
  static_assert(std::size(kSteps) == kJournalSchemaVersion);
  static_assert(kSteps[kJournalNotesVersion - 1] == kSchemaNotes);
  static_assert(kSteps[kJournalUndoVersion - 1] == kSchemaUndo);
  static_assert(kSteps[kJournalStatsIndexesVersion - 1] == kSchemaStatsIndexes);
  SqliteTransaction transaction(db);
  for (std::int64_t version = db.pragmaInteger("user_version"); version < to; ++version) {
    db.exec(kSteps[version]);
    db.exec("PRAGMA user_version = " + std::to_string(version + 1));
  }
  transaction.commit();
}

}  // namespace veks
