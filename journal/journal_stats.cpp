#include "journal/journal_stats.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <tuple>

#include "journal/event_query.h"
#include "report/event_export.h"

namespace veks {
namespace {

constexpr std::string_view kValveOpenedText = "клапан ОТКРЫТ";
constexpr std::string_view kValveClosedText = "клапан ЗАКРЫТ";
constexpr std::int64_t kSecondsPerDay = 86'400;
// Events the ring holds: a copy reaches back this many events before it.
constexpr std::int64_t kRingSlots = kSlotCount;

// Seconds since 1970-01-01T00:00:00 of "YYYY-MM-DDThh:mm:ss" on the device's
// clock, which has no zone: plain calendar arithmetic.
std::int64_t SecondsOf(std::string_view stamp) {
  const auto number = [&](std::size_t at, std::size_t length) {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (stamp[i] - '0');
    return value;
  };
  using namespace std::chrono;
  const sys_days day = year{number(0, 4)} / month{static_cast<unsigned>(number(5, 2))} /
                       static_cast<unsigned>(number(8, 2));
  return static_cast<std::int64_t>(day.time_since_epoch().count()) * kSecondsPerDay +
         number(11, 2) * 3600 + number(14, 2) * 60 + number(17, 2);
}

// "YYYY-MM-DDThh:mm:ss" of seconds since 1970-01-01T00:00:00.
std::string StampOf(std::int64_t seconds) {
  using namespace std::chrono;
  const std::int64_t days = seconds / kSecondsPerDay;
  const std::int64_t inDay = seconds % kSecondsPerDay;
  const year_month_day date{sys_days{std::chrono::days{days}}};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                static_cast<int>(inDay % 60));
  return text;
}

// The event and input texts of events with code 0-3 and this argument: the
// stored texts are the decoding of the stored bytes, and for these codes
// they depend on the code and the argument alone.
std::array<std::string, 4> TextsOf(int code, int argument) {
  // Day and month 1: never an empty slot, whatever the code and argument.
  const EventRecord record{
      static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(argument), 0, 0, 0, 1, 1, 0};
  return TrimmedEventTexts(record);
}

// "МУК q" of an input text "МУК q вх i".
std::string ModuleOf(const std::string& input) { return input.substr(0, input.find(" вх ")); }

// The statements that count one device's events that pass a filter. Every
// statement names the device as ?1 and, with dates, the bounds as ?2 and ?3.
// Without dates each statement reads the index that holds what it counts.
// With dates, a range that holds few of the device's events is read off the
// timestamp index, so that a day costs what its events cost however long the
// history; a range that holds most of them is read as without dates, with
// the dates a test on each row, rather than looking each row up from that
// index.
class DeviceCounter {
 public:
  DeviceCounter(JournalStore& store, const StatsFilter& filter)
      : store_(store),
        dated_(filter.fromDate || filter.toDate),
        from_(filter.fromDate.value_or("")),
        to_(filter.toDate ? *filter.toDate + "T23:59:59" : std::string("~")) {}

  // Counts the device's events that pass and the segments holding them, and
  // chooses how the statements below find those events.
  void select(std::int64_t device) {
    device_ = device;
    std::tie(events_, segments_) = totals();
    StatementLease all = store_.statement(
        "SELECT coalesce(sum(event_count), 0), "
        "(SELECT coalesce(sum(event_count), 0) FROM segments) FROM segments WHERE device_id = ?1");
    all.bind(1, device_).step();
    if (dated_) fewInRange_ = events_ <= std::max<std::int64_t>(1000, all.integer(0) / 8);
    // The moment index holds every device's events: walked in order it costs
    // the journal's events in range, worth it when the device holds a good
    // share of them; otherwise the device's own events are sorted by slot.
    byMoment_ = store_.hasIndex("events_moment") && all.integer(0) * 4 >= all.integer(1);
  }

  // The rows of the selected device; none when none of its events pass.
  void count(const std::string& name, std::vector<StatRow>& rows) {
    if (events_ == 0) return;
    const auto add = [&](StatMeasure measure, std::string key, std::int64_t value) {
      if (value > 0 || measure == StatMeasure::kEvents || measure == StatMeasure::kSegments) {
        rows.push_back({name, measure, std::move(key), value});
      }
    };
    add(StatMeasure::kEvents, {}, events_);
    add(StatMeasure::kSegments, {}, segments_);
    kinds(add);
    inputs(add);
    days(add);
  }

