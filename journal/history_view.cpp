#include "journal/history_view.h"

#include <algorithm>
#include <map>

#include "journal/event_query.h"

namespace veks {

HistoryView::HistoryView(JournalStore& store, EventFilter filter)
    : store_(store), filter_(std::move(filter)) {
  layOut();
}

HistoryView::Version HistoryView::version() { return store_.changeMark(); }

void HistoryView::layOut() {
  const ReadSnapshot snapshot(store_);
  const Version version = this->version();
  layout_ = LayOut(store_, filter_);
  version_ = version;
}

std::vector<std::int64_t> HistoryView::gapRows() const {
  std::vector<std::int64_t> rows;
  for (std::size_t p = 1; p < layout_.parts.size(); ++p)
    rows.push_back(layout_.parts[p].firstRow - 1);
  return rows;
}

JournalResult<std::vector<HistoryRow>> HistoryView::rows(std::int64_t first, std::int64_t count) {
  return Guarded([&] {
    const ReadSnapshot snapshot(store_);
    if (version() != version_) {
      throw JournalError{JournalError::Kind::kChanged, kMsgJournalChanged};
    }
    return read(first, count);
  });
}

JournalResult<std::vector<std::int64_t>> HistoryView::rowsAbove(
    std::span<const NoteVersion> entries) {
  return Guarded([&] {
    const ReadSnapshot snapshot(store_);
    if (version() != version_) {
      throw JournalError{JournalError::Kind::kChanged, kMsgJournalChanged};
    }
    FilterQuery query(store_, filter_);
    // Under the notes' filter alone, a segment's noted events are read once
    // and each entry's place found among them, instead of a count apiece.
    const bool notedOnly = filter_.withNotes && !filter_.fromDate && !filter_.toDate &&
                           !filter_.input && !filter_.eventText;
    std::map<std::int64_t, std::vector<std::int64_t>> noted;
    const auto notedSeqs = [&](std::int64_t segment) -> const std::vector<std::int64_t>& {
      auto [found, added] = noted.try_emplace(segment);
      if (added) {
        StatementLease read = store_.statement(
            "SELECT DISTINCT n.seq FROM notes n WHERE n.segment_id = ?1 AND NOT EXISTS "
            "(SELECT 1 FROM note_versions v WHERE v.note = n.number AND v.deleted = 1) ORDER BY "
            "n.seq");
        read.bind(1, segment);
        while (read.step()) found->second.push_back(read.integer(0));
      }
      return found->second;
    };
    std::vector<std::int64_t> above;
    above.reserve(entries.size());
    for (const NoteVersion& entry : entries) {
      // Parts run newest first: the first one not newer than the entry's
      // segment holds its place, or stands right below it.
      const auto part = std::find_if(layout_.parts.begin(), layout_.parts.end(),
                                     [&](const Part& p) { return p.segment <= entry.segment; });
      if (!entry.place || part == layout_.parts.end()) {
        above.push_back(layout_.rows);
      } else if (part->segmentId != entry.place->segment) {
        above.push_back(part->firstRow);
      } else if (!query.filters()) {
        above.push_back(part->firstRow + part->lastSeq - entry.place->seq);
      } else if (notedOnly) {
        const std::vector<std::int64_t>& seqs = notedSeqs(part->segmentId);
        const auto newer = std::upper_bound(seqs.begin(), seqs.end(), entry.place->seq);
        above.push_back(part->firstRow + (seqs.end() - newer));
      } else {
        StatementLease count = query.prepare(
            query.sql("SELECT count(*)", part->index, " AND seq > ?6"), part->segmentId);
        count.bind(6, entry.place->seq);
        count.step();
        above.push_back(part->firstRow + count.integer(0));
      }
    }
    return above;
  });
}

std::optional<JournalError> HistoryView::reload() {
  auto done = Guarded([&] {
    layOut();
    return true;
  });
  if (done.ok()) return std::nullopt;
  return done.error();
}

HistoryView::Layout HistoryView::LayOut(JournalStore& store, const EventFilter& filter) {
  const auto devices = DevicesOf(store, filter);
  if (devices.size() != 1) {
    throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  }
  FilterQuery query(store, filter);
  HistoryView::Layout layout;
  const std::vector<SegmentRow> segments = store.orderedSegments(devices.front().first);
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

std::vector<HistoryRow> HistoryView::read(std::int64_t first, std::int64_t count) {
  const Layout& layout = layout_;
  FilterQuery query(store_, filter_);
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
    std::vector<std::pair<std::int64_t, EventRecord>> events;  // seq, bytes
    events.reserve(static_cast<std::size_t>(take));
    if (!query.filters()) {
      // Every event passes and seq runs without gaps: the place is arithmetic.
      StatementLease read = store_.statement(
          "SELECT seq, raw FROM events WHERE segment_id = ?1 AND seq <= ?2 ORDER BY seq DESC LIMIT "
          "?3");
      read.bind(1, part.segmentId).bind(2, part.lastSeq - offset).bind(3, take);
      while (read.step()) events.push_back({read.integer(0), RecordOf(read.blob(1))});
    } else {
      // Skipping rows costs their reading: read from the nearer end.
      const std::int64_t fromOldest = part.events - offset - take;
      const bool backwards = fromOldest < offset;
      StatementLease read =
          query.prepare(query.sql("SELECT seq, raw", part.index,
                                  backwards ? " ORDER BY seq LIMIT ?6 OFFSET ?7"
                                            : " ORDER BY seq DESC LIMIT ?6 OFFSET ?7"),
                        part.segmentId);
      read.bind(6, take).bind(7, backwards ? fromOldest : offset);
      while (read.step()) events.push_back({read.integer(0), RecordOf(read.blob(1))});
      if (backwards) std::reverse(events.begin(), events.end());
    }
    for (const auto& [seq, e] : events) {
      rows.push_back({false, part.segment, e, {part.segmentId, seq}});
    }
    first += take;
  }
  return rows;
}

}  // namespace veks
