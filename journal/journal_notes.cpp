#include "journal/journal_notes.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <random>
#include <tuple>

#include "journal/device_names.h"
#include "journal/event_query.h"
#include "report/event_export.h"

namespace veks {
namespace {

// One committed state for a read; within a transaction already begun (an
// outer read's), that one's.
class ReadState {
 public:
  explicit ReadState(JournalStore& store) : store_(store) {
    if (store.inTransaction()) return;
    store.resetStatements();
    snapshot_.emplace(store);
  }
  ~ReadState() {
    if (!snapshot_) return;
    store_.resetStatements();
  }
  ReadState(const ReadState&) = delete;
  ReadState& operator=(const ReadState&) = delete;

 private:
  JournalStore& store_;
  std::optional<ReadSnapshot> snapshot_;
};

// The number of `count` ASCII digits at `at`, or -1.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::string NewUuid() {
  std::random_device random;
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t word = random();
    for (std::size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122's variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

JournalError Error(JournalError::Kind kind, std::string message) {
  return JournalError{kind, std::move(message)};
}

// The place of the device's event `event`: the one at `place`, which must
// hold it, or the only one with those bytes.
EventPlace FindEvent(JournalStore& store, std::int64_t device, const EventRecord& event,
                     const std::optional<EventPlace>& place) {
  if (place) {
    StatementLease at = store.statement(
        "SELECT e.raw, s.device_id FROM events e JOIN segments s ON s.id = e.segment_id "
        "WHERE e.segment_id = ?1 AND e.seq = ?2");
    at.bind(1, place->segment).bind(2, place->seq);
    if (!at.step() || at.integer(1) != device || at.blob(0).size() != event.size() ||
        RecordOf(at.blob(0)) != event) {
      throw Error(JournalError::Kind::kNoSuchEvent, kMsgNoSuchEvent);
    }
    return *place;
  }
  // Equal events have equal timestamps: the moment index finds them.
  const std::optional<std::string> stamp = EventTimestamp(event);
  StatementLease find = store.statement(
      std::string("SELECT e.segment_id, e.seq FROM events e JOIN segments s ON s.id = e.segment_id "
                  "WHERE ") +
      (stamp ? "e.timestamp = ?2" : "e.timestamp IS NULL") +
      " AND e.raw = ?1 AND s.device_id = ?3");
  find.bind(1, Bytes(event)).bind(3, device);
  if (stamp) find.bind(2, std::string_view(*stamp));
  std::vector<EventPlace> found;
  while (find.step()) found.push_back({find.integer(0), find.integer(1)});
  if (found.empty()) throw Error(JournalError::Kind::kNoSuchEvent, kMsgNoSuchEvent);
  if (found.size() > 1) {
    throw Error(JournalError::Kind::kRepeatedEvent,
                AmbiguousEventText(static_cast<std::int64_t>(found.size())));
  }
  return found.front();
}

void InsertVersion(JournalStore& store, std::int64_t number, std::int64_t version,
                   const std::string& kind, const std::string& text, const NoteSignature& signature,
                   bool deleted) {
  const std::string written = UtcMomentText(signature.written);
  StatementLease insert = store.statement(
      "INSERT INTO note_versions (note, version, kind, text, author, written, deleted) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  insert.bind(1, number).bind(2, version).bind(3, std::string_view(kind));
  insert.bind(4, std::string_view(text)).bind(5, std::string_view(signature.author));
  insert.bind(6, std::string_view(written)).bind(7, std::int64_t{deleted ? 1 : 0});
  insert.run();
}

// A note as stored, with every version (oldest first).
struct StoredNote {
  std::int64_t number = 0;
  std::int64_t deviceId = 0;
  std::optional<EventPlace> event;  // where its event stands
  std::vector<NoteVersion> versions;
};

// Notes with their versions and device; a WHERE and "ORDER BY n.number,
// v.version" follow.
constexpr const char* kNoteRows =
    "SELECT n.number, n.device_id, d.name, n.segment_id, n.seq, n.raw, n.at, v.version, v.kind, "
    "v.text, v.author, v.written, v.deleted FROM notes n "
    "JOIN note_versions v ON v.note = n.number JOIN devices d ON d.id = n.device_id ";

std::vector<StoredNote> ReadStored(StatementLease& rows) {
  std::vector<StoredNote> notes;
  while (rows.step()) {
    if (notes.empty() || notes.back().number != rows.integer(0)) {
      StoredNote note{rows.integer(0), rows.integer(1), std::nullopt, {}};
      if (!rows.isNull(3)) note.event = EventPlace{rows.integer(3), rows.integer(4)};
      notes.push_back(std::move(note));
    }
    NoteVersion v;
    v.number = rows.integer(0);
    v.version = rows.integer(7);
    v.device = std::string(rows.text(2));
    if (!rows.isNull(5)) v.event = RecordOf(rows.blob(5));
    if (!rows.isNull(6)) v.moment = std::string(rows.text(6));
    v.kind = std::string(rows.text(8));
    v.text = std::string(rows.text(9));
    v.author = std::string(rows.text(10));
    v.written = std::string(rows.text(11));
    v.deleted = rows.integer(12) != 0;
    v.place = notes.back().event;
    notes.back().versions.push_back(std::move(v));
  }
  return notes;
}

// The versions a listing shows of a note: every one with `history`; else the
// newest, unless the note is deleted.
std::span<const NoteVersion> Shown(const StoredNote& note, bool history) {
  if (history) return note.versions;
  const auto& all = note.versions;
  if (all.empty() || std::any_of(all.begin(), all.end(), [](auto& v) { return v.deleted; })) {
    return {};
  }
  // The newest is the one written last: a merge may number a version
  // written elsewhere after one written later here.
  const auto newest = std::max_element(all.begin(), all.end(), [](auto& a, auto& b) {
    return std::tie(a.written, a.version) < std::tie(b.written, b.version);
  });
  return {&*newest, 1};
}

bool InDates(const NoteVersion& note, const std::optional<std::string>& from,
             const std::optional<std::string>& to) {
  if (!from && !to) return true;
  const std::optional<std::string> moment = note.event ? EventTimestamp(*note.event) : note.moment;
  if (!moment) return false;
  const std::string date = moment->substr(0, 10);
  return (!from || date >= *from) && (!to || date <= *to);
}

// Where notes stand in one device's history, in the state being read.
class DevicePlaces {
 public:
  DevicePlaces(JournalStore& store, std::int64_t device)
      : segments_(store.orderedSegments(device)),
        lastStamped_(store.statement(
            "SELECT seq FROM events WHERE segment_id = ?1 AND +timestamp IS NOT NULL "
            "ORDER BY seq DESC LIMIT 1")),
        stamped_(store.statement("SELECT timestamp, seq FROM events INDEXED BY events_timestamp "
                                 "WHERE segment_id = ?1 AND timestamp <= ?2 ORDER BY timestamp")) {
    for (std::size_t i = 0; i < segments_.size(); ++i)
      numbers_[segments_[i].id] = static_cast<int>(i) + 1;
  }

  // Sets the notes' places, and their segments' numbers. An entry follows
  // the last event, in the device's order, whose timestamp is not later than
  // its moment. Segments are in order of their last timestamps, so the first
  // one from the end whose last timestamp is not later holds the answer in
  // its last stamped event, unless a later one holds an earlier event.
  void place(std::span<NoteVersion* const> notes) {
    std::vector<NoteVersion*> pending;
    for (NoteVersion* note : notes) {
      if (note->moment && !note->place) pending.push_back(note);
    }
    std::sort(pending.begin(), pending.end(),
              [](const NoteVersion* a, const NoteVersion* b) { return *a->moment < *b->moment; });
    for (auto s = segments_.rbegin(); s != segments_.rend() && !pending.empty(); ++s) {
      if (!s->lastTimestamp) continue;
      // The entries from `whole` on are not earlier than the segment's end.
      const auto whole = std::partition_point(pending.begin(), pending.end(), [&](auto* note) {
        return *note->moment < *s->lastTimestamp;
      });
      if (whole != pending.end()) {
        lastStamped_.reset();
        lastStamped_.bind(1, s->id);
        if (lastStamped_.step()) {
          for (auto note = whole; note != pending.end(); ++note)
            (*note)->place = EventPlace{s->id, lastStamped_.integer(0)};
        }
      }
      // The earlier ones in one pass over the segment's events by time: each
      // takes the latest event of those not later than its moment.
      if (whole != pending.begin()) {
        stamped_.reset();
        stamped_.bind(1, s->id).bind(2, std::string_view(*(*(whole - 1))->moment));
        std::optional<std::int64_t> latest;
        auto next = pending.begin();
        while (stamped_.step()) {
          const std::string_view stamp = stamped_.text(0);
          for (; next != whole && std::string_view(*(*next)->moment) < stamp; ++next) {
            if (latest) (*next)->place = EventPlace{s->id, *latest};
          }
          // Events joined before a segment's first have negative seqs.
          const std::int64_t seq = stamped_.integer(1);
          latest = latest ? std::max(*latest, seq) : seq;
        }
        for (; next != whole; ++next) {
          if (latest) (*next)->place = EventPlace{s->id, *latest};
        }
      }
      std::erase_if(pending, [](const NoteVersion* note) { return note->place.has_value(); });
    }
    for (NoteVersion* note : notes) {
      const auto found = note->place ? numbers_.find(note->place->segment) : numbers_.end();
      note->segment = found != numbers_.end() ? found->second : 0;
    }
  }
  void place(NoteVersion& note) {
    NoteVersion* one = &note;
    place(std::span(&one, 1));
  }

 private:
  std::vector<SegmentRow> segments_;
  std::map<std::int64_t, int> numbers_;
  StatementLease lastStamped_;
  StatementLease stamped_;
};

// The order of notes within a device: place, event notes before entries,
// entries by moment, then number.
using NoteKey = std::tuple<int, std::int64_t, bool, std::string, std::int64_t>;

NoteKey KeyOf(const NoteVersion& note) {
  return {note.segment, note.place ? note.place->seq : 0, note.moment.has_value(),
          note.moment.value_or(""), note.number};
}

}  // namespace

std::string AmbiguousEventText(std::int64_t count) {
  return "Событие неоднозначно: " + std::to_string(count) + " одинаковых событий";
}

bool IsValidNoteMoment(std::string_view m) {
  if (m.size() != 19 || m[4] != '-' || m[7] != '-' || m[10] != 'T' || m[13] != ':' ||
      m[16] != ':') {
    return false;
  }
  const int year = Digits(m, 0, 4), month = Digits(m, 5, 2), day = Digits(m, 8, 2);
  const int hour = Digits(m, 11, 2), minute = Digits(m, 14, 2), second = Digits(m, 17, 2);
  return year >= 2000 && year <= 2099 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 &&
         minute <= 59 && second >= 0 && second <= 59;
}

std::string UtcMomentText(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::optional<std::int64_t> UtcMomentSeconds(std::string_view t) {
  if (t.size() != 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
      t[16] != ':' || t[19] != 'Z') {
    return std::nullopt;
  }
  const int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
  const int hour = Digits(t, 11, 2), minute = Digits(t, 14, 2), second = Digits(t, 17, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || minute < 0 ||
      second < 0) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::int64_t AddNote(JournalStore& store, const NoteTarget& target, const std::string& kind,
                     const std::string& text, const NoteSignature& signature) {
  const bool entry = target.moment.has_value();
  if (entry == target.event.has_value() || (entry && !IsValidNoteMoment(*target.moment)) ||
      (target.place && !target.event) || !IsValidNoteLabel(kind) || !IsValidNoteText(text) ||
      !IsValidNoteLabel(signature.author)) {
    throw Error(JournalError::Kind::kBadNote, kMsgBadNote);
  }
  // Like an import, the note starts from the journal as it is now.
  store.resetStatements();
  WriteTransaction transaction(store);
  // Imports of the device move its events, and their notes with them.
  store.lockDevices({target.device});
  const std::optional<std::int64_t> device = store.deviceId(target.device);
  if (!device) throw Error(JournalError::Kind::kUnknownDevice, kMsgUnknownDevice);
  StatementLease insert = store.statement(
      "INSERT INTO notes (uuid, device_id, segment_id, seq, raw, at) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  const std::string uuid = NewUuid();
  insert.bind(1, std::string_view(uuid)).bind(2, *device).bind(6, target.moment);
  if (target.event) {
    const EventPlace place = FindEvent(store, *device, *target.event, target.place);
    insert.bind(3, place.segment).bind(4, place.seq).bind(5, Bytes(*target.event));
  } else {
    insert.bindNull(3).bindNull(4).bindNull(5);
  }
  insert.run();
  const std::int64_t number = store.lastInsertId();
  InsertVersion(store, number, 1, kind, text, signature, false);
  transaction.commit();
  return number;
}

std::int64_t AddNoteVersion(JournalStore& store, std::int64_t number,
                            const std::optional<std::string>& kind,
                            const std::optional<std::string>& text,
                            const NoteSignature& signature) {
  if ((kind && !IsValidNoteLabel(*kind)) || (text && !IsValidNoteText(*text)) ||
      !IsValidNoteLabel(signature.author)) {
    throw Error(JournalError::Kind::kBadNote, kMsgBadNote);
  }
  store.resetStatements();
  WriteTransaction transaction(store);
  // Versions of a note are numbered one after the other, whichever client
  // writes them.
  store.lockNote(number);
  // The newest version as a listing shows it (written last); a delete among
  // the versions, wherever a merge numbered it, ends the note.
  StatementLease newest = store.statement(
      "SELECT (SELECT max(version) FROM note_versions WHERE note = ?1), kind, text, "
      "(SELECT max(deleted) FROM note_versions WHERE note = ?1) FROM note_versions "
      "WHERE note = ?1 ORDER BY written DESC, version DESC LIMIT 1");
  newest.bind(1, number);
  if (!newest.step()) throw Error(JournalError::Kind::kNoSuchNote, kMsgNoSuchNote);
  if (newest.integer(3) != 0) throw Error(JournalError::Kind::kNoteDeleted, kMsgNoteDeleted);
  const std::int64_t version = newest.integer(0) + 1;
  const std::string keptKind(newest.text(1)), keptText(newest.text(2));
  newest.reset();
  InsertVersion(store, number, version, kind.value_or(keptKind), text.value_or(keptText), signature,
                !text);
  transaction.commit();
  return version;
}

std::vector<NoteVersion> ReadNotes(JournalStore& store, const NoteFilter& filter) {
  const ReadState state(store);
  EventFilter devices;
  devices.device = filter.device;
  const auto list = DevicesOf(store, devices);
  std::vector<NoteVersion> shown;
  if (!store.hasNotes()) return shown;
  StatementLease rows = store.statement(std::string(kNoteRows) + "WHERE n.device_id = ?1" +
                                        (filter.entriesOnly ? " AND n.at IS NOT NULL" : "") +
                                        " ORDER BY n.number, v.version");
  for (const auto& [id, name] : list) {
    rows.reset();
    rows.bind(1, id);
    std::vector<StoredNote> notes = ReadStored(rows);
    DevicePlaces places(store, id);
    std::vector<StoredNote*> passing;
    std::vector<NoteVersion*> firsts;
    for (StoredNote& note : notes) {
      if (Shown(note, filter.history).empty() ||
          !InDates(note.versions.front(), filter.fromDate, filter.toDate)) {
        continue;
      }
      passing.push_back(&note);
      firsts.push_back(&note.versions.front());
    }
    places.place(firsts);
    std::vector<std::pair<NoteKey, const StoredNote*>> ordered;
    for (StoredNote* note : passing) {
      for (NoteVersion& v : note->versions) {
        v.place = note->versions.front().place;
        v.segment = note->versions.front().segment;
      }
      ordered.emplace_back(KeyOf(note->versions.front()), note);
    }
    std::sort(ordered.begin(), ordered.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [key, note] : ordered) {
      for (const NoteVersion& v : Shown(*note, filter.history)) shown.push_back(v);
    }
  }
  return shown;
}

std::vector<NoteVersion> ReadNotesAt(JournalStore& store, std::span<const EventPlace> places,
                                     bool history) {
  const ReadState state(store);
  std::vector<NoteVersion> shown;
  if (!store.hasNotes()) return shown;
  StatementLease rows =
      store.statement(std::string(kNoteRows) +
                      "WHERE n.segment_id = ?1 AND n.seq = ?2 ORDER BY n.number, v.version");
  std::map<std::int64_t, DevicePlaces> devices;
  for (const EventPlace& place : places) {
    rows.reset();
    rows.bind(1, place.segment).bind(2, place.seq);
    for (const StoredNote& note : ReadStored(rows)) {
      auto device = devices.try_emplace(note.deviceId, store, note.deviceId).first;
      for (NoteVersion v : Shown(note, history)) {
        device->second.place(v);
        shown.push_back(std::move(v));
      }
    }
  }
  return shown;
}

std::int64_t ForEachReportItem(JournalStore& store, const EventFilter& filter,
                               const ReportVisitor& visit) {
  const ReadState state(store);
  const bool entriesShown = !filter.input && !filter.eventText;
  std::optional<StatementLease> rows;
  if (store.hasNotes()) {
    rows.emplace(store.statement(std::string(kNoteRows) +
                                 "WHERE n.device_id = ?1 ORDER BY n.number, v.version"));
  }
  std::int64_t visited = 0;
  for (const auto& [id, name] : DevicesOf(store, filter)) {
    std::map<EventPlace, std::vector<NoteVersion>> eventNotes;
    std::vector<NoteVersion> entries;
    DevicePlaces places(store, id);
    if (rows) {
      rows->reset();
      rows->bind(1, id);
      for (const StoredNote& note : ReadStored(*rows)) {
        for (const NoteVersion& v : Shown(note, false)) {
          if (note.event) {
            eventNotes[*note.event].push_back(v);
          } else if (v.moment && entriesShown && InDates(v, filter.fromDate, filter.toDate)) {
            entries.push_back(v);
          }
        }
      }
      std::vector<NoteVersion*> placed;
      for (NoteVersion& entry : entries) placed.push_back(&entry);
      places.place(placed);
    }
    // The report runs newest first: ReadNotes' order reversed.
    std::sort(entries.begin(), entries.end(),
              [](const NoteVersion& a, const NoteVersion& b) { return KeyOf(b) < KeyOf(a); });
    std::size_t next = 0;
    // Visits the entries that stand after the event at (segment, seq) in the
    // device's order, or all that are left.
    const auto visitEntries = [&](std::optional<std::pair<int, std::int64_t>> after) {
      for (; next < entries.size(); ++next) {
        const NoteVersion& entry = entries[next];
        const std::pair<int, std::int64_t> at{entry.segment, entry.place ? entry.place->seq : 0};
        if (after && at < *after) return true;
        ++visited;
        if (!visit({nullptr, {&entry, 1}, std::max(entry.segment, 1)})) return false;
      }
      return true;
    };
    bool stopped = false;
    EventFilter one = filter;
    one.device = name;
    ForEachEvent(store, one, EventOrder::kNewestFirst, [&](const JournalEvent& event) {
      stopped = !visitEntries(std::pair{event.segment, event.place.seq});
      if (stopped) return false;
      const auto notes = eventNotes.find(event.place);
      ++visited;
      stopped = !visit({&event,
                        notes != eventNotes.end() ? std::span<const NoteVersion>(notes->second)
                                                  : std::span<const NoteVersion>(),
                        event.segment});
      return !stopped;
    });
    if (stopped || !visitEntries(std::nullopt)) break;
  }
  return visited;
}

}  // namespace veks
