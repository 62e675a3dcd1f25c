// What the journal window's overview shows of one device, read in one
// committed state of the journal: the statistics and the hourly counts of
// the filter, where events may be missing between segments, the days copies
// were imported, and when each device's next copy is due.
#pragma once

#include <string>
#include <vector>

#include "journal/journal_stats.h"
#include "journal/journal_store.h"

namespace veks {

// Between two segments of a history: from the last stamped event of the
// older to the first stamped event of the newer ("YYYY-MM-DDThh:mm:ss").
// Events the ring overwrote between two copies may have stood there.
struct MissingSpan {
  std::string from;
  std::string to;
  bool operator==(const MissingSpan&) const = default;
};

struct JournalOverview {
  std::vector<StatRow> stats;        // ComputeStats of the filter; empty: no event passes
  std::vector<SeriesPoint> hours;    // ComputeSeries of the filter, per hour
  std::vector<MissingSpan> gaps;     // the device's, in the history's order
  std::vector<std::string> imports;  // when its copies were imported (UTC, "...Z"), oldest first
  std::vector<DueEstimate> due;      // every device, by name
};

// The overview of the filter's device, which must be named (kUnknownDevice
// otherwise). Throws as the store does.
[[nodiscard]] JournalOverview ReadOverview(JournalStore& store, const StatsFilter& filter);

}  // namespace veks
