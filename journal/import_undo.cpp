#include "journal/import_undo.h"

#include <algorithm>
#include <ctime>

#include "journal/journal_notes.h"
#include "report/event_export.h"

namespace veks {
namespace {

// A segment the import joined in: where its events stand now, and its row.
struct JoinedPart {
  std::int64_t at = 0;
  std::int64_t rank = 0;
  std::int64_t firstSeq = 0;
  std::int64_t count = 0;
  std::optional<std::string> lastTimestamp;
};

// A device's record, as stored.
struct Record {
  std::int64_t importId = 0;
  std::int64_t segment = 0;
  std::int64_t firstSeq = 0;  // the segment's seqs after the import
  std::int64_t lastSeq = 0;
  std::optional<SegmentRow> prior;  // rank, seqs, count and last timestamp
  std::vector<JoinedPart> parts;    // by `at`
};

// A run of seqs, both ends included.
using SeqRange = std::pair<std::int64_t, std::int64_t>;

// The runs of the record's segment that the import added: those that were
// neither the segment before nor a segment joined in. Empty when the record's
// parts do not lie apart within the segment.
std::optional<std::vector<SeqRange>> AddedRanges(const Record& record) {
  std::vector<SeqRange> kept;
  if (record.prior) kept.emplace_back(record.prior->firstSeq, record.prior->lastSeq);
  for (const JoinedPart& part : record.parts) kept.emplace_back(part.at, part.at + part.count - 1);
  std::sort(kept.begin(), kept.end());
  std::vector<SeqRange> added;
  std::int64_t next = record.firstSeq;
  for (const auto& [first, last] : kept) {
    if (first < next || last < first || last > record.lastSeq) return std::nullopt;
    if (first > next) added.emplace_back(next, first - 1);
    next = last + 1;
  }
  if (next <= record.lastSeq) added.emplace_back(next, record.lastSeq);
  return added;
}

std::optional<Record> LoadRecord(JournalStore& store, std::int64_t device) {
  if (!store.hasUndo()) return std::nullopt;
  StatementLease row = store.statement(
      "SELECT import_id, segment_id, first_seq, last_seq, prior_rank, prior_first_seq, "
      "prior_last_seq, prior_last_timestamp FROM import_undo WHERE device_id = ?1");
  row.bind(1, device);
  if (!row.step()) return std::nullopt;
  Record record{row.integer(0), row.integer(1), row.integer(2), row.integer(3), {}, {}};
  if (!row.isNull(4)) {
    SegmentRow prior;
    prior.id = record.segment;
    prior.deviceId = device;
    prior.rank = row.integer(4);
    prior.firstSeq = row.integer(5);
    prior.lastSeq = row.integer(6);
    prior.count = prior.lastSeq - prior.firstSeq + 1;
    if (!row.isNull(7)) prior.lastTimestamp = std::string(row.text(7));
    record.prior = prior;
  }
  row.reset();
  StatementLease parts = store.statement(
      "SELECT at_seq, rank, first_seq, event_count, last_timestamp FROM import_undo_parts "
      "WHERE import_id = ?1 ORDER BY at_seq");
  parts.bind(1, record.importId);
  while (parts.step()) {
    record.parts.push_back(
        {parts.integer(0), parts.integer(1), parts.integer(2), parts.integer(3),
         parts.isNull(4) ? std::nullopt : std::optional<std::string>(std::string(parts.text(4)))});
  }
  return record;
}

// The events in `ranges` of `segment` that carry a note not deleted.
std::int64_t NotedEvents(JournalStore& store, std::int64_t segment,
                         const std::vector<SeqRange>& ranges) {
  if (!store.hasNotes()) return 0;
  std::int64_t noted = 0;
  for (const auto& [first, last] : ranges) {
    StatementLease count = store.statement(
        "SELECT count(DISTINCT n.seq) FROM notes n WHERE n.segment_id = ?1 AND n.seq BETWEEN ?2 "
        "AND ?3 AND NOT EXISTS (SELECT 1 FROM note_versions v WHERE v.note = n.number "
        "AND v.deleted = 1)");
    count.bind(1, segment).bind(2, first).bind(3, last);
    count.step();
    noted += count.integer(0);
  }
  return noted;
}

std::int64_t Length(const std::vector<SeqRange>& ranges) {
  std::int64_t events = 0;
  for (const auto& [first, last] : ranges) events += last - first + 1;
  return events;
}

// Puts the device's notes that wait for their event onto the one event with
// their bytes among those the import added, where there is exactly one.
void Reattach(JournalStore& store, std::int64_t device, std::int64_t segment,
              const std::vector<SeqRange>& added) {
  StatementLease waiting = store.statement(
      "SELECT number, raw FROM notes WHERE device_id = ?1 AND segment_id IS NULL AND raw IS NOT "
      "NULL");
  waiting.bind(1, device);
  std::vector<std::pair<std::int64_t, EventRecord>> notes;
  while (waiting.step()) notes.emplace_back(waiting.integer(0), RecordOf(waiting.blob(1)));
  waiting.reset();
  for (const auto& [number, event] : notes) {
    const std::optional<std::string> stamp = EventTimestamp(event);
    StatementLease find = store.statement(std::string("SELECT seq FROM events WHERE ") +
                                          (stamp ? "timestamp = ?2" : "timestamp IS NULL") +
                                          " AND raw = ?1 AND +segment_id = ?3");
    find.bind(1, Bytes(event)).bind(3, segment);
    if (stamp) find.bind(2, std::string_view(*stamp));
    std::vector<std::int64_t> found;
    while (find.step()) {
      const std::int64_t seq = find.integer(0);
      if (std::any_of(added.begin(), added.end(),
                      [&](const SeqRange& r) { return seq >= r.first && seq <= r.second; })) {
        found.push_back(seq);
      }
    }
    find.reset();
    if (found.size() != 1) continue;
    store.statement("UPDATE notes SET segment_id = ?2, seq = ?3 WHERE number = ?1")
        .bind(1, number)
        .bind(2, segment)
        .bind(3, found.front())
        .run();
  }
}

}  // namespace

void ForgetImportChange(JournalStore& store, std::int64_t device) {
  if (!store.hasUndo()) return;
  store
      .statement(
          "DELETE FROM import_undo_parts WHERE import_id IN "
          "(SELECT import_id FROM import_undo WHERE device_id = ?1)")
      .bind(1, device)
      .run();
  store.statement("DELETE FROM import_undo WHERE device_id = ?1").bind(1, device).run();
}

void RecordImportChange(JournalStore& store, std::int64_t importId, std::int64_t device,
                        const ImportChange& change) {
  if (!store.hasUndo()) return;
  ForgetImportChange(store, device);
  const std::optional<SegmentRow> now = store.segment(change.segment);
  if (!now) return;
  Record record{importId, change.segment, now->firstSeq, now->lastSeq, change.prior, {}};
  for (const auto& [at, row] : change.joined) {
    if (row.id == change.segment) return;
    record.parts.push_back({at, row.rank, row.firstSeq, row.count, row.lastTimestamp});
  }
  const std::optional<std::vector<SeqRange>> added = AddedRanges(record);
  if (!added) return;

  StatementLease insert = store.statement(
      "INSERT INTO import_undo (import_id, device_id, segment_id, first_seq, last_seq, "
      "prior_rank, prior_first_seq, prior_last_seq, prior_last_timestamp) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  insert.bind(1, importId).bind(2, device).bind(3, record.segment);
  insert.bind(4, record.firstSeq).bind(5, record.lastSeq);
  if (record.prior) {
    insert.bind(6, record.prior->rank).bind(7, record.prior->firstSeq);
    insert.bind(8, record.prior->lastSeq).bind(9, record.prior->lastTimestamp);
  } else {
    insert.bindNull(6).bindNull(7).bindNull(8).bindNull(9);
  }
  insert.run();
  for (const JoinedPart& part : record.parts) {
    StatementLease row = store.statement(
        "INSERT INTO import_undo_parts (import_id, at_seq, rank, first_seq, event_count, "
        "last_timestamp) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    row.bind(1, importId).bind(2, part.at).bind(3, part.rank).bind(4, part.firstSeq);
    row.bind(5, part.count).bind(6, part.lastTimestamp);
    row.run();
  }
  if (store.hasNotes()) Reattach(store, device, record.segment, *added);
}

std::optional<UndoableImport> LastImport(JournalStore& store, const std::string& device) {
  const ReadSnapshot snapshot(store);
  const std::optional<std::int64_t> id = store.deviceId(device);
  if (!id) throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  const std::optional<Record> record = LoadRecord(store, *id);
  if (!record) return std::nullopt;
  const auto added = AddedRanges(*record);
  if (!added) return std::nullopt;
  StatementLease row = store.statement("SELECT archive, imported_at FROM imports WHERE id = ?1");
  row.bind(1, record->importId);
  if (!row.step()) return std::nullopt;
  UndoableImport last{record->importId, std::string(row.text(0)), std::string(row.text(1)),
                      Length(*added), 0};
  row.reset();
  last.notedEvents = NotedEvents(store, record->segment, *added);
  return last;
}

std::int64_t UndoLastImport(JournalStore& store, const std::string& device,
                            std::int64_t expectedImport, bool allowNotedEvents) {
  // Like an import, the undo starts from the journal as it is now.
  store.resetStatements();
  WriteTransaction transaction(store);
  store.lockDevices({device});
  const std::optional<std::int64_t> id = store.deviceId(device);
  if (!id) throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  const std::optional<Record> record = LoadRecord(store, *id);
  const std::optional<SegmentRow> segment = record ? store.segment(record->segment) : std::nullopt;
  const auto added = record ? AddedRanges(*record) : std::nullopt;
  // The segment is as the import left it unless something other than an
  // import changed it; then its record no longer tells how to undo it.
  if (!record || record->importId != expectedImport || !segment || !added ||
      segment->deviceId != *id || segment->firstSeq != record->firstSeq ||
      segment->lastSeq != record->lastSeq ||
      segment->count != record->lastSeq - record->firstSeq + 1) {
    throw JournalError{JournalError::Kind::kChanged, kMsgJournalChanged};
  }
  if (!allowNotedEvents && NotedEvents(store, record->segment, *added) > 0) {
    throw JournalError{JournalError::Kind::kNotedEvents, kMsgNotedEvents};
  }

  // The joined segments come back with their ranks and seqs, under new ids
  // (their old ones may have been given to segments made since); their
  // events move by an UPDATE, which carries their notes along.
  for (const JoinedPart& part : record->parts) {
    store
        .statement(
            "INSERT INTO segments (device_id, rank, first_seq, last_seq, event_count, "
            "last_timestamp) VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
        .bind(1, *id)
        .bind(2, part.rank)
        .bind(3, part.firstSeq)
        .bind(4, part.firstSeq + part.count - 1)
        .bind(5, part.count)
        .bind(6, part.lastTimestamp)
        .run();
    const std::int64_t restored = store.lastInsertId();
    store
        .statement(
            "UPDATE events SET segment_id = ?1, seq = seq + ?2 WHERE segment_id = ?3 "
            "AND seq BETWEEN ?4 AND ?5")
        .bind(1, restored)
        .bind(2, part.firstSeq - part.at)
        .bind(3, record->segment)
        .bind(4, part.at)
        .bind(5, part.at + part.count - 1)
        .run();
  }
  // The events the import added go; their notes stay and wait for them.
  for (const auto& [first, last] : *added) {
    if (store.hasNotes()) {
      store
          .statement(
              "UPDATE notes SET segment_id = NULL, seq = NULL WHERE segment_id = ?1 "
              "AND seq BETWEEN ?2 AND ?3")
          .bind(1, record->segment)
          .bind(2, first)
          .bind(3, last)
          .run();
    }
    store.statement("DELETE FROM events WHERE segment_id = ?1 AND seq BETWEEN ?2 AND ?3")
        .bind(1, record->segment)
        .bind(2, first)
        .bind(3, last)
        .run();
  }
  ForgetImportChange(store, *id);
  if (record->prior) {
    store.saveSegment(*record->prior);
  } else {
    store.statement("DELETE FROM segments WHERE id = ?1").bind(1, record->segment).run();
  }
  const std::string now = UtcMomentText(static_cast<std::int64_t>(std::time(nullptr)));
  store.statement("UPDATE imports SET undone_at = ?2 WHERE id = ?1")
      .bind(1, record->importId)
      .bind(2, std::string_view(now))
      .run();

  // A device that the import made is gone with it, unless notes keep it.
  StatementLease left = store.statement(
      store.hasNotes() ? "SELECT EXISTS (SELECT 1 FROM segments WHERE device_id = ?1) OR "
                         "EXISTS (SELECT 1 FROM notes WHERE device_id = ?1)"
                       : "SELECT EXISTS (SELECT 1 FROM segments WHERE device_id = ?1)");
  left.bind(1, *id);
  left.step();
  const bool kept = left.integer(0) != 0;
  left.reset();
  if (!kept) {
    store.statement("DELETE FROM imports WHERE device_id = ?1").bind(1, *id).run();
    store.statement("DELETE FROM devices WHERE id = ?1").bind(1, *id).run();
  }
  transaction.commit();
  return Length(*added);
}

}  // namespace veks
