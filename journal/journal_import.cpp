#include "journal/journal_import.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>
#include <map>
#include <vector>

#include "journal/device_names.h"
#include "journal/import_undo.h"
#include "journal/stitch.h"
#include "report/event_export.h"

namespace veks {
namespace {

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// How many events one statement looks up on a server: every looked-up event
// of a copy as long as the ring.
constexpr std::size_t kLookupsAtOnce = kSlotCount / kLookupStep + 1;

// The place of every event equal to one of kLookupsAtOnce (position,
// timestamp, raw) triples: rows of position, segment_id, seq.
const std::string& FindEventsText() {
  static const std::string sql = [] {
    std::string text = "SELECT k.at, e.segment_id, e.seq FROM (VALUES ";
    for (std::size_t i = 0; i < kLookupsAtOnce; ++i) {
      const std::string first = std::to_string(i * 3 + 1);
      text += (i == 0 ? "(?" : ", (?") + first + ", ?" + std::to_string(i * 3 + 2) + ", ?" +
              std::to_string(i * 3 + 3) + ")";
    }
    return text + ") AS k(at, stamp, raw) JOIN events e ON e.timestamp = k.stamp AND e.raw = k.raw";
  }();
  return sql;
}

// One import's work on the store: the segments it read, keyed by id, travel
// from the choice of device to the writing of the plan.
class Importer {
 public:
  explicit Importer(JournalStore& store) : store_(store) {}

  ImportOutcome import(const std::string& archive, std::span<const EventRecord> copy,
                       const std::optional<std::string>& deviceName);
  void joinSegment(std::int64_t device, std::int64_t segment);
  StitchedCopy stitch(std::int64_t device, std::span<const EventRecord> copy);
  std::string propose(const std::string& archive, std::span<const EventRecord> copy) {
    if (copy.empty()) return store_.freeDeviceName(DeviceNameForFile(archive));
    const ReadSnapshot snapshot(store_);
    return choose(archive, copy, std::nullopt).deviceName;
  }

 private:
  struct Choice {
    std::optional<std::int64_t> deviceId;  // none: a new device
    std::string deviceName;
    StitchPlan plan;
  };

  // The excerpts of the segments that can line up with the copy, by device;
  // with `onlyDevice`, of that device's segments alone.
  std::map<std::int64_t, std::vector<SegmentExcerpt>> excerptsByDevice(
      std::span<const EventRecord> copy, std::optional<std::int64_t> onlyDevice);
  Choice choose(const std::string& archive, std::span<const EventRecord> copy,
                const std::optional<std::string>& deviceName);
  std::vector<SegmentExcerpt> deviceExcerpts(std::span<const EventRecord> copy,
                                             std::int64_t device) {
    auto byDevice = excerptsByDevice(copy, device);
    auto found = byDevice.find(device);
    return found != byDevice.end() ? std::move(found->second) : std::vector<SegmentExcerpt>{};
  }
  // What writing a plan did: the events the history gained, where the
  // copy's first event stands now, and what it changed in the segments.
  struct Applied {
    std::int64_t gained = 0;
    EventPlace copyStart;
    ImportChange change;
  };
  Applied apply(std::int64_t deviceId, std::span<const EventRecord> copy, const StitchPlan& plan);