  // The selected device's stamped events per period (the first `length`
  // characters of the timestamp) and kind.
  std::vector<SeriesPoint> series(std::int64_t length) {
    StatementLease series =
        prepare("SELECT substr(timestamp, 1, CAST(?4 AS integer)), event, count(*)" +
                from("timestamp IS NOT NULL") + " GROUP BY 1, 2 ORDER BY 1, 2");
    series.bind(4, length);
    std::vector<SeriesPoint> points;
    while (series.step()) {
      points.push_back(
          {std::string(series.text(0)), std::string(series.text(1)), series.integer(2)});
    }
    return points;
  }

 private:
  // "FROM events ... WHERE <the device's events that pass> [AND also]";
  // `byRange` reads a date range off the timestamp index whatever its size.
  std::string from(std::string_view also = {}, bool byRange = false) const {
    const bool range = dated_ && (byRange || fewInRange_);
    std::string sql = range && store_.hasIndex("events_timestamp")
                          ? " FROM events INDEXED BY events_timestamp"
                          : " FROM events";
    sql += " WHERE segment_id IN (SELECT id FROM segments WHERE device_id = ?1)";
    if (dated_) {
      sql += range ? " AND timestamp >= ?2 AND timestamp <= ?3"
                   : " AND +timestamp >= ?2 AND +timestamp <= ?3";
    }
    if (!also.empty()) sql.append(" AND ").append(also);
    return sql;
  }

  StatementLease prepare(const std::string& sql) {
    StatementLease statement = store_.statement(sql);
    statement.bind(1, device_);
    if (dated_) statement.bind(2, std::string_view(from_)).bind(3, std::string_view(to_));
    return statement;
  }

  std::pair<std::int64_t, std::int64_t> totals() {
    StatementLease totals =
        dated_ ? prepare("SELECT coalesce(sum(n), 0), count(*) FROM (SELECT count(*) AS n" +
                         from({}, true) + " GROUP BY segment_id) AS per_segment")
               : prepare(
                     "SELECT coalesce(sum(event_count), 0), count(*) FROM segments "
                     "WHERE device_id = ?1");
    totals.step();
    return {totals.integer(0), totals.integer(1)};
  }

  template <typename Add>
  void kinds(const Add& add) {
    // Counted per segment first, in the event index's own order, so that only
    // the few per-segment counts are sorted.
    StatementLease kinds =
        prepare("SELECT event, sum(n) FROM (SELECT event, count(*) AS n" + from() +
                " GROUP BY segment_id, event) AS per_segment GROUP BY event ORDER BY event");
    while (kinds.step()) add(StatMeasure::kKind, std::string(kinds.text(0)), kinds.integer(1));
  }

