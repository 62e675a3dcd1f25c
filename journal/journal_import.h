// How an archive copy joins the journal: choosing the device, planning the
// stitch against that device's segments, and writing the plan.
//
// Only a few of the copy's events are looked up in the journal (see
// LookupPositions); the segments they are found in are read around those
// places, and stitching decides on those excerpts alone.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "archive/archive_format.h"
#include "journal/journal_store.h"
#include "journal/journal_types.h"
#include "journal/stitch.h"

namespace veks {

// Imports the copy's events (oldest first) of `archive` in a transaction of
// its own. With `device` the copy joins that device (created when new);
// without, the one device whose history holds or overlaps the copy, else a
// new device named after the file's stem; when two or more devices hold or
// overlap it, throws JournalError kManyDevices and writes nothing.
ImportOutcome ImportCopy(JournalStore& store, const std::string& archive,
                         std::span<const EventRecord> copy,
                         const std::optional<std::string>& device);

// The device that ImportCopy without a device would choose (or its
// kManyDevices failure). Nothing is written.
std::string ProposeDevice(JournalStore& store, const std::string& archive,
                          std::span<const EventRecord> copy);

// Takes `segment`, a segment of another device, into `device`'s history by
// the import rules, as if it were a copy: it moves over as a segment of its
// own (keeping its rank), disappears into the segment that holds it, or is
// joined with the segments it overlaps (the joined segment taking the
// earliest rank of the others). The segment must rank after every segment of
// `device`. Runs inside the caller's transaction. Like StitchCopy, it
// leaves the undo of the devices' last imports (import_undo.h) to the
// caller, who forgets their records first: they would name segments it drops.
void JoinSegment(JournalStore& store, std::int64_t device, std::int64_t segment);

// What stitching a run of events into a device did.
struct StitchedCopy {
  StitchPlan::Kind kind = StitchPlan::Kind::kEmptyCopy;
  std::size_t joinedSegments = 0;  // StitchPlan::joinedSegments
  std::int64_t gained = 0;         // events the device's history did not hold
  // Where the run's first event stands now; its later events follow it in
  // the same segment, one seq apart (nothing for an empty run).
  EventPlace start;
};

// Takes `copy` (events known to follow one another, oldest first, of any
// length) into `device`'s history by the import rules, as an import would
// take a copy with --device. A new segment ranks after every other. Runs
// inside the caller's transaction and writes no imports row.
StitchedCopy StitchCopy(JournalStore& store, std::int64_t device,
                        std::span<const EventRecord> copy);

}  // namespace veks
