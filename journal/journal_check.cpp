#include "journal/journal_check.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "report/event_export.h"

namespace veks {
namespace {

// Beyond this many events of one segment whose stored values are wrong, the
// check counts them instead of naming each.
constexpr int kNamedEventsPerSegment = 5;

struct SegmentFacts {
  std::int64_t deviceId = 0;
  std::string place;  // "устройство NAME, участок N" or, without a device, its id
  std::int64_t rank = 0;
  std::int64_t firstSeq = 0;
  std::int64_t lastSeq = 0;
  std::int64_t count = 0;
  std::optional<std::string> lastTimestamp;
};

// What one pass over a segment's events finds.
struct SegmentEvents {
  std::int64_t count = 0;
  std::int64_t lowSeq = 0;
  std::int64_t highSeq = 0;
  std::optional<std::string> lastTimestamp;
  std::int64_t wrongEvents = 0;
};

std::string Quoted(const std::optional<std::string>& text) {
  return text ? "«" + *text + "»" : std::string("нет");
}

class Checker {
 public:
  explicit Checker(JournalStore& store) : store_(store), notes_(store.hasNotes()) {}

  std::vector<std::string> run() {
    // One read transaction: every rule sees the same state, whatever others commit.
    const ReadSnapshot snapshot(store_);
    // A server keeps its own storage sound; the journal's rules are checked
    // on both engines.
    if (!store_.onServer()) stage([&] { integrity(); });
    // Without the segments' rows, their events cannot be judged.
    if (stage([&] { loadSegments(); })) stage([&] { scanEvents(); });
    stage([&] { devicesAndRanks(); });
    if (notes_) stage([&] { notes(); });
    return std::move(problems_);
  }

 private:
  // A rule whose reading fails is a problem of its own; the others still run.
  bool stage(const std::function<void()>& rule) {
    try {
      rule();
      return true;
    } catch (const SqliteError& error) {
      problems_.push_back(std::string("журнал не читается: ") + error.what());
      return false;
    } catch (const PgError& error) {
      problems_.push_back(std::string("журнал не читается: ") + error.what());
      return false;
    }
  }

  void integrity() {
    StatementLease check = store_.statement("PRAGMA integrity_check");
    while (check.step()) {
      if (check.text(0) != "ok") problems_.push_back("база SQLite: " + std::string(check.text(0)));
    }
  }

  void loadSegments() {
    StatementLease list = store_.statement(
        "SELECT s.id, s.device_id, d.name, s.rank, s.first_seq, s.last_seq, s.event_count, "
        "s.last_timestamp, row_number() OVER (PARTITION BY s.device_id "
        "ORDER BY s.last_timestamp IS NULL, s.last_timestamp, s.rank) "
        "FROM segments s LEFT JOIN devices d ON d.id = s.device_id");
    while (list.step()) {
      SegmentFacts facts{
          list.integer(1),
          {},
          list.integer(3),
          list.integer(4),
          list.integer(5),
          list.integer(6),
          list.isNull(7) ? std::nullopt : std::optional<std::string>(std::string(list.text(7)))};
      if (list.isNull(2)) {
        facts.place = "участок (строка " + std::to_string(list.integer(0)) + ")";
        problems_.push_back(facts.place + ": устройства " + std::to_string(facts.deviceId) +
                            " нет в журнале");
      } else {
        facts.place = "устройство " + std::string(list.text(2)) + ", участок " +
                      std::to_string(list.integer(8));
      }
      segments_.emplace(list.integer(0), std::move(facts));
    }
  }

  // Every event once, in the order of the table's key: its stored values
  // against its bytes, and each segment's numbering, count and last timestamp
  // against the segment's row.
  void scanEvents() {
    StatementLease events = store_.statement(
        "SELECT segment_id, seq, raw, code, argument, timestamp, date, time, event, input "
        "FROM events ORDER BY segment_id, seq",
        Rows::kMany);
    std::optional<std::int64_t> segment;
    SegmentEvents seen;
    std::map<std::int64_t, std::int64_t> orphans;  // events of no segment, by segment id
    while (events.step()) {
      const std::int64_t id = events.integer(0);
      const auto found = segments_.find(id);
      if (found == segments_.end()) {
        ++orphans[id];
        continue;
      }
      if (segment != id) {
        if (segment) finishSegment(*segment, seen);
        segment = id;
        seen = SegmentEvents{0, events.integer(1), events.integer(1), std::nullopt, 0};
      }
      const std::int64_t seq = events.integer(1);
      ++seen.count;
      seen.highSeq = seq;
      if (!events.isNull(5)) seen.lastTimestamp = std::string(events.text(5));
      if (const auto wrong = wrongValues(events)) {
        if (++seen.wrongEvents <= kNamedEventsPerSegment) {
          problems_.push_back(found->second.place + ", событие " + std::to_string(seq) + ": " +
                              *wrong);
        }
      }
    }
    if (segment) finishSegment(*segment, seen);
    for (const auto& [id, count] : orphans) {
      problems_.push_back("участок (строка " + std::to_string(id) +
                          ") отсутствует, а событий в нем " + std::to_string(count));
    }
    for (const auto& [id, facts] : segments_) {
      if (!scanned_.contains(id)) problems_.push_back(facts.place + ": нет событий");
    }
  }