  template <typename Add>
  void inputs(const Add& add) {
    struct Input {
      std::int64_t byCode[4] = {};
      std::int64_t chatter = 0;
    };
    std::map<int, Input> byArgument;
    // One pass over the input index in its order: each input's events of a
    // segment come together, in the segment's order, so x_(i-2) is two rows
    // back within the run and only the run's last two timestamps are kept.
    StatementLease events = prepare("SELECT segment_id, argument, code, timestamp" +
                                    from("code <= 3") + " ORDER BY segment_id, argument, seq");
    std::int64_t runSegment = -1;
    int runArgument = -1;
    Input* input = nullptr;
    std::optional<std::int64_t> before[2];  // x_(i-2), x_(i-1)
    while (events.step()) {
      const std::int64_t segment = events.integer(0);
      const int argument = static_cast<int>(events.integer(1));
      if (segment != runSegment || argument != runArgument) {
        runSegment = segment;
        runArgument = argument;
        input = &byArgument[argument];
        before[0] = before[1] = std::nullopt;
      }
      ++input->byCode[events.integer(2)];
      std::optional<std::int64_t> stamp;
      if (!events.isNull(3)) stamp = SecondsOf(events.text(3));
      if (stamp && before[0] && *stamp >= *before[0] && *stamp - *before[0] <= kChatterSeconds)
        ++input->chatter;
      before[0] = before[1];
      before[1] = stamp;
    }

    // Keyed by text from here on, in byte order.
    std::map<std::string, Input> byInput;
    std::map<std::string, std::int64_t> opened;
    std::map<std::string, std::int64_t> closed;
    for (const auto& [argument, counts] : byArgument) {
      const std::string input = TextsOf(0, argument)[1];
      byInput[input] = counts;
      for (int code = 0; code < 4; ++code) {
        const std::string event = TextsOf(code, argument)[0];
        if (event == kValveOpenedText) opened[ModuleOf(input)] += counts.byCode[code];
        if (event == kValveClosedText) closed[ModuleOf(input)] += counts.byCode[code];
      }
    }
    const auto on = [](const Input& i) { return i.byCode[1] + i.byCode[2] + i.byCode[3]; };
    for (const auto& [key, i] : byInput) add(StatMeasure::kInput, key, i.byCode[0] + on(i));
    for (const auto& [key, i] : byInput) add(StatMeasure::kInputOn, key, on(i));
    for (const auto& [key, i] : byInput) add(StatMeasure::kInputOff, key, i.byCode[0]);
    for (const auto& [key, i] : byInput) add(StatMeasure::kChatter, key, i.chatter);
    for (const auto& [key, n] : opened) add(StatMeasure::kValveOpened, key, n);
    for (const auto& [key, n] : closed) add(StatMeasure::kValveClosed, key, n);
  }

  template <typename Add>
  void days(const Add& add) {
    // One count per 10-minute slot, the slots in order; a day is the sum of
    // its slots, complete when its last slot has passed.
    std::vector<std::pair<std::string, std::int64_t>> floods;
    std::string day;
    std::int64_t dayCount = 0;
    const auto slot = [&](std::string_view slot, std::int64_t n) {
      if (slot.substr(0, 10) != day) {
        add(StatMeasure::kDay, day, dayCount);
        day = slot.substr(0, 10);
        dayCount = 0;
      }
      dayCount += n;
      if (n > kFloodAbove) floods.emplace_back(std::string(slot) + "0", n);
    };
    if (byMoment_) {
      // The moment index yields the timestamps in order: a slot's events
      // come together and are counted as they pass, in constant memory.
      std::string range = dated_ ? " AND timestamp >= ?2 AND timestamp <= ?3" : "";
      StatementLease stamps = prepare(
          "SELECT timestamp FROM events INDEXED BY events_moment WHERE timestamp IS NOT NULL" +
          range +
          " AND segment_id IN (SELECT id FROM segments WHERE device_id = ?1) ORDER BY timestamp");
      std::string current;
      std::int64_t n = 0;
      while (stamps.step()) {
        const std::string_view next = stamps.text(0).substr(0, 15);
        if (next != current) {
          if (n > 0) slot(current, n);
          current = next;
          n = 0;
        }
        ++n;
      }
      if (n > 0) slot(current, n);
    } else {
      StatementLease slots =
          prepare("SELECT substr(timestamp, 1, 15), count(*)" +
                  from("timestamp IS NOT NULL", true) + " GROUP BY 1 ORDER BY 1");
      while (slots.step()) slot(slots.text(0), slots.integer(1));
    }
    add(StatMeasure::kDay, day, dayCount);
    for (auto& [key, n] : floods) add(StatMeasure::kFloodSlot, std::move(key), n);
  }

  JournalStore& store_;
  bool dated_;
  std::string from_;
  std::string to_;
  std::int64_t device_ = 0;
  std::int64_t events_ = 0;
  std::int64_t segments_ = 0;
  bool fewInRange_ = false;
  bool byMoment_ = false;
};

}  // namespace

