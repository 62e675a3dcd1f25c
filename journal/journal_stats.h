// Statistics of the journal's histories and the moment each device's next
// archive copy is due. Counts are made by SQL over the journal's indexes;
// no query hands the history itself to the program. Each function reads in
// one read transaction of its own, so its numbers come from one committed
// state of the journal, whatever imports commit meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "journal/journal_store.h"

namespace veks {

// The events statistics count: those of `device` (every device when none)
// and, when either date is given, those with a timestamp whose date lies
// from `fromDate` to `toDate` ("YYYY-MM-DD", both included). The window's
// input and kind filters narrow its table, never the statistics, so they
// have no place here.
struct StatsFilter {
  std::optional<std::string> device;
  std::optional<std::string> fromDate;
  std::optional<std::string> toDate;
};

// The measures, in the order a device's rows come in.
enum class StatMeasure {
  kEvents,    // no key: events that pass
  kSegments,  // no key: segments holding at least one of them
  kKind,      // key the event text: events with that text
  kInput,     // key the input text of events with code 0-3: events of that input
  kInputOn,   // same key: of those, events with code 1-3
  kInputOff,  // same key: of those, events with code 0
  kChatter,   // same key: events x_i (i >= 3) of the input, per segment, with
              // ts(x_i) - ts(x_(i-2)) from 0 to kChatterSeconds
  kValveOpened,  // key "МУК q": events reading "клапан ОТКРЫТ", by the МУК of their input
  kValveClosed,  // likewise "клапан ЗАКРЫТ"
  kDay,          // key "YYYY-MM-DD": events with a timestamp on that day
  kFloodSlot,    // key "YYYY-MM-DDThh:m0": events in that 10-minute slot of the
                 // clock, for slots with more than kFloodAbove
};

inline constexpr int kChatterSeconds = 60;
inline constexpr int kFloodAbove = 10;

// "events", "segments", "kind", "input", ... as `stats` prints them.
[[nodiscard]] std::string_view MeasureName(StatMeasure measure);

struct StatRow {
  std::string device;
  StatMeasure measure = StatMeasure::kEvents;
  std::string key;  // empty for events and segments
  std::int64_t value = 0;
  bool operator==(const StatRow&) const = default;
};

// The rows of every device the filter names, by device name; within a
// device by measure, then by key in byte order. events and segments always
// have their row; the other measures a row per key with a value above 0. A
// device none of whose events pass has no rows, so no rows at all means no
// event passed. Throws kUnknownDevice when the filter names no device, and
// as the store does.
[[nodiscard]] std::vector<StatRow> ComputeStats(JournalStore& store, const StatsFilter& filter);

// When a device's next copy is due: T, the timestamp of its last event in
// export order that has one; W, its stamped events from T - 30 days to T;
// S, the seconds from its first stamped event in export order to T, kept
// within one to thirty days. At |W| events in S seconds the ring has written
// its 992 slots after T at T + floor(992 * S / |W|) seconds: a copy taken
// later no longer reaches back to the journal's newest event.
struct DueEstimate {
  std::string device;
  std::optional<std::string> last;  // T, "YYYY-MM-DDThh:mm:ss"; none: nothing below is set
  std::int64_t windowEvents = 0;    // |W|
  std::int64_t spanSeconds = 0;     // S
  std::int64_t rateMilli = 0;       // events per day x 1000, rounded half up
  std::string due;                  // "YYYY-MM-DDThh:mm", rounded down to the minute
  bool operator==(const DueEstimate&) const = default;
};

inline constexpr std::int64_t kDueWindowSeconds = 30 * 86'400;

// The estimate from T, the first stamped event and |W| (at least 1: T's own
// event lies in W). Integer arithmetic on the device's calendar, which knows
// no zones and no daylight saving.
[[nodiscard]] DueEstimate EstimateDue(std::string device, const std::string& first,
                                      const std::string& last, std::int64_t windowEvents);

// A rate in thousandths as "0.313".
[[nodiscard]] std::string RateText(std::int64_t rateMilli);

// The estimate of each device (`device`, or every device by name). Throws
// kUnknownDevice when `device` names none, and as the store does.
[[nodiscard]] std::vector<DueEstimate> ComputeDue(JournalStore& store,
                                                  const std::optional<std::string>& device);

// A timeline's counts: events with a timestamp, per period of the clock and
// kind of event (the event text), ordered by period, then kind in byte order.
// The day counts summed over kinds are the statistics' day rows.
enum class SeriesPeriod {
  kMonth,  // period "YYYY-MM"
  kDay,    // period "YYYY-MM-DD"
  kHour,   // period "YYYY-MM-DDThh"
};

struct SeriesPoint {
  std::string period;
  std::string kind;
  std::int64_t count = 0;
  bool operator==(const SeriesPoint&) const = default;
};

// The series of the filter's device, which must be named (kUnknownDevice
// otherwise). Empty when no event passes.
[[nodiscard]] std::vector<SeriesPoint> ComputeSeries(JournalStore& store, const StatsFilter& filter,
                                                     SeriesPeriod period);

}  // namespace veks
