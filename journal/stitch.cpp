#include "journal/stitch.h"

#include <algorithm>
#include <unordered_set>

namespace veks {
namespace {

std::uint64_t Key(const EventRecord& event) {
  std::uint64_t key = 0;
  for (const std::uint8_t byte : event) key = key << 8 | byte;
  return key;
}

// Answers "do the segment's events from `pos` on equal these?" from the runs
// of an excerpt. A position outside every run holds an event the copy lacks,
// so a comparison that reaches one fails.
class ExcerptView {
 public:
  explicit ExcerptView(const SegmentExcerpt& excerpt) : excerpt_(excerpt) {}

  [[nodiscard]] bool matches(std::int64_t pos, std::span<const EventRecord> expected) const {
    if (pos < 0 || pos + static_cast<std::int64_t>(expected.size()) > excerpt_.length) return false;
    const auto& runs = excerpt_.runs;
    auto run = std::upper_bound(runs.begin(), runs.end(), pos,
                                [](std::int64_t p, const EventRun& r) { return p < r.start; });
    if (run == runs.begin()) return false;
    --run;
    std::size_t done = 0;
    while (done < expected.size()) {
      const std::int64_t at = pos + static_cast<std::int64_t>(done);
      if (run == runs.end() || at < run->start ||
          at >= run->start + static_cast<std::int64_t>(run->events.size())) {
        return false;
      }
      const auto offset = static_cast<std::size_t>(at - run->start);
      const std::size_t count = std::min(expected.size() - done, run->events.size() - offset);
      if (!std::equal(expected.begin() + static_cast<std::ptrdiff_t>(done),
                      expected.begin() + static_cast<std::ptrdiff_t>(done + count),
                      run->events.begin() + static_cast<std::ptrdiff_t>(offset))) {
        return false;
      }
      done += count;
      ++run;
    }
    return true;
  }

  // The segment's first event, when the excerpt shows it.
  [[nodiscard]] const EventRecord* first() const {
    const auto& runs = excerpt_.runs;
    if (runs.empty() || runs.front().start != 0 || runs.front().events.empty()) return nullptr;
    return &runs.front().events.front();
  }

  template <typename Visit>
  void forEachPositionOf(const EventRecord& event, Visit&& visit) const {
    for (const EventRun& run : excerpt_.runs) {
      for (std::size_t i = 0; i < run.events.size(); ++i) {
        if (run.events[i] == event) visit(run.start + static_cast<std::int64_t>(i));
      }
    }
  }