  // What is wrong with the stored values of the event at the statement's row.
  static std::optional<std::string> wrongValues(const StoreRow& row) {
    const auto blob = row.blob(2);
    if (blob.size() != static_cast<std::size_t>(kRecordSize)) {
      return "запись длиной " + std::to_string(blob.size()) + " байт вместо " +
             std::to_string(kRecordSize);
    }
    const EventRecord raw = RecordOf(blob);
    if (row.integer(3) != raw[kCodeByte] || row.integer(4) != raw[kArgumentByte]) {
      return "код или аргумент не совпадает с записью " + RawHex(raw);
    }
    const std::optional<std::string> stamp =
        row.isNull(5) ? std::nullopt : std::optional<std::string>(std::string(row.text(5)));
    if (stamp != EventTimestamp(raw)) {
      return "метка времени " + Quoted(stamp) + ", а запись " + RawHex(raw) + " дает " +
             Quoted(EventTimestamp(raw));
    }
    // Stored as the table shows them: event, input, time, date.
    const std::array<std::string, 4> texts = TrimmedEventTexts(raw);
    static constexpr std::array<int, 4> kColumns = {8, 9, 7, 6};
    static constexpr std::array<const char*, 4> kNames = {"событие", "вход", "время", "дата"};
    for (std::size_t i = 0; i < texts.size(); ++i) {
      if (row.text(kColumns[i]) != texts[i]) {
        return std::string(kNames[i]) + " " + Quoted(std::string(row.text(kColumns[i]))) +
               ", а запись " + RawHex(raw) + " дает " + Quoted(texts[i]);
      }
    }
    return std::nullopt;
  }

  void finishSegment(std::int64_t id, const SegmentEvents& seen) {
    scanned_.insert(id);
    const SegmentFacts& facts = segments_.at(id);
    const std::string& place = facts.place;
    if (seen.lowSeq != facts.firstSeq || seen.highSeq != facts.lastSeq) {
      problems_.push_back(place + ": события занимают номера " + std::to_string(seen.lowSeq) + "–" +
                          std::to_string(seen.highSeq) + ", а участок записан как " +
                          std::to_string(facts.firstSeq) + "–" + std::to_string(facts.lastSeq));
    } else if (seen.count != seen.highSeq - seen.lowSeq + 1) {
      problems_.push_back(place + ": в номерах событий " + std::to_string(seen.lowSeq) + "–" +
                          std::to_string(seen.highSeq) + " пропусков: " +
                          std::to_string(seen.highSeq - seen.lowSeq + 1 - seen.count));
    }
    if (seen.count != facts.count) {
      problems_.push_back(place + ": записано событий " + std::to_string(facts.count) + ", а их " +
                          std::to_string(seen.count));
    }
    if (seen.lastTimestamp != facts.lastTimestamp) {
      problems_.push_back(place + ": метка последнего события записана как " +
                          Quoted(facts.lastTimestamp) + ", а она " + Quoted(seen.lastTimestamp));
    }
    if (seen.wrongEvents > kNamedEventsPerSegment) {
      problems_.push_back(place + ": и еще событий с неверными значениями: " +
                          std::to_string(seen.wrongEvents - kNamedEventsPerSegment));
    }
  }