std::string_view MeasureName(StatMeasure measure) {
  switch (measure) {
    case StatMeasure::kEvents:
      return "events";
    case StatMeasure::kSegments:
      return "segments";
    case StatMeasure::kKind:
      return "kind";
    case StatMeasure::kInput:
      return "input";
    case StatMeasure::kInputOn:
      return "input_on";
    case StatMeasure::kInputOff:
      return "input_off";
    case StatMeasure::kChatter:
      return "chatter";
    case StatMeasure::kValveOpened:
      return "valve_opened";
    case StatMeasure::kValveClosed:
      return "valve_closed";
    case StatMeasure::kDay:
      return "day";
    case StatMeasure::kFloodSlot:
      return "flood_slot";
  }
  return {};
}

std::vector<StatRow> ComputeStats(JournalStore& store, const StatsFilter& filter) {
  ReadSnapshot snapshot(store);
  EventFilter devices;
  devices.device = filter.device;
  DeviceCounter counter(store, filter);
  std::vector<StatRow> rows;
  for (const auto& [id, name] : DevicesOf(store, devices)) {
    counter.select(id);
    counter.count(name, rows);
  }
  return rows;
}

DueEstimate EstimateDue(std::string device, const std::string& first, const std::string& last,
                        std::int64_t windowEvents) {
  const std::int64_t t = SecondsOf(last);
  // A clock set back can put the first event after T: the span is then short.
  const std::int64_t span = std::clamp(t - SecondsOf(first), kSecondsPerDay, kDueWindowSeconds);
  const std::int64_t w = std::max<std::int64_t>(windowEvents, 1);
  DueEstimate estimate;
  estimate.device = std::move(device);
  estimate.last = last;
  estimate.windowEvents = w;
  estimate.spanSeconds = span;
  // w * 86,400 / span, in thousandths, rounded half up.
  estimate.rateMilli = (2 * w * kSecondsPerDay * 1000 + span) / (2 * span);
  estimate.due = StampOf(t + kRingSlots * span / w).substr(0, 16);
  return estimate;
}

std::string RateText(std::int64_t rateMilli) {
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(rateMilli % 1000));
  return std::to_string(rateMilli / 1000) + fraction;
}

std::vector<DueEstimate> ComputeDue(JournalStore& store, const std::optional<std::string>& device) {
  ReadSnapshot snapshot(store);
  EventFilter filter;
  filter.device = device;
  std::vector<DueEstimate> estimates;
  for (const auto& [id, name] : DevicesOf(store, filter)) {
    // Segments are in the history's order by the timestamp of their last
    // stamped event: the newest such timestamp is T, and the first stamped
    // event is the first one of the earliest segment that has one.
    StatementLease edges = store.statement(
        "SELECT (SELECT max(last_timestamp) FROM segments WHERE device_id = ?1), "
        "(SELECT (SELECT timestamp FROM events WHERE segment_id = s.id AND +timestamp IS NOT NULL "
        "ORDER BY seq LIMIT 1) FROM segments s WHERE device_id = ?1 AND last_timestamp IS NOT NULL "
        "ORDER BY last_timestamp, rank LIMIT 1)");
    edges.bind(1, id);
    edges.step();
    if (edges.isNull(0) || edges.isNull(1)) {
      estimates.push_back({name, std::nullopt, 0, 0, 0, {}});
      continue;
    }
    const std::string last(edges.text(0));
    const std::string first(edges.text(1));
    StatementLease window = store.statement(
        "SELECT count(*) FROM events WHERE segment_id IN "
        "(SELECT id FROM segments WHERE device_id = ?1) AND timestamp >= ?2 AND timestamp <= ?3");
    const std::string start = StampOf(SecondsOf(last) - kDueWindowSeconds);
    window.bind(1, id).bind(2, std::string_view(start)).bind(3, std::string_view(last));
    window.step();
    estimates.push_back(EstimateDue(name, first, last, window.integer(0)));
  }
  return estimates;
}

std::vector<SeriesPoint> ComputeSeries(JournalStore& store, const StatsFilter& filter,
                                       SeriesPeriod period) {
  ReadSnapshot snapshot(store);
  EventFilter named;
  named.device = filter.device;
  const auto devices = DevicesOf(store, named);
  if (devices.size() != 1)
    throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  DeviceCounter counter(store, filter);
  counter.select(devices.front().first);
  return counter.series(period == SeriesPeriod::kMonth ? 7
                        : period == SeriesPeriod::kDay ? 10
                                                       : 13);
}

}  // namespace veks
