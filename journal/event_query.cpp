#include "journal/event_query.h"

#include <algorithm>

namespace veks {
namespace {

std::optional<std::string> EdgeTimestamp(JournalStore& store,
                                         const std::vector<SegmentRow>& segments, bool first) {
  // "+timestamp" keeps SQLite on the segment's own order instead of the
  // timestamp index, so that the search stops at the first stamped event.
  StatementLease edge = store.statement(
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

}  // namespace

FilterQuery::FilterQuery(JournalStore& store, const EventFilter& filter)
    : store_(store),
      filter_(filter),
      fromBound_(filter.fromDate.value_or("")),
      toBound_(filter.toDate ? *filter.toDate + "T23:59:59" : std::string()) {}

bool FilterQuery::filters() const {
  return filter_.fromDate || filter_.toDate || filter_.input || filter_.eventText ||
         filter_.withNotes;
}

std::string FilterQuery::sql(const std::string& select, const char* via, const char* tail) const {
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
  // The noted events of a segment are found through the notes' index and
  // read by the table's key. A note with a delete among its versions is deleted.
  if (filter_.withNotes) {
    sql += store_.hasNotes() ? " AND seq IN (SELECT n.seq FROM notes n WHERE n.segment_id = ?1 "
                               "AND NOT EXISTS (SELECT 1 FROM note_versions v "
                               "WHERE v.note = n.number AND v.deleted = 1))"
                             : " AND 1 = 0";
  }
  return sql + tail;
}

StatementLease FilterQuery::prepare(const std::string& sql, std::int64_t segment, Rows rows) {
  StatementLease statement = store_.statement(sql, rows);
  statement.bind(1, segment);
  if (filter_.fromDate) statement.bind(2, std::string_view(fromBound_));
  if (filter_.toDate) statement.bind(3, std::string_view(toBound_));
  if (filter_.input) statement.bind(4, std::int64_t{*filter_.input});
  if (filter_.eventText) statement.bind(5, std::string_view(*filter_.eventText));
  return statement;
}

bool FilterQuery::mayHoldDates(std::int64_t segment) {
  if (!filter_.fromDate && !filter_.toDate) return true;
  if (!datedSought_) {
    datedSought_ = true;
    // Every event stands in the moment index by its timestamp (its segment
    // comes with it), so the range's events are one run of it. Reading more
    // of them than some dozens per segment would cost more than asking each
    // segment through its own timestamp index: then every segment is asked.
    if (!store_.hasIndex("events_moment")) return true;
    StatementLease segments = store_.statement("SELECT count(*) FROM segments");
    segments.step();
    const std::int64_t limit = 64 * segments.integer(0) + 1024;
    std::string sql =
        "SELECT segment_id, count(*) FROM (SELECT segment_id FROM events "
        "INDEXED BY events_moment WHERE 1 = 1";
    if (filter_.fromDate) sql += " AND timestamp >= ?2";
    if (filter_.toDate) sql += " AND timestamp <= ?3";
    StatementLease found = store_.statement(sql + " LIMIT ?1) AS dated GROUP BY segment_id");
    found.bind(1, limit);
    if (filter_.fromDate) found.bind(2, std::string_view(fromBound_));
    if (filter_.toDate) found.bind(3, std::string_view(toBound_));
    std::set<std::int64_t> dated;
    std::int64_t events = 0;
    while (found.step()) {
      dated.insert(found.integer(0));
      events += found.integer(1);
    }
    if (events < limit) dated_ = std::move(dated);
  }
  return !dated_ || dated_->contains(segment);
}

FilterQuery::Plan FilterQuery::plan(const SegmentRow& segment) {
  if (!mayHoldDates(segment.id)) return {nullptr, 0};
  if (filter_.withNotes && !filter_.fromDate && !filter_.toDate && !filter_.input &&
      !filter_.eventText) {
    // Every note's event is in the journal (the notes' foreign key), so the
    // noted events are counted from the notes alone.
    if (!store_.hasNotes()) return {nullptr, 0};
    auto&& count = store_.statement(
        "SELECT count(DISTINCT n.seq) FROM notes n WHERE n.segment_id = ?1 AND NOT EXISTS "
        "(SELECT 1 FROM note_versions v WHERE v.note = n.number AND v.deleted = 1)");
    count.bind(1, segment.id);
    count.step();
    return {nullptr, count.integer(0)};
  }
  const std::int64_t few = std::max<std::int64_t>(1000, segment.count / 8);
  const std::pair<const char*, bool> candidates[] = {
      {"events_timestamp", filter_.fromDate || filter_.toDate},
      {"events_argument", filter_.input.has_value()},
      {"events_event", filter_.eventText.has_value()}};
  for (const auto& [index, applies] : candidates) {
    if (!applies || !store_.hasIndex(index)) continue;
    StatementLease count = prepare(
        "SELECT count(*) FROM (" + sql("SELECT 1", index, " LIMIT ?6") + ") AS few", segment.id);
    count.bind(6, few);
    count.step();
    const std::int64_t found = count.integer(0);
    // Fewer than the limit: the probe counted every row that passes.
    if (found < few) return {index, found};
  }
  return {};
}

std::int64_t FilterQuery::count(const SegmentRow& segment, const Plan& plan) {
  if (!filters()) return segment.count;
  if (plan.count) return *plan.count;
  StatementLease count = prepare(sql("SELECT count(*)", plan.index), segment.id);
  count.step();
  return count.integer(0);
}

std::vector<std::pair<std::int64_t, std::string>> DevicesOf(JournalStore& store,
                                                            const EventFilter& filter) {
  std::vector<std::pair<std::int64_t, std::string>> devices;
  if (filter.device) {
    const auto id = store.deviceId(*filter.device);
    if (!id) throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
    devices.emplace_back(*id, *filter.device);
  } else {
    devices = store.devicesByName();
  }
  return devices;
}

std::vector<DeviceSummary> DeviceSummaries(JournalStore& store) {
  const std::vector<std::pair<std::int64_t, std::string>> all = store.devicesByName();
  std::vector<DeviceSummary> summaries;
  for (const auto& [id, name] : all) {
    const std::vector<SegmentRow> segments = store.orderedSegments(id);
    DeviceSummary summary{name, 0, static_cast<std::int64_t>(segments.size()), {}, {}};
    for (const SegmentRow& s : segments) summary.events += s.count;
    summary.firstTimestamp = EdgeTimestamp(store, segments, true);
    summary.lastTimestamp = EdgeTimestamp(store, segments, false);
    summaries.push_back(std::move(summary));
  }
  return summaries;
}

std::int64_t ForEachEvent(JournalStore& store, const EventFilter& filter, EventOrder order,
                          const EventVisitor& visit) {
  FilterQuery query(store, filter);
  const char* const direction =
      order == EventOrder::kOldestFirst ? " ORDER BY seq" : " ORDER BY seq DESC";
  std::int64_t visited = 0;
  for (const auto& [device, name] : DevicesOf(store, filter)) {
    const std::vector<SegmentRow> segments = store.orderedSegments(device);
    for (std::size_t i = 0; i < segments.size(); ++i) {
      const std::size_t at = order == EventOrder::kOldestFirst ? i : segments.size() - 1 - i;
      const FilterQuery::Plan plan = query.plan(segments[at]);
      if (plan.count == 0) continue;
      StatementLease rows = query.prepare(query.sql("SELECT seq, raw", plan.index, direction),
                                          segments[at].id, Rows::kMany);
      JournalEvent event{name, static_cast<int>(at + 1), {}};
      while (rows.step()) {
        event.place = {segments[at].id, rows.integer(0)};
        event.raw = RecordOf(rows.blob(1));
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

}  // namespace veks
