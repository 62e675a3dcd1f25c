// How an archive copy joins a device's history: the stitching, apart from any
// storage.
//
// A device's history is a list of segments, each a run of events known to
// follow one another with nothing between. A copy (its events oldest first)
//  1. changes nothing when it stands as one consecutive run inside a segment;
//  2. otherwise overlaps a segment when (a) a run at the segment's end equals
//     a run at the copy's start (the copy continues it), (b) a run at the
//     copy's end equals a run at the segment's start (the copy precedes it),
//     or (c) the copy holds the whole segment as one consecutive run. The
//     longest such run is the overlap; on equal length (c) before (a) before
//     (b). The copy and the segments it overlaps become one segment;
//  3. overlaps nothing and becomes a new segment.
// When events repeat (identical bytes written at different moments), more than
// one segment may continue into the copy, or precede it: then the one with the
// longest overlap joins (the earlier segment on equal length) and the others
// stay as they are. With distinct events that never happens, and the history
// does not depend on the order in which copies arrive.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "archive/archive_format.h"

namespace veks {

// A stretch of a segment: its events from position `start` (0 is the
// segment's oldest event) on.
struct EventRun {
  std::int64_t start = 0;
  std::vector<EventRecord> events;
};

// What stitching needs to see of a segment: its length and, as runs, the
// stretches of it that can line up with the copy. Every overlap and every
// containment is anchored: at a place of the copy's first event in the
// segment, at a place of its last, or (for a segment the copy holds whole) at
// the segment's start lined up with one of the copy's events. Runs that show
// the segment for the copy's length from each such alignment suffice; the
// runs of every event the copy holds (ExcerptFor) are more than enough. A
// comparison that reaches a position outside the runs fails.
struct SegmentExcerpt {
  std::int64_t id = 0;
  std::int64_t length = 0;
  std::vector<EventRun> runs;  // by start, not overlapping
};

// The excerpt of a whole segment for a copy: the maximal runs of its events
// that the copy also holds.
[[nodiscard]] SegmentExcerpt ExcerptFor(std::int64_t id, std::span<const EventRecord> segment,
                                        std::span<const EventRecord> copy);

// A segment the copy overlaps, and the length of the overlap.
struct SegmentOverlap {
  std::int64_t segment = 0;
  std::int64_t length = 0;
};

// A segment the copy holds whole, from the copy's event `at` on.
struct AbsorbedSegment {
  std::int64_t segment = 0;
  std::int64_t at = 0;
};

struct StitchPlan {
  enum class Kind {
    kEmptyCopy,    // a copy without events: nothing to store
    kAlreadyHeld,  // rule 1: `heldBy` holds the whole copy
    kNewSegment,   // rule 3
    kJoined,       // rule 2
  };
  Kind kind = Kind::kEmptyCopy;
  std::int64_t heldBy = 0;
  // Where the copy's first event stands in `heldBy` (0 is its oldest event).
  std::int64_t heldAt = 0;
  // The segment the copy continues: its last `length` events are the copy's first.
  std::optional<SegmentOverlap> before;
  // The segment the copy precedes: its first `length` events are the copy's last.
  std::optional<SegmentOverlap> after;
  // Segments the copy holds whole; their events are among the new ones.
  std::vector<AbsorbedSegment> absorbed;
  // The copy's events [newFrom, newTo) come between `before` and `after`.
  std::size_t newFrom = 0;
  std::size_t newTo = 0;

  // Segments that become one (the copy's own events aside).
  [[nodiscard]] std::size_t joinedSegments() const {
    return (before ? 1 : 0) + (after ? 1 : 0) + absorbed.size();
  }
};

// Which of a copy's events an import looks up in the journal: one in every
// kLookupStep, from the first, and the last. Found events anchor the excerpts
// that stitching sees, so the positions must satisfy: for a copy of n > 0
// events, 0 and n - 1 are among them (an overlap of either kind holds the
// copy's first or last event), and two neighbours stand at most kLookupStep
// apart (a segment that the copy holds whole and that has at least
// kLookupStep events holds a looked-up event). Segments shorter than the
// step are the import's to read whole.
inline constexpr std::int64_t kLookupStep = 32;

// The positions to look up in a copy of `copySize` events, ascending, each
// once; none for an empty copy.
[[nodiscard]] std::vector<std::int64_t> LookupPositions(std::int64_t copySize);

// Decides how `copy` joins the segments of one device. `segments` come in the
// order in which they were made; that order breaks ties.
[[nodiscard]] StitchPlan PlanStitch(std::span<const EventRecord> copy,
                                    std::span<const SegmentExcerpt> segments);

// A device's history held in memory: the reference that the journal's storage
// follows, used by tests and the fuzz target.
struct Segment {
  std::int64_t id = 0;
  std::int64_t rank = 0;  // order of making; a joined segment keeps the earliest
  std::vector<EventRecord> events;
};

class MemoryHistory {
 public:
  StitchPlan import(std::span<const EventRecord> copy);
  // Segments in the order in which they were made.
  [[nodiscard]] const std::vector<Segment>& segments() const { return segments_; }

 private:
  std::vector<Segment> segments_;
  std::int64_t nextId_ = 1;
};

}  // namespace veks
