// Queries over the journal's events: which events pass a filter, in which
// order they are visited, and the summary of each device.
//
// A filter's shape (which of its fields are given) makes the SQL; its values
// are always bound. For each segment the query decides whether one of the
// filter's indexes finds the passing events cheaper than reading the segment
// in its own order (FilterQuery::plan). A date range first finds, in one pass
// over the moment index, the few segments that hold any of its events, so
// that a short range costs no more in a thousand segments than in one.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal_store.h"
#include "journal/journal_types.h"

namespace veks {

// The statements that read the events of one segment that pass a filter.
// The filter must outlive the query.
class FilterQuery {
 public:
  FilterQuery(JournalStore& store, const EventFilter& filter);

  // Whether any filter besides the device is given.
  [[nodiscard]] bool filters() const;

  // "SELECT ... FROM events [INDEXED BY via] WHERE segment_id = ?1 AND <filters>" + tail.
  // `via` names the index that finds the rows, or none for the segment's own
  // order; a column written "+column" is kept from choosing an index itself.
  // The tail may bind ?6 and up.
  [[nodiscard]] std::string sql(const std::string& select, const char* via,
                                const char* tail = "") const;

  // A statement for `sql`, with the segment and the filter's values bound.
  StatementLease prepare(const std::string& sql, std::int64_t segment, Rows rows = Rows::kFew);

  // How a segment's events that pass are found: through `index`, or in the
  // segment's own order when none. The probe that chooses an index counts the
  // rows it leaves, so `count` comes with it; a count of 0 needs no reading.
  struct Plan {
    const char* index = nullptr;
    std::optional<std::int64_t> count;
  };
  Plan plan(const SegmentRow& segment);

  // How many of the segment's events pass.
  std::int64_t count(const SegmentRow& segment, const Plan& plan);

 private:
  // Whether the segment may hold an event of the filter's date range.
  bool mayHoldDates(std::int64_t segment);

  JournalStore& store_;
  const EventFilter& filter_;
  std::string fromBound_;
  std::string toBound_;
  // The segments that hold an event of the date range, once looked for
  // (datedSought_); none when the range holds too many events for one pass
  // to pay, or the journal has no moment index.
  bool datedSought_ = false;
  std::optional<std::set<std::int64_t>> dated_;
};

// The devices a filter names: its device (kUnknownDevice when there is no
// such device), or every device by name.
[[nodiscard]] std::vector<std::pair<std::int64_t, std::string>> DevicesOf(
    JournalStore& store, const EventFilter& filter);

// Visits the events that pass, in `order`; returns how many it visited.
std::int64_t ForEachEvent(JournalStore& store, const EventFilter& filter, EventOrder order,
                          const EventVisitor& visit);

// Every device, by name, with its counts and the timestamps of its first and
// last stamped events.
[[nodiscard]] std::vector<DeviceSummary> DeviceSummaries(JournalStore& store);

}  // namespace veks
