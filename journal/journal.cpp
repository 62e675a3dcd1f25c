#include "journal/journal.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "journal/copy_events.h"
#include "journal/journal_schema.h"
#include "journal/sqlite.h"
#include "journal/stitch.h"
#include "report/event_export.h"

namespace veks {
namespace {

// How long an import waits for another one to finish its transaction.
constexpr int kBusyTimeoutMs = 30000;

struct SegmentRow {
  std::int64_t id = 0;
  std::int64_t deviceId = 0;
  std::int64_t rank = 0;
  std::int64_t firstSeq = 0;
  std::int64_t lastSeq = 0;
  std::int64_t count = 0;
  std::optional<std::string> lastTimestamp;
};

// A segments row read from the columns id, device_id, rank, first_seq,
// last_seq, event_count, last_timestamp.
SegmentRow ReadSegmentRow(const SqliteStatement& row) {
  return {row.integer(0),
          row.integer(1),
          row.integer(2),
          row.integer(3),
          row.integer(4),
          row.integer(5),
          row.isNull(6) ? std::nullopt : std::optional<std::string>(std::string(row.text(6)))};
}

std::span<const std::uint8_t> Bytes(const EventRecord& e) { return {e.data(), e.size()}; }

EventRecord RecordOf(std::span<const std::uint8_t> blob) {
  EventRecord e{};
  std::copy_n(blob.begin(), std::min(blob.size(), e.size()), e.begin());
  return e;
}

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// The timestamp of the newest event that has one.
std::optional<std::string> LastTimestamp(std::span<const EventRecord> events) {
  for (auto e = events.rbegin(); e != events.rend(); ++e) {
    if (auto stamp = EventTimestamp(*e)) return stamp;
  }
  return std::nullopt;
}

// Decodes UTF-8 one code point at a time; a byte that starts no valid
// sequence gives -1 and a length of 1.
int NextCodePoint(std::string_view text, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  length = 1;
  if (lead < 0x80) return lead;
  int need = 0;
  int cp = 0;
  int min = 0;
  if ((lead & 0xE0) == 0xC0) {
    need = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    need = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    need = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return -1;
  }
  if (at + static_cast<std::size_t>(need) >= text.size()) return -1;
  for (int i = 1; i <= need; ++i) {
    const unsigned char next = byte(at + static_cast<std::size_t>(i));
    if ((next & 0xC0) != 0x80) return -1;
    cp = cp << 6 | (next & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  length = static_cast<std::size_t>(need) + 1;
  return cp;
}

bool IsControl(int cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

// A device name made from a file name: control characters become "_" and
// bytes that are no UTF-8 become U+FFFD, so that every output can carry it.
std::string NameFromStem(const std::string& archive) {
  const std::string stem = std::filesystem::path(archive).stem().string();
  std::string name;
  for (std::size_t at = 0, length = 0; at < stem.size(); at += length) {
    const int cp = NextCodePoint(stem, at, length);
    if (cp < 0) {
      name += "\xEF\xBF\xBD";
    } else if (IsControl(cp)) {
      name += '_';
    } else {
      name.append(stem, at, length);
    }
  }
  return name.empty() ? std::string("архив") : name;
}

}  // namespace

std::string DeviceNameForFile(const std::string& archive) { return NameFromStem(archive); }

bool IsValidDeviceName(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t at = 0, length = 0; at < name.size(); at += length) {
    const int cp = NextCodePoint(name, at, length);
    if (cp < 0 || IsControl(cp)) return false;
  }
  return true;
}

std::optional<std::string> DefaultJournalPath(const char* xdgDataHome, const char* home) {
  const auto absolute = [](const char* dir) { return dir != nullptr && dir[0] == '/'; };
  std::filesystem::path base;
  if (absolute(xdgDataHome)) {
    base = xdgDataHome;
  } else if (absolute(home)) {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    return std::nullopt;
  }
  return (base / "veks12" / "journal.sqlite").string();
}

namespace {

template <typename Work>
auto Guarded(Work&& work) -> JournalResult<decltype(work())> {
  try {
    return work();
  } catch (const JournalError& error) {
    return error;
  } catch (const std::exception& error) {
    return JournalError{JournalError::Kind::kStorage,
                        std::string("Ошибка журнала: ") + error.what()};
  }
}

}  // namespace

class Journal::Storage {
 public:
  Storage(const std::string& path, int flags) : db_(path, flags) {
    // Another process may be writing (or making the file) just now: even the
    // first reads below wait for it.
    sqlite3_busy_timeout(db_.handle(), kBusyTimeoutMs);
    // The header was checked before the file was opened; the version is asked
    // again here because a newer program may have changed it since.
    if (db_.pragmaInteger("application_id") != kJournalApplicationId) {
      throw JournalError{JournalError::Kind::kNotJournal, kMsgNotAJournal};
    }
    if (db_.pragmaInteger("user_version") > kJournalSchemaVersion) {
      throw JournalError{JournalError::Kind::kNewerVersion, kMsgNewerJournal};
    }
    db_.exec("PRAGMA foreign_keys = ON");
    db_.exec("PRAGMA temp_store = MEMORY");
    if ((flags & SQLITE_OPEN_READWRITE) != 0) {
      // WAL keeps committed imports through a crash of the process; a power
      // loss may cost the last ones, never the file's integrity.
      db_.exec("PRAGMA synchronous = NORMAL");
      // An import probes the indexes at random places: it reads them through a
      // memory map and keeps them in a page cache of its size. Reading streams
      // the history and needs neither, so its memory stays small.
      db_.exec("PRAGMA mmap_size = 268435456");
      db_.exec("PRAGMA cache_size = -65536");
      if (db_.pragmaInteger("user_version") < kJournalSchemaVersion) MigrateJournal(db_);
    }
    // A journal of an older version opened for reading keeps its indexes.
    SqliteStatement indexes = db_.prepare("SELECT name FROM sqlite_master WHERE type = 'index'");
    while (indexes.step()) indexes_.emplace(indexes.text(0));
  }

  [[nodiscard]] bool hasIndex(std::string_view name) const { return indexes_.contains(name); }

  ImportOutcome import(const std::string& archive, const std::vector<EventRecord>& copy,
                       const std::optional<std::string>& deviceName);
  std::vector<DeviceSummary> devices();
  std::string proposedDevice(const std::string& archive, const std::vector<EventRecord>& copy) {
    if (copy.empty()) return freeDeviceName(NameFromStem(archive));
    db_.exec("BEGIN");
    const auto rollback = [&] {
      sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    };
    try {
      std::map<std::int64_t, SegmentRow> rows;
      std::string name = choose(archive, copy, std::nullopt, rows).deviceName;
      rollback();
      return name;
    } catch (...) {
      rollback();
      throw;
    }
  }
  std::int64_t forEachEvent(const EventFilter& filter, EventOrder order, const EventVisitor& visit);
  HistoryView::Layout layout(const EventFilter& filter);
  std::vector<HistoryRow> rows(const EventFilter& filter, const HistoryView::Layout& layout,
                               std::int64_t first, std::int64_t count);

 private:
  class FilterQuery;
  std::vector<std::pair<std::int64_t, std::string>> devicesOf(const EventFilter& filter);

  struct Choice {
    std::optional<std::int64_t> deviceId;  // none: a new device
    std::string deviceName;
    StitchPlan plan;
  };

  SqliteStatement& statement(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) found = statements_.emplace(sql, db_.prepare(sql)).first;
    found->second.reset();
    return found->second;
  }

  std::map<std::int64_t, std::vector<SegmentExcerpt>> excerptsByDevice(
      std::span<const EventRecord> copy, std::map<std::int64_t, SegmentRow>& rows);
  Choice choose(const std::string& archive, std::span<const EventRecord> copy,
                const std::optional<std::string>& deviceName,
                std::map<std::int64_t, SegmentRow>& rows);
  std::optional<std::int64_t> deviceId(const std::string& name);
  std::string deviceName(std::int64_t id);
  std::string freeDeviceName(const std::string& base);
  std::int64_t newSegment(std::int64_t deviceId, std::int64_t firstSeq,
                          std::span<const EventRecord> events);
  void insertEvents(std::int64_t segment, std::int64_t firstSeq,
                    std::span<const EventRecord> events);
  void saveSegment(const SegmentRow& row);
  void dropSegment(std::int64_t id);
  std::int64_t apply(std::int64_t deviceId, std::span<const EventRecord> copy,
                     const StitchPlan& plan, std::map<std::int64_t, SegmentRow>& rows);
  std::vector<SegmentRow> orderedSegments(std::int64_t deviceId);
  std::optional<std::string> edgeTimestamp(const std::vector<SegmentRow>& segments, bool first);

  SqliteDb db_;
  std::map<std::string, SqliteStatement> statements_;
  std::set<std::string, std::less<>> indexes_;
};

std::map<std::int64_t, std::vector<SegmentExcerpt>> Journal::Storage::excerptsByDevice(
    std::span<const EventRecord> copy, std::map<std::int64_t, SegmentRow>& rows) {
  // Where a segment can line up with the copy: every place where it holds
  // the copy's first or last event, or one of every kSampleStep of its events,
  // each read for the length of the copy. An overlap of either kind starts at
  // the copy's first event or ends at its last, and a segment the copy holds
  // whole holds a sampled event unless it is shorter than the step: those
  // few short segments are read whole. Looking up a sample instead of every
  // event keeps an import to a few dozen index probes.
  constexpr std::int64_t kSampleStep = 32;
  const auto n = static_cast<std::int64_t>(copy.size());
  std::map<std::int64_t, std::vector<std::pair<std::int64_t, std::int64_t>>> windows;
  // Equal events have equal timestamps: looking an event up by its moment
  // first finds it in an index that new events join at its end, so an
  // import writes a few pages of it rather than one for every new event.
  SqliteStatement& find =
      statement("SELECT segment_id, seq FROM events WHERE timestamp IS ?2 AND raw = ?1");
  const auto sample = [&](std::int64_t at) {
    find.reset();
    find.bind(1, Bytes(copy[static_cast<std::size_t>(at)]));
    find.bind(2, EventTimestamp(copy[static_cast<std::size_t>(at)]));
    while (find.step()) {
      const std::int64_t start = find.integer(1) - at;  // seq where the copy would begin
      windows[find.integer(0)].emplace_back(start, start + n);
    }
  };
  for (std::int64_t at = 0; at < n; at += kSampleStep) sample(at);
  if ((n - 1) % kSampleStep != 0) sample(n - 1);

  SqliteStatement& shortOnes =
      statement("SELECT id, first_seq, last_seq FROM segments WHERE event_count < ?1");
  shortOnes.bind(1, kSampleStep);
  while (shortOnes.step()) {
    windows[shortOnes.integer(0)].emplace_back(shortOnes.integer(1), shortOnes.integer(2) + 1);
  }

  std::map<std::int64_t, std::vector<SegmentExcerpt>> byDevice;
  SqliteStatement& segment = statement(
      "SELECT id, device_id, rank, first_seq, last_seq, event_count, last_timestamp "
      "FROM segments WHERE id = ?1");
  SqliteStatement& read = statement(
      "SELECT seq, raw FROM events WHERE segment_id = ?1 AND seq >= ?2 AND seq < ?3 ORDER BY seq");
  for (auto& [id, spans] : windows) {
    segment.reset();
    segment.bind(1, id);
    if (!segment.step()) continue;
    const SegmentRow row = ReadSegmentRow(segment);
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
    rows[id] = row;
    byDevice[row.deviceId].push_back(std::move(excerpt));
  }
  // Ties between segments go to the one made first.
  for (auto& [device, excerpts] : byDevice) {
    std::sort(excerpts.begin(), excerpts.end(),
              [&](const auto& a, const auto& b) { return rows[a.id].rank < rows[b.id].rank; });
  }
  return byDevice;
}

std::optional<std::int64_t> Journal::Storage::deviceId(const std::string& name) {
  SqliteStatement& find = statement("SELECT id FROM devices WHERE name = ?1");
  find.bind(1, std::string_view(name));
  if (!find.step()) return std::nullopt;
  return find.integer(0);
}

std::string Journal::Storage::deviceName(std::int64_t id) {
  SqliteStatement& find = statement("SELECT name FROM devices WHERE id = ?1");
  find.bind(1, id);
  return find.step() ? std::string(find.text(0)) : std::string();
}

std::string Journal::Storage::freeDeviceName(const std::string& base) {
  if (!deviceId(base)) return base;
  for (int n = 2;; ++n) {
    std::string name = base + " " + std::to_string(n);
    if (!deviceId(name)) return name;
  }
}

Journal::Storage::Choice Journal::Storage::choose(const std::string& archive,
                                                  std::span<const EventRecord> copy,
                                                  const std::optional<std::string>& name,
                                                  std::map<std::int64_t, SegmentRow>& rows) {
  auto byDevice = excerptsByDevice(copy, rows);
  if (name) {
    Choice choice{deviceId(*name), *name, {}};
    const std::vector<SegmentExcerpt> none;
    const auto held = choice.deviceId ? byDevice.find(*choice.deviceId) : byDevice.end();
    choice.plan = PlanStitch(copy, held != byDevice.end() ? held->second : none);
    return choice;
  }
  // Devices by name, so that a copy held by two devices goes to the first.
  std::vector<std::pair<std::string, std::int64_t>> devices;
  for (const auto& [id, excerpts] : byDevice) devices.emplace_back(deviceName(id), id);
  std::sort(devices.begin(), devices.end());
  std::vector<Choice> overlapping;
  for (const auto& [deviceNameText, id] : devices) {
    Choice choice{id, deviceNameText, PlanStitch(copy, byDevice[id])};
    if (choice.plan.kind == StitchPlan::Kind::kAlreadyHeld) return choice;
    if (choice.plan.kind == StitchPlan::Kind::kJoined) overlapping.push_back(std::move(choice));
  }
  if (overlapping.size() == 1) return std::move(overlapping.front());
  Choice fresh{std::nullopt, freeDeviceName(NameFromStem(archive)), {}};
  fresh.plan = PlanStitch(copy, {});
  return fresh;
}

void Journal::Storage::insertEvents(std::int64_t segment, std::int64_t firstSeq,
                                    std::span<const EventRecord> events) {
  SqliteStatement& insert = statement(
      "INSERT INTO events (segment_id, seq, raw, code, argument, timestamp, date, time, event, "
      "input) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  std::int64_t seq = firstSeq;
  for (const EventRecord& e : events) {
    const std::array<std::string, 4> texts = TrimmedEventTexts(e);
    insert.bind(1, segment).bind(2, seq++).bind(3, Bytes(e));
    insert.bind(4, std::int64_t{e[kCodeByte]}).bind(5, std::int64_t{e[kArgumentByte]});
    insert.bind(6, EventTimestamp(e));
    insert.bind(7, std::string_view(texts[3])).bind(8, std::string_view(texts[2]));
    insert.bind(9, std::string_view(texts[0])).bind(10, std::string_view(texts[1]));
    insert.run();
  }
}

std::int64_t Journal::Storage::newSegment(std::int64_t device, std::int64_t firstSeq,
                                          std::span<const EventRecord> events) {
  SqliteStatement& rank = statement("SELECT coalesce(max(rank), 0) + 1 FROM segments");
  rank.step();
  const std::int64_t nextRank = rank.integer(0);
  rank.reset();
  SqliteStatement& insert = statement(
      "INSERT INTO segments (device_id, rank, first_seq, last_seq, event_count, last_timestamp) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  insert.bind(1, device).bind(2, nextRank).bind(3, firstSeq);
  insert.bind(4, firstSeq + static_cast<std::int64_t>(events.size()) - 1);
  insert.bind(5, static_cast<std::int64_t>(events.size())).bind(6, LastTimestamp(events));
  insert.run();
  const std::int64_t id = sqlite3_last_insert_rowid(db_.handle());
  insertEvents(id, firstSeq, events);
  return id;
}

void Journal::Storage::saveSegment(const SegmentRow& row) {
  SqliteStatement& update = statement(
      "UPDATE segments SET rank = ?2, first_seq = ?3, last_seq = ?4, event_count = ?5, "
      "last_timestamp = ?6 WHERE id = ?1");
  update.bind(1, row.id).bind(2, row.rank).bind(3, row.firstSeq).bind(4, row.lastSeq);
  update.bind(5, row.count).bind(6, row.lastTimestamp);
  update.run();
}

void Journal::Storage::dropSegment(std::int64_t id) {
  statement("DELETE FROM events WHERE segment_id = ?1").bind(1, id).run();
  statement("DELETE FROM segments WHERE id = ?1").bind(1, id).run();
}

// Writes the plan; returns the number of events the history gained.
std::int64_t Journal::Storage::apply(std::int64_t device, std::span<const EventRecord> copy,
                                     const StitchPlan& plan,
                                     std::map<std::int64_t, SegmentRow>& rows) {
  const auto middle = copy.subspan(plan.newFrom, plan.newTo - plan.newFrom);
  if (plan.kind == StitchPlan::Kind::kNewSegment) {
    newSegment(device, 0, copy);
    return static_cast<std::int64_t>(copy.size());
  }
  // The events of segments the copy holds whole are among the copy's own.
  std::int64_t gained = static_cast<std::int64_t>(middle.size());
  std::int64_t rank = INT64_MAX;
  for (const std::int64_t id : plan.absorbed) {
    gained -= rows[id].count;
    rank = std::min(rank, rows[id].rank);
    dropSegment(id);
  }
  const std::optional<std::string> middleStamp = LastTimestamp(middle);
  if (plan.before) {
    SegmentRow host = rows[plan.before->segment];
    insertEvents(host.id, host.lastSeq + 1, middle);
    host.lastSeq += static_cast<std::int64_t>(middle.size());
    host.count += static_cast<std::int64_t>(middle.size());
    if (middleStamp) host.lastTimestamp = middleStamp;
    if (plan.after) {
      const SegmentRow& tail = rows[plan.after->segment];
      statement("UPDATE events SET segment_id = ?1, seq = seq + ?2 WHERE segment_id = ?3")
          .bind(1, host.id)
          .bind(2, host.lastSeq + 1 - tail.firstSeq)
          .bind(3, tail.id)
          .run();
      statement("DELETE FROM segments WHERE id = ?1").bind(1, tail.id).run();
      host.lastSeq += tail.count;
      host.count += tail.count;
      if (tail.lastTimestamp) host.lastTimestamp = tail.lastTimestamp;
      rank = std::min(rank, tail.rank);
    }
    host.rank = std::min(rank, host.rank);
    saveSegment(host);
  } else if (plan.after) {
    SegmentRow host = rows[plan.after->segment];
    host.firstSeq -= static_cast<std::int64_t>(middle.size());
    insertEvents(host.id, host.firstSeq, middle);
    host.count += static_cast<std::int64_t>(middle.size());
    if (!host.lastTimestamp) host.lastTimestamp = middleStamp;
    host.rank = std::min(rank, host.rank);
    saveSegment(host);
  } else {
    // Only segments the copy holds whole: the copy takes their place.
    const std::int64_t id = newSegment(device, 0, copy);
    statement("UPDATE segments SET rank = ?2 WHERE id = ?1").bind(1, id).bind(2, rank).run();
  }
  return gained;
}

ImportOutcome Journal::Storage::import(const std::string& archive,
                                       const std::vector<EventRecord>& copy,
                                       const std::optional<std::string>& deviceName) {
  ImportOutcome outcome;
  if (copy.empty()) return outcome;
  // A statement of an earlier query still on a row keeps the connection on
  // the snapshot it began with; once another process has written since, the
  // write transaction could not begin ("database is locked", without the
  // busy wait). The import starts from the journal as it is now.
  for (auto& [sql, statement] : statements_) statement.reset();
  SqliteTransaction transaction(db_);
  std::map<std::int64_t, SegmentRow> rows;
  Choice choice = choose(archive, copy, deviceName, rows);
  outcome.device = choice.deviceName;
  if (choice.plan.kind == StitchPlan::Kind::kAlreadyHeld) {
    outcome.kind = ImportOutcome::Kind::kAlreadyHeld;
    return outcome;  // nothing written: the transaction rolls back
  }
  bool hadHistory = false;
  if (!choice.deviceId) {
    statement("INSERT INTO devices (name) VALUES (?1)")
        .bind(1, std::string_view(choice.deviceName))
        .run();
    choice.deviceId = sqlite3_last_insert_rowid(db_.handle());
  } else {
    SqliteStatement& any = statement("SELECT 1 FROM segments WHERE device_id = ?1 LIMIT 1");
    hadHistory = any.bind(1, *choice.deviceId).step();
    any.reset();
  }
  outcome.newEvents = apply(*choice.deviceId, copy, choice.plan, rows);
  outcome.kind = ImportOutcome::Kind::kAdded;
  outcome.newSegment = choice.plan.kind == StitchPlan::Kind::kNewSegment && hadHistory;
  outcome.joinedSegments = choice.plan.joinedSegments() >= 2;
  statement(
      "INSERT INTO imports (device_id, archive, imported_at, copy_events, new_events) "
      "VALUES (?1, ?2, ?3, ?4, ?5)")
      .bind(1, *choice.deviceId)
      .bind(2, std::string_view(archive))
      .bind(3, std::string_view(UtcNow()))
      .bind(4, static_cast<std::int64_t>(copy.size()))
      .bind(5, outcome.newEvents)
      .run();
  transaction.commit();
  return outcome;
}

std::vector<SegmentRow> Journal::Storage::orderedSegments(std::int64_t device) {
  SqliteStatement& list = statement(
      "SELECT id, rank, first_seq, last_seq, event_count, last_timestamp FROM segments "
      "WHERE device_id = ?1 ORDER BY last_timestamp IS NULL, last_timestamp, rank");
  list.bind(1, device);
  std::vector<SegmentRow> segments;
  while (list.step()) {
    segments.push_back(
        {list.integer(0), device, list.integer(1), list.integer(2), list.integer(3),
         list.integer(4),
         list.isNull(5) ? std::nullopt : std::optional<std::string>(std::string(list.text(5)))});
  }
  return segments;
}

std::optional<std::string> Journal::Storage::edgeTimestamp(const std::vector<SegmentRow>& segments,
                                                           bool first) {
  // "+timestamp" keeps SQLite on the segment's own order instead of the
  // timestamp index, so that the search stops at the first stamped event.
  SqliteStatement& edge = statement(
      first ? "SELECT timestamp FROM events WHERE segment_id = ?1 AND +timestamp IS NOT NULL "
              "ORDER BY seq LIMIT 1"
            : "SELECT timestamp FROM events WHERE segment_id = ?1 AND +timestamp IS NOT NULL "
              "ORDER BY seq DESC LIMIT 1");
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const SegmentRow& s = segments[first ? i : segments.size() - 1 - i];
    edge.reset();
    edge.bind(1, s.id);
    if (edge.step()) return std::string(edge.text(0));
  }
  return std::nullopt;
}

std::vector<DeviceSummary> Journal::Storage::devices() {
  std::vector<std::pair<std::int64_t, std::string>> all;
  SqliteStatement& list = statement("SELECT id, name FROM devices ORDER BY name");
  while (list.step()) all.emplace_back(list.integer(0), std::string(list.text(1)));
  std::vector<DeviceSummary> summaries;
  for (const auto& [id, name] : all) {
    const std::vector<SegmentRow> segments = orderedSegments(id);
    DeviceSummary summary{name, 0, static_cast<std::int64_t>(segments.size()), {}, {}};
    for (const SegmentRow& s : segments) summary.events += s.count;
    summary.firstTimestamp = edgeTimestamp(segments, true);
    summary.lastTimestamp = edgeTimestamp(segments, false);
    summaries.push_back(std::move(summary));
  }
  return summaries;
}

std::vector<std::pair<std::int64_t, std::string>> Journal::Storage::devicesOf(
    const EventFilter& filter) {
  std::vector<std::pair<std::int64_t, std::string>> devices;
  if (filter.device) {
    const auto id = deviceId(*filter.device);
    if (!id) throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
    devices.emplace_back(*id, *filter.device);
  } else {
    SqliteStatement& list = statement("SELECT id, name FROM devices ORDER BY name");
    while (list.step()) devices.emplace_back(list.integer(0), std::string(list.text(1)));
  }
  return devices;
}

// The statements that read the events of one segment that pass a filter. The
// filters given make a statement's shape; their values are bound.
class Journal::Storage::FilterQuery {
 public:
  FilterQuery(Storage& storage, const EventFilter& filter)
      : storage_(storage),
        filter_(filter),
        fromBound_(filter.fromDate.value_or("")),
        toBound_(filter.toDate ? *filter.toDate + "T23:59:59" : std::string()) {}

  [[nodiscard]] bool filters() const {
    return filter_.fromDate || filter_.toDate || filter_.input || filter_.eventText;
  }

  // `via` names the index that finds the rows, or none for the segment's own
  // order; a column written "+column" is kept from choosing an index itself.
  [[nodiscard]] std::string sql(const std::string& select, const char* via,
                                const char* tail = "") const {
    const std::string index = via != nullptr ? via : "";
    std::string sql = select + " FROM events" +
                      (via != nullptr ? " INDEXED BY " + index : std::string()) +
                      " WHERE segment_id = ?1";
    const auto column = [&](const char* name, const char* owner) {
      return std::string(index == owner ? "" : "+") + name;
    };
    if (filter_.fromDate) sql += " AND " + column("timestamp", "events_timestamp") + " >= ?2";
    if (filter_.toDate) sql += " AND " + column("timestamp", "events_timestamp") + " <= ?3";
    if (filter_.input) {
      sql += " AND " + column("argument", "events_argument") + " = ?4 AND code <= 4";
    }
    if (filter_.eventText) sql += " AND " + column("event", "events_event") + " = ?5";
    return sql + tail;
  }

  SqliteStatement& prepare(const std::string& sql, std::int64_t segment) {
    SqliteStatement& statement = storage_.statement(sql);
    statement.bind(1, segment);
    if (filter_.fromDate) statement.bind(2, std::string_view(fromBound_));
    if (filter_.toDate) statement.bind(3, std::string_view(toBound_));
    if (filter_.input) statement.bind(4, std::int64_t{*filter_.input});
    if (filter_.eventText) statement.bind(5, std::string_view(*filter_.eventText));
    return statement;
  }

  // How a segment's events that pass are found: through `index`, or in the
  // segment's own order when none. The probe that chooses an index counts the
  // rows it leaves, so `count` comes with it.
  struct Plan {
    const char* index = nullptr;
    std::optional<std::int64_t> count;
  };

  // An index pays when it leaves few rows to fetch and sort; otherwise the
  // segment is read in its own order and the filters are checked row by row.
  Plan plan(const SegmentRow& segment) {
    const std::int64_t few = std::max<std::int64_t>(1000, segment.count / 8);
    const std::pair<const char*, bool> candidates[] = {
        {"events_timestamp", filter_.fromDate || filter_.toDate},
        {"events_argument", filter_.input.has_value()},
        {"events_event", filter_.eventText.has_value()}};
    for (const auto& [index, applies] : candidates) {
      if (!applies || !storage_.hasIndex(index)) continue;
      SqliteStatement& count =
          prepare("SELECT count(*) FROM (" + sql("SELECT 1", index, " LIMIT ?6") + ")", segment.id);
      count.bind(6, few);
      count.step();
      const std::int64_t found = count.integer(0);
      // Fewer than the limit: the probe counted every row that passes.
      if (found < few) return {index, found};
    }
    return {};
  }

  // How many of the segment's events pass.
  std::int64_t count(const SegmentRow& segment, const Plan& plan) {
    if (!filters()) return segment.count;
    if (plan.count) return *plan.count;
    SqliteStatement& count = prepare(sql("SELECT count(*)", plan.index), segment.id);
    count.step();
    return count.integer(0);
  }

 private:
  Storage& storage_;
  const EventFilter& filter_;
  std::string fromBound_;
  std::string toBound_;
};

std::int64_t Journal::Storage::forEachEvent(const EventFilter& filter, EventOrder order,
                                            const EventVisitor& visit) {
  FilterQuery query(*this, filter);
  const char* const direction =
      order == EventOrder::kOldestFirst ? " ORDER BY seq" : " ORDER BY seq DESC";
  std::int64_t visited = 0;
  for (const auto& [device, name] : devicesOf(filter)) {
    const std::vector<SegmentRow> segments = orderedSegments(device);
    for (std::size_t i = 0; i < segments.size(); ++i) {
      const std::size_t at = order == EventOrder::kOldestFirst ? i : segments.size() - 1 - i;
      SqliteStatement& rows = query.prepare(
          query.sql("SELECT raw", query.plan(segments[at]).index, direction), segments[at].id);
      JournalEvent event{name, static_cast<int>(at + 1), {}};
      while (rows.step()) {
        event.raw = RecordOf(rows.blob(0));
        ++visited;
        if (!visit(event)) {
          rows.reset();
          return visited;
        }
      }
    }
  }
  return visited;
}

HistoryView::Layout Journal::Storage::layout(const EventFilter& filter) {
  const auto devices = devicesOf(filter);
  if (devices.size() != 1) {
    throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  }
  FilterQuery query(*this, filter);
  HistoryView::Layout layout;
  const std::vector<SegmentRow> segments = orderedSegments(devices.front().first);
  // Newest first: the last segment's events lead.
  for (std::size_t i = segments.size(); i-- > 0;) {
    const FilterQuery::Plan plan = query.plan(segments[i]);
    const std::int64_t events = query.count(segments[i], plan);
    if (events == 0) continue;
    if (!layout.parts.empty()) ++layout.rows;  // the gap row before an older segment
    layout.parts.push_back({segments[i].id, static_cast<int>(i + 1), segments[i].lastSeq,
                            layout.rows, events, plan.index});
    layout.rows += events;
    layout.events += events;
  }
  return layout;
}

std::vector<HistoryRow> Journal::Storage::rows(const EventFilter& filter,
                                               const HistoryView::Layout& layout,
                                               std::int64_t first, std::int64_t count) {
  FilterQuery query(*this, filter);
  std::vector<HistoryRow> rows;
  const std::int64_t end = std::min(layout.rows, first + count);
  for (std::size_t p = 0; p < layout.parts.size() && first < end; ++p) {
    const HistoryView::Part& part = layout.parts[p];
    if (p > 0 && first == part.firstRow - 1) {
      rows.push_back({true, part.segment, {}});
      ++first;
    }
    const std::int64_t partEnd = part.firstRow + part.events;
    if (first >= partEnd || first >= end) continue;
    // Newest first within the part: offset counts from the part's newest event.
    const std::int64_t offset = first - part.firstRow;
    const std::int64_t take = std::min(end, partEnd) - first;
    std::vector<EventRecord> events;
    events.reserve(static_cast<std::size_t>(take));
    if (!query.filters()) {
      // Every event passes and seq runs without gaps: the place is arithmetic.
      SqliteStatement& read = statement(
          "SELECT raw FROM events WHERE segment_id = ?1 AND seq <= ?2 ORDER BY seq DESC LIMIT ?3");
      read.bind(1, part.segmentId).bind(2, part.lastSeq - offset).bind(3, take);
      while (read.step()) events.push_back(RecordOf(read.blob(0)));
    } else {
      // Skipping rows costs their reading: read from the nearer end.
      const std::int64_t fromOldest = part.events - offset - take;
      const bool backwards = fromOldest < offset;
      SqliteStatement& read =
          query.prepare(query.sql("SELECT raw", part.index,
                                  backwards ? " ORDER BY seq LIMIT ?6 OFFSET ?7"
                                            : " ORDER BY seq DESC LIMIT ?6 OFFSET ?7"),
                        part.segmentId);
      read.bind(6, take).bind(7, backwards ? fromOldest : offset);
      while (read.step()) events.push_back(RecordOf(read.blob(0)));
      if (backwards) std::reverse(events.begin(), events.end());
    }
    for (const EventRecord& e : events) rows.push_back({false, part.segment, e});
    first += take;
  }
  return rows;
}

JournalResult<std::unique_ptr<HistoryView>> Journal::view(const EventFilter& filter) {
  return Guarded([&] {
    return std::unique_ptr<HistoryView>(
        new HistoryView(*storage_, filter, storage_->layout(filter)));
  });
}

HistoryView::HistoryView(Journal::Storage& storage, EventFilter filter, Layout layout)
    : storage_(storage), filter_(std::move(filter)), layout_(std::move(layout)) {}

JournalResult<std::vector<HistoryRow>> HistoryView::rows(std::int64_t first, std::int64_t count) {
  return Guarded([&] { return storage_.rows(filter_, layout_, first, count); });
}

std::string ImportOutcomeText(const ImportOutcome& outcome) {
  switch (outcome.kind) {
    case ImportOutcome::Kind::kEmptyCopy:
      return "архив пуст";
    case ImportOutcome::Kind::kAlreadyHeld:
      return outcome.device + ": уже в журнале";
    case ImportOutcome::Kind::kAdded:
      break;
  }
  std::string text = outcome.device + ": новых событий: " + std::to_string(outcome.newEvents);
  if (outcome.newSegment) text += "; новый участок, возможен пропуск событий";
  if (outcome.joinedSegments) text += "; участки объединены";
  return text;
}

// ---- the public face: no exception leaves it ----

Journal::Journal(std::unique_ptr<Storage> storage) : storage_(std::move(storage)) {}
Journal::~Journal() = default;

JournalResult<std::unique_ptr<Journal>> Journal::Open(const std::string& path, Access access) {
  return Guarded([&]() -> std::unique_ptr<Journal> {
    std::error_code ec;
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    if (!exists && access == Access::kRead) {
      throw JournalError{JournalError::Kind::kMissing, kMsgJournalMissing};
    }
    if (!exists) CreateJournalFile(path);
    // Nothing may write to a file that is not ours, not even SQLite's header.
    switch (InspectJournalFile(path)) {
      case JournalFileKind::kJournal:
        break;
      case JournalFileKind::kNewer:
        throw JournalError{JournalError::Kind::kNewerVersion, kMsgNewerJournal};
      case JournalFileKind::kNotJournal:
        throw JournalError{JournalError::Kind::kNotJournal, kMsgNotAJournal};
    }
    const int flags = access == Access::kRead ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    return std::unique_ptr<Journal>(new Journal(std::make_unique<Storage>(path, flags)));
  });
}

JournalResult<ImportOutcome> Journal::importArchive(const std::string& archive,
                                                    const std::optional<std::string>& device) {
  auto read = ReadCopyEvents(archive);
  if (const auto* error = std::get_if<CopyReadError>(&read)) {
    return JournalError{JournalError::Kind::kArchive, error->message};
  }
  const auto& events = std::get<std::vector<EventRecord>>(read);
  return Guarded([&] { return storage_->import(archive, events, device); });
}

JournalResult<std::string> Journal::proposedDevice(const std::string& archive) {
  auto read = ReadCopyEvents(archive);
  if (const auto* error = std::get_if<CopyReadError>(&read)) {
    return JournalError{JournalError::Kind::kArchive, error->message};
  }
  const auto& events = std::get<std::vector<EventRecord>>(read);
  return Guarded([&] { return storage_->proposedDevice(archive, events); });
}

JournalResult<std::vector<DeviceSummary>> Journal::devices() {
  return Guarded([&] { return storage_->devices(); });
}

JournalResult<std::int64_t> Journal::forEachEvent(const EventFilter& filter, EventOrder order,
                                                  const EventVisitor& visit) {
  return Guarded([&]() -> std::int64_t {
    const std::int64_t visited = storage_->forEachEvent(filter, order, visit);
    if (visited == 0) throw JournalError{JournalError::Kind::kNoEvents, kMsgJournalNoEvents};
    return visited;
  });
}

}  // namespace veks
