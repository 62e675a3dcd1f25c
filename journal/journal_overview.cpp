#include "journal/journal_overview.h"

namespace veks {

JournalOverview ReadOverview(JournalStore& store, const StatsFilter& filter) {
  // The computations below each hold a snapshot of their own; inside this
  // one they all read the same state.
  ReadSnapshot snapshot(store);
  if (!filter.device) throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  const std::optional<std::int64_t> device = store.deviceId(*filter.device);
  if (!device) throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};

  JournalOverview overview;
  overview.stats = ComputeStats(store, filter);
  overview.hours = ComputeSeries(store, filter, SeriesPeriod::kHour);
  overview.due = ComputeDue(store, std::nullopt);

  std::optional<std::string> olderLast;
  for (const SegmentRow& segment : store.orderedSegments(*device)) {
    if (!segment.lastTimestamp) break;  // segments without stamps come last
    StatementLease first = store.statement(
        "SELECT timestamp FROM events WHERE segment_id = ?1 AND +timestamp IS NOT NULL "
        "ORDER BY seq LIMIT 1");
    first.bind(1, segment.id);
    if (first.step() && olderLast && std::string(first.text(0)) > *olderLast) {
      overview.gaps.push_back({*olderLast, std::string(first.text(0))});
    }
    olderLast = segment.lastTimestamp;
  }

  StatementLease imports =
      store.statement("SELECT imported_at FROM imports WHERE device_id = ?1 ORDER BY imported_at");
  imports.bind(1, *device);
  while (imports.step()) overview.imports.emplace_back(imports.text(0));
  return overview;
}

}  // namespace veks