 private:
  const SegmentExcerpt& excerpt_;
};

enum class OverlapKind { kHolds, kContinues, kPrecedes };

struct SegmentMatch {
  bool holdsCopy = false;
  std::optional<OverlapKind> kind;
  std::int64_t length = 0;
  // Where the copy stands in the segment (holdsCopy), or the segment in the copy (kHolds).
  std::int64_t at = 0;
};

SegmentMatch MatchSegment(std::span<const EventRecord> copy, const SegmentExcerpt& excerpt) {
  const ExcerptView view(excerpt);
  const auto n = static_cast<std::int64_t>(copy.size());
  const std::int64_t length = excerpt.length;
  SegmentMatch match;

  // Rule 1, and (a): where the copy's first event stands in the segment.
  std::int64_t continues = 0;
  view.forEachPositionOf(copy.front(), [&](std::int64_t pos) {
    if (!match.holdsCopy && view.matches(pos, copy)) {
      match.holdsCopy = true;
      match.at = pos;
    }
    const std::int64_t k = length - pos;
    if (k <= n && k > continues && view.matches(pos, copy.first(static_cast<std::size_t>(k)))) {
      continues = k;
    }
  });
  if (match.holdsCopy) return match;

  std::int64_t holds = 0, holdsAt = 0, precedes = 0;
  if (const EventRecord* first = view.first()) {
    for (std::int64_t i = 0; i < n; ++i) {
      if (copy[static_cast<std::size_t>(i)] != *first) continue;
      const auto from = static_cast<std::size_t>(i);
      // (c): the whole segment from the copy's event i on.
      if (holds == 0 && i + length <= n &&
          view.matches(0, copy.subspan(from, static_cast<std::size_t>(length)))) {
        holds = length;
        holdsAt = i;
      }
      // (b): the copy's events from i to its end begin the segment. The
      // first such i is the longest overlap.
      if (precedes == 0 && n - i <= length && view.matches(0, copy.subspan(from))) {
        precedes = n - i;
      }
    }
  }
  // The longest overlap wins; on equal length (c), then (a), then (b).
  if (holds > 0 && holds >= continues && holds >= precedes) {
    match.kind = OverlapKind::kHolds;
    match.length = holds;
    match.at = holdsAt;
  } else if (continues > 0 && continues >= precedes) {
    match.kind = OverlapKind::kContinues;
    match.length = continues;
  } else if (precedes > 0) {
    match.kind = OverlapKind::kPrecedes;
    match.length = precedes;
  }
  return match;
}

using KeySet = std::unordered_set<std::uint64_t>;

KeySet CopyKeys(std::span<const EventRecord> copy) {
  KeySet keys;
  for (const EventRecord& e : copy) keys.insert(Key(e));
  return keys;
}

SegmentExcerpt ExcerptOf(std::int64_t id, std::span<const EventRecord> segment,
                         const KeySet& inCopy) {
  SegmentExcerpt excerpt{id, static_cast<std::int64_t>(segment.size()), {}};
  for (std::size_t i = 0; i < segment.size(); ++i) {
    if (!inCopy.contains(Key(segment[i]))) continue;
    const auto pos = static_cast<std::int64_t>(i);
    auto& runs = excerpt.runs;
    if (runs.empty() ||
        runs.back().start + static_cast<std::int64_t>(runs.back().events.size()) != pos) {
      runs.push_back({pos, {}});
    }
    runs.back().events.push_back(segment[i]);
  }
  return excerpt;
}

}  // namespace

SegmentExcerpt ExcerptFor(std::int64_t id, std::span<const EventRecord> segment,
                          std::span<const EventRecord> copy) {
  return ExcerptOf(id, segment, CopyKeys(copy));
}

std::vector<std::int64_t> LookupPositions(std::int64_t copySize) {
  std::vector<std::int64_t> positions;
  if (copySize <= 0) return positions;
  positions.reserve(static_cast<std::size_t>(copySize / kLookupStep + 2));
  for (std::int64_t at = 0; at < copySize; at += kLookupStep) positions.push_back(at);
  if (positions.back() != copySize - 1) positions.push_back(copySize - 1);
  return positions;
}

StitchPlan PlanStitch(std::span<const EventRecord> copy, std::span<const SegmentExcerpt> segments) {
  StitchPlan plan;
  if (copy.empty()) return plan;
  for (const SegmentExcerpt& segment : segments) {
    const SegmentMatch match = MatchSegment(copy, segment);
    if (match.holdsCopy) {
      plan.kind = StitchPlan::Kind::kAlreadyHeld;
      plan.heldBy = segment.id;
      plan.heldAt = match.at;
      plan.before.reset();
      plan.after.reset();
      plan.absorbed.clear();
      return plan;
    }
    if (!match.kind) continue;
    const SegmentOverlap overlap{segment.id, match.length};
    switch (*match.kind) {
      case OverlapKind::kHolds:
        plan.absorbed.push_back({segment.id, match.at});
        break;
      case OverlapKind::kContinues:
        if (!plan.before || overlap.length > plan.before->length) plan.before = overlap;
        break;
      case OverlapKind::kPrecedes:
        if (!plan.after || overlap.length > plan.after->length) plan.after = overlap;
        break;
    }
  }
  const std::size_t n = copy.size();
  // Only repeated events can make the two overlaps share events of the copy;
  // then the shorter one does not join.
  if (plan.before && plan.after &&
      static_cast<std::size_t>(plan.before->length + plan.after->length) > n) {
    if (plan.after->length > plan.before->length) {
      plan.before.reset();
    } else {
      plan.after.reset();
    }
  }
  plan.kind =
      plan.joinedSegments() == 0 ? StitchPlan::Kind::kNewSegment : StitchPlan::Kind::kJoined;
  plan.newFrom = plan.before ? static_cast<std::size_t>(plan.before->length) : 0;
  plan.newTo = n - (plan.after ? static_cast<std::size_t>(plan.after->length) : 0);
  return plan;
}

StitchPlan MemoryHistory::import(std::span<const EventRecord> copy) {
  std::vector<SegmentExcerpt> excerpts;
  excerpts.reserve(segments_.size());
  const KeySet keys = CopyKeys(copy);
  for (const Segment& s : segments_) excerpts.push_back(ExcerptOf(s.id, s.events, keys));
  const StitchPlan plan = PlanStitch(copy, excerpts);
  if (plan.kind == StitchPlan::Kind::kNewSegment) {
    segments_.push_back({nextId_, nextId_, {copy.begin(), copy.end()}});
    ++nextId_;
  }
  if (plan.kind != StitchPlan::Kind::kJoined) return plan;

  auto find = [&](std::int64_t id) {
    return std::find_if(segments_.begin(), segments_.end(),
                        [&](const Segment& s) { return s.id == id; });
  };
  std::vector<std::int64_t> joined;
  for (const AbsorbedSegment& held : plan.absorbed) joined.push_back(held.segment);
  if (plan.before) joined.push_back(plan.before->segment);
  if (plan.after) joined.push_back(plan.after->segment);

  Segment merged;
  merged.id = plan.before  ? plan.before->segment
              : plan.after ? plan.after->segment
                           : joined.front();
  merged.rank = find(joined.front())->rank;
  for (const std::int64_t id : joined) merged.rank = std::min(merged.rank, find(id)->rank);
  if (plan.before) merged.events = find(plan.before->segment)->events;
  merged.events.insert(merged.events.end(),
                       copy.begin() + static_cast<std::ptrdiff_t>(plan.newFrom),
                       copy.begin() + static_cast<std::ptrdiff_t>(plan.newTo));
  if (plan.after) {
    const auto& tail = find(plan.after->segment)->events;
    merged.events.insert(merged.events.end(), tail.begin(), tail.end());
  }
  std::erase_if(segments_, [&](const Segment& s) {
    return std::find(joined.begin(), joined.end(), s.id) != joined.end();
  });
  const auto at = std::find_if(segments_.begin(), segments_.end(),
                               [&](const Segment& s) { return s.rank > merged.rank; });
  segments_.insert(at, std::move(merged));
  return plan;
}

}  // namespace veks