  JournalStore& store_;
  std::map<std::int64_t, SegmentRow> rows_;
};

std::map<std::int64_t, std::vector<SegmentExcerpt>> Importer::excerptsByDevice(
    std::span<const EventRecord> copy, std::optional<std::int64_t> onlyDevice) {
  // Where a segment can line up with the copy: every place where it holds
  // one of the copy's looked-up events (LookupPositions), each read for the
  // length of the copy. Segments shorter than the lookup step may hold none
  // of them although the copy holds them whole: those few are read whole.
  // Looking up a few events instead of every one keeps an import to a few
  // dozen index probes.
  const auto n = static_cast<std::int64_t>(copy.size());
  std::map<std::int64_t, std::vector<std::pair<std::int64_t, std::int64_t>>> windows;
  // Equal events have equal timestamps: looking an event up by its moment
  // first finds it in an index that new events join at its end, so an
  // import writes a few pages of it rather than one for every new event.
  // (`timestamp IS ?2` would say it in one text, but the server reads no
  // index for it.)
  StatementLease findStamped =
      store_.statement("SELECT segment_id, seq FROM events WHERE timestamp = ?2 AND raw = ?1");
  StatementLease findUnstamped =
      store_.statement("SELECT segment_id, seq FROM events WHERE timestamp IS NULL AND raw = ?1");
  // On a server each statement is a round trip: the stamped events are
  // looked up all at once instead.
  std::vector<std::int64_t> stamped;
  for (const std::int64_t at : LookupPositions(n)) {
    const EventRecord& e = copy[static_cast<std::size_t>(at)];
    const std::optional<std::string> stamp = EventTimestamp(e);
    if (stamp && store_.onServer()) {
      stamped.push_back(at);
      continue;
    }
    StatementLease& find = stamp ? findStamped : findUnstamped;
    find.reset();
    find.bind(1, Bytes(e));
    if (stamp) find.bind(2, std::string_view(*stamp));
    while (find.step()) {
      const std::int64_t start = find.integer(1) - at;  // seq where the copy would begin
      windows[find.integer(0)].emplace_back(start, start + n);
    }
  }
  for (std::size_t from = 0; from < stamped.size(); from += kLookupsAtOnce) {
    // Read through a cursor, whose plan is made anew each time: a plan kept
    // from when the journal was small would scan every event.
    StatementLease find = store_.statement(FindEventsText(), Rows::kMany);
    for (std::size_t i = 0; i < kLookupsAtOnce; ++i) {
      // The last one again fills the statement: a window found twice is
      // read once.
      const std::int64_t at = stamped[std::min(from + i, stamped.size() - 1)];
      const EventRecord& e = copy[static_cast<std::size_t>(at)];
      const int k = static_cast<int>(i) * 3;
      find.bind(k + 1, at).bind(k + 2, EventTimestamp(e)).bind(k + 3, Bytes(e));
    }
    while (find.step()) {
      const std::int64_t start = find.integer(2) - find.integer(0);
      windows[find.integer(1)].emplace_back(start, start + n);
    }
  }

  StatementLease shortOnes =
      store_.statement("SELECT id, first_seq, last_seq FROM segments WHERE event_count < ?1");
  shortOnes.bind(1, kLookupStep);
  while (shortOnes.step()) {
    windows[shortOnes.integer(0)].emplace_back(shortOnes.integer(1), shortOnes.integer(2) + 1);
  }

  std::map<std::int64_t, std::vector<SegmentExcerpt>> byDevice;
  StatementLease segment = store_.statement(
      "SELECT id, device_id, rank, first_seq, last_seq, event_count, last_timestamp "
      "FROM segments WHERE id = ?1");
  StatementLease read = store_.statement(
      "SELECT seq, raw FROM events WHERE segment_id = ?1 AND seq >= ?2 AND seq < ?3 ORDER BY seq");
  for (auto& [id, spans] : windows) {
    segment.reset();
    segment.bind(1, id);
    if (!segment.step()) continue;
    const SegmentRow row = ReadSegmentRow(segment);
    if (onlyDevice && row.deviceId != *onlyDevice) continue;
    std::sort(spans.begin(), spans.end());
    SegmentExcerpt excerpt{id, row.count, {}};
    for (std::size_t i = 0; i < spans.size();) {
      // Windows that touch are read as one run.
      std::int64_t from = std::max(spans[i].first, row.firstSeq);
      std::int64_t to = std::min(spans[i].second, row.lastSeq + 1);
      for (++i; i < spans.size() && spans[i].first <= to; ++i) {
        to = std::min(std::max(to, spans[i].second), row.lastSeq + 1);
      }
      if (from >= to) continue;
      read.reset();
      read.bind(1, id).bind(2, from).bind(3, to);
      EventRun run{from - row.firstSeq, {}};
      while (read.step()) run.events.push_back(RecordOf(read.blob(1)));
      excerpt.runs.push_back(std::move(run));
    }
    rows_[id] = row;
    byDevice[row.deviceId].push_back(std::move(excerpt));
  }
  // Ties between segments go to the one made first.
  for (auto& [device, excerpts] : byDevice) {
    std::sort(excerpts.begin(), excerpts.end(),
              [&](const auto& a, const auto& b) { return rows_[a.id].rank < rows_[b.id].rank; });
  }
  return byDevice;
}

Importer::Choice Importer::choose(const std::string& archive, std::span<const EventRecord> copy,
                                  const std::optional<std::string>& name) {
  if (name) {
    Choice choice{store_.deviceId(*name), *name, {}};
    choice.plan = PlanStitch(copy, choice.deviceId ? deviceExcerpts(copy, *choice.deviceId)
                                                   : std::vector<SegmentExcerpt>{});
    return choice;
  }
  auto byDevice = excerptsByDevice(copy, std::nullopt);
  // Devices by name, so that the refusal names them in byte order.
  std::vector<std::pair<std::string, std::int64_t>> devices;
  for (const auto& [id, excerpts] : byDevice) devices.emplace_back(store_.deviceName(id), id);
  std::sort(devices.begin(), devices.end());
  std::vector<Choice> involved;
  for (const auto& [deviceNameText, id] : devices) {
    Choice choice{id, deviceNameText, PlanStitch(copy, byDevice[id])};
    if (choice.plan.kind == StitchPlan::Kind::kAlreadyHeld ||
        choice.plan.kind == StitchPlan::Kind::kJoined) {
      involved.push_back(std::move(choice));
    }
  }
  if (involved.size() == 1) return std::move(involved.front());
  // Going to any one of them would leave the copy's events in two histories,
  // and to a new device in three: the operator says which (or joins them).
  if (involved.size() > 1) {
    JournalError error{JournalError::Kind::kManyDevices,
                       "Копия продолжает историю нескольких устройств: "};
    for (const Choice& choice : involved) {
      if (!error.devices.empty()) error.message += ", ";
      error.message += choice.deviceName;
      error.devices.push_back(choice.deviceName);
    }
    error.message += "; укажите устройство (--device)";
    throw error;
  }
  Choice fresh{std::nullopt, store_.freeDeviceName(DeviceNameForFile(archive)), {}};
  fresh.plan = PlanStitch(copy, {});
  return fresh;
}

// Writes the plan. The segments the copy holds whole are dropped last, as the
// same events as the copy's, so that their notes go to those.
Importer::Applied Importer::apply(std::int64_t device, std::span<const EventRecord> copy,
                                  const StitchPlan& plan) {
  const auto middle = copy.subspan(plan.newFrom, plan.newTo - plan.newFrom);
  if (plan.kind == StitchPlan::Kind::kNewSegment) {
    const std::int64_t id = store_.newSegment(device, 0, copy);
    return {static_cast<std::int64_t>(copy.size()), {id, 0}, {id, std::nullopt, {}}};
  }
  // The events of segments the copy holds whole are among the copy's own.
  Applied applied{static_cast<std::int64_t>(middle.size()), {}, {}};
  std::int64_t rank = INT64_MAX;
  for (const AbsorbedSegment& held : plan.absorbed) {
    applied.gained -= rows_[held.segment].count;
    rank = std::min(rank, rows_[held.segment].rank);
  }
  const std::optional<std::string> middleStamp = LastTimestamp(middle);
  if (plan.before) {
    SegmentRow host = rows_[plan.before->segment];
    applied.change = {host.id, host, {}};
    applied.copyStart = {host.id, host.lastSeq + 1 - plan.before->length};
    store_.insertEvents(host.id, host.lastSeq + 1, middle);
    host.lastSeq += static_cast<std::int64_t>(middle.size());
    host.count += static_cast<std::int64_t>(middle.size());
    if (middleStamp) host.lastTimestamp = middleStamp;
    if (plan.after) {
      const SegmentRow& tail = rows_[plan.after->segment];
      applied.change.joined.emplace_back(host.lastSeq + 1, tail);
      // The notes of the tail's events follow them (the notes' foreign key).
      store_.statement("UPDATE events SET segment_id = ?1, seq = seq + ?2 WHERE segment_id = ?3")
          .bind(1, host.id)
          .bind(2, host.lastSeq + 1 - tail.firstSeq)
          .bind(3, tail.id)
          .run();
      store_.statement("DELETE FROM segments WHERE id = ?1").bind(1, tail.id).run();
      host.lastSeq += tail.count;
      host.count += tail.count;
      if (tail.lastTimestamp) host.lastTimestamp = tail.lastTimestamp;
      rank = std::min(rank, tail.rank);
    }
    host.rank = std::min(rank, host.rank);
    store_.saveSegment(host);
  } else if (plan.after) {
    SegmentRow host = rows_[plan.after->segment];
    applied.change = {host.id, host, {}};
    host.firstSeq -= static_cast<std::int64_t>(middle.size());
    applied.copyStart = {host.id, host.firstSeq};
    store_.insertEvents(host.id, host.firstSeq, middle);
    host.count += static_cast<std::int64_t>(middle.size());
    if (!host.lastTimestamp) host.lastTimestamp = middleStamp;
    host.rank = std::min(rank, host.rank);
    store_.saveSegment(host);
  } else {
    // Only segments the copy holds whole: the copy takes their place.
    const std::int64_t id = store_.newSegment(device, 0, copy);
    store_.statement("UPDATE segments SET rank = ?2 WHERE id = ?1").bind(1, id).bind(2, rank).run();
    applied.copyStart = {id, 0};
    applied.change.segment = id;
  }
  for (const AbsorbedSegment& held : plan.absorbed) {
    applied.change.joined.emplace_back(applied.copyStart.seq + held.at, rows_[held.segment]);
    store_.dropSegment(held.segment, {applied.copyStart.segment, applied.copyStart.seq + held.at});
  }
  return applied;
}

ImportOutcome Importer::import(const std::string& archive, std::span<const EventRecord> copy,
                               const std::optional<std::string>& deviceName) {
  ImportOutcome outcome;
  if (copy.empty()) return outcome;
  // A statement of an earlier query still on a row keeps the connection on
  // the snapshot it began with; once another process has written since, the
  // write transaction could not begin ("database is locked", without the
  // busy wait). The import starts from the journal as it is now.
  store_.resetStatements();
  WriteTransaction transaction(store_);
  // An import of a named device waits only for writers of that device; one
  // that chooses its device by content reads every device and may make one.
  if (deviceName) {
    store_.lockDevices({*deviceName});
  } else {
    store_.lockJournal();
  }
  Choice choice = choose(archive, copy, deviceName);
  outcome.device = choice.deviceName;
  if (choice.plan.kind == StitchPlan::Kind::kAlreadyHeld) {
    outcome.kind = ImportOutcome::Kind::kAlreadyHeld;
    return outcome;  // nothing written: the transaction rolls back
  }
  bool hadHistory = false;
  if (!choice.deviceId) {
    store_.statement("INSERT INTO devices (name) VALUES (?1)")
        .bind(1, std::string_view(choice.deviceName))
        .run();
    choice.deviceId = store_.lastInsertId();
  } else {
    StatementLease any = store_.statement("SELECT 1 FROM segments WHERE device_id = ?1 LIMIT 1");
    hadHistory = any.bind(1, *choice.deviceId).step();
    any.reset();
    // The record of the device's last import names segments that this import
    // may join: it goes first.
    ForgetImportChange(store_, *choice.deviceId);
  }
  const Applied applied = apply(*choice.deviceId, copy, choice.plan);
  outcome.newEvents = applied.gained;
  outcome.kind = ImportOutcome::Kind::kAdded;
  outcome.newSegment = choice.plan.kind == StitchPlan::Kind::kNewSegment && hadHistory;
  outcome.joinedSegments = choice.plan.joinedSegments() >= 2;
  store_
      .statement(
          "INSERT INTO imports (device_id, archive, imported_at, copy_events, new_events) "
          "VALUES (?1, ?2, ?3, ?4, ?5)")
      .bind(1, *choice.deviceId)
      .bind(2, std::string_view(archive))
      .bind(3, std::string_view(UtcNow()))
      .bind(4, static_cast<std::int64_t>(copy.size()))
      .bind(5, outcome.newEvents)
      .run();
  RecordImportChange(store_, store_.lastInsertId(), *choice.deviceId, applied.change);
  transaction.commit();
  return outcome;
}

void Importer::joinSegment(std::int64_t device, std::int64_t segment) {
  std::vector<EventRecord> events;
  StatementLease read =
      store_.statement("SELECT raw FROM events WHERE segment_id = ?1 ORDER BY seq");
  read.bind(1, segment);
  while (read.step()) events.push_back(RecordOf(read.blob(0)));
  read.reset();
  const StitchPlan plan = PlanStitch(events, deviceExcerpts(events, device));
  switch (plan.kind) {
    case StitchPlan::Kind::kEmptyCopy:
      return;
    case StitchPlan::Kind::kNewSegment:
      // The segment moves as it is, its rank with it.
      store_.statement("UPDATE segments SET device_id = ?2 WHERE id = ?1")
          .bind(1, segment)
          .bind(2, device)
          .run();
      return;
    case StitchPlan::Kind::kAlreadyHeld: {
      const SegmentRow& holder = rows_[plan.heldBy];
      store_.dropSegment(segment, {holder.id, holder.firstSeq + plan.heldAt});
      return;
    }
    case StitchPlan::Kind::kJoined:
      // The segment ranks after every segment it joins (the caller saw to
      // that), so the plan's earliest rank is the earliest of all the parts.
      // It goes once its events stand in the device's history.
      store_.dropSegment(segment, apply(device, events, plan).copyStart);
      return;
  }
}

StitchedCopy Importer::stitch(std::int64_t device, std::span<const EventRecord> copy) {
  const StitchPlan plan = PlanStitch(copy, deviceExcerpts(copy, device));
  StitchedCopy done{plan.kind, plan.joinedSegments(), 0, {}};
  if (plan.kind == StitchPlan::Kind::kAlreadyHeld) {
    const SegmentRow& holder = rows_[plan.heldBy];
    done.start = {holder.id, holder.firstSeq + plan.heldAt};
  } else if (plan.kind != StitchPlan::Kind::kEmptyCopy) {
    const Applied applied = apply(device, copy, plan);
    done.gained = applied.gained;
    done.start = applied.copyStart;
  }
  return done;
}

}  // namespace

StitchedCopy StitchCopy(JournalStore& store, std::int64_t device,
                        std::span<const EventRecord> copy) {
  return Importer(store).stitch(device, copy);
}

void JoinSegment(JournalStore& store, std::int64_t device, std::int64_t segment) {
  Importer(store).joinSegment(device, segment);
}

ImportOutcome ImportCopy(JournalStore& store, const std::string& archive,
                         std::span<const EventRecord> copy,
                         const std::optional<std::string>& device) {
  return Importer(store).import(archive, copy, device);
}

std::string ProposeDevice(JournalStore& store, const std::string& archive,
                          std::span<const EventRecord> copy) {
  return Importer(store).propose(archive, copy);
}

}  // namespace veks