  void devicesAndRanks() {
    // Notes keep a device whose history an undone import took away.
    StatementLease empty = store_.statement(
        std::string("SELECT name FROM devices d WHERE NOT EXISTS "
                    "(SELECT 1 FROM segments s WHERE s.device_id = d.id)") +
        (notes_ ? " AND NOT EXISTS (SELECT 1 FROM notes n WHERE n.device_id = d.id)" : "") +
        " ORDER BY name");
    while (empty.step()) {
      problems_.push_back("устройство " + std::string(empty.text(0)) + ": нет ни одного участка");
    }
    StatementLease ranks = store_.statement(
        "SELECT d.name, s.rank, count(*) FROM segments s JOIN devices d ON d.id = s.device_id "
        "GROUP BY s.device_id, d.name, s.rank HAVING count(*) > 1 ORDER BY d.name, s.rank");
    while (ranks.step()) {
      problems_.push_back("устройство " + std::string(ranks.text(0)) + ": ранг " +
                          std::to_string(ranks.integer(1)) +
                          " у участков: " + std::to_string(ranks.integer(2)));
    }
    StatementLease imports = store_.statement(
        "SELECT count(*) FROM imports WHERE device_id NOT IN (SELECT id FROM devices)");
    if (imports.step() && imports.integer(0) > 0) {
      problems_.push_back("записей об импорте без устройства: " +
                          std::to_string(imports.integer(0)));
    }
  }

  // Each note on its event, and its versions.
  void notes() {
    StatementLease list = store_.statement(
        "SELECT n.number, n.device_id, d.name, n.segment_id, n.seq, n.raw, n.at, e.raw, "
        "s.device_id FROM notes n LEFT JOIN devices d ON d.id = n.device_id "
        "LEFT JOIN events e ON e.segment_id = n.segment_id AND e.seq = n.seq "
        "LEFT JOIN segments s ON s.id = n.segment_id ORDER BY n.number");
    while (list.step()) {
      const std::string note = "примечание " + std::to_string(list.integer(0));
      if (list.isNull(2)) {
        problems_.push_back(note + ": устройства " + std::to_string(list.integer(1)) +
                            " нет в журнале");
      }
      if (!list.isNull(6)) continue;  // an operator entry: no event
      // A note whose event an undone import took away waits for it, with
      // its bytes and no place.
      if (list.isNull(3) && list.isNull(4) && !list.isNull(5)) continue;
      if (list.isNull(3) || list.isNull(4) || list.isNull(5)) {
        problems_.push_back(note + ": не указано его событие");
        continue;
      }
      const auto found = segments_.find(list.integer(3));
      const std::string place =
          (found != segments_.end() ? found->second.place
                                    : "участок (строка " + std::to_string(list.integer(3)) + ")") +
          ", событие " + std::to_string(list.integer(4)) + ": " + note;
      const auto written = list.blob(5);
      if (list.isNull(7)) {
        problems_.push_back(place + ": событие не найдено");
      } else if (written.size() != list.blob(7).size() ||
                 !std::equal(written.begin(), written.end(), list.blob(7).begin())) {
        problems_.push_back(place + ": записано к событию " + RawHex(RecordOf(written)) +
                            ", а на его месте " + RawHex(RecordOf(list.blob(7))));
      } else if (list.isNull(8) || list.integer(8) != list.integer(1)) {
        problems_.push_back(place + ": событие другого устройства");
      }
    }
    StatementLease versions = store_.statement(
        "SELECT n.number, count(v.version), min(v.version), max(v.version) FROM notes n "
        "LEFT JOIN note_versions v ON v.note = n.number GROUP BY n.number ORDER BY n.number");
    while (versions.step()) {
      const std::string note = "примечание " + std::to_string(versions.integer(0));
      const std::int64_t count = versions.integer(1);
      if (count == 0) {
        problems_.push_back(note + ": нет ни одной версии");
      } else if (versions.integer(2) != 1 || versions.integer(3) != count) {
        problems_.push_back(
            note + ": версии занимают номера " + std::to_string(versions.integer(2)) + "–" +
            std::to_string(versions.integer(3)) + ", а их " + std::to_string(count));
      }
    }
    StatementLease orphans = store_.statement(
        "SELECT count(*) FROM note_versions WHERE note NOT IN (SELECT number FROM notes)");
    if (orphans.step() && orphans.integer(0) > 0) {
      problems_.push_back("версий примечаний без примечания: " +
                          std::to_string(orphans.integer(0)));
    }
  }

  JournalStore& store_;
  bool notes_;
  std::map<std::int64_t, SegmentFacts> segments_;
  std::set<std::int64_t> scanned_;
  std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> CheckJournal(JournalStore& store) { return Checker(store).run(); }

}  // namespace veks
