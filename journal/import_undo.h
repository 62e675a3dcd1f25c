// Undoing a device's last import: what an import records of the change it
// made to the device's segments, and putting those segments back.
//
// An import adds events to one segment of its device (extending one, or
// making a new one) and may join other segments of the device into it. Its
// record names that segment, the row the segment had before (none when the
// import made it) and, for each segment it joined in, the row that segment
// had and the seq where its first event stands now. Undoing the import moves
// the joined segments' events back into segments of their own, removes the
// events the import added and gives the segment its row back: the device's
// history is then what it was before the import, segment for segment.
//
// Notes are never removed. A note on an event that the undo removes keeps its
// device and its event's bytes, and loses its place (segment_id and seq
// NULL): it waits for its event. When a later import into the device adds
// exactly one event with those bytes, the note goes back onto it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal_store.h"
#include "journal/journal_types.h"

namespace veks {

// What an import changed in its device's segments.
struct ImportChange {
  std::int64_t segment = 0;         // the segment that holds the copy's events now
  std::optional<SegmentRow> prior;  // its row before the import; none when the import made it
  // The segments joined into it: the seq where each one's first event stands
  // now, and its row before the import.
  std::vector<std::pair<std::int64_t, SegmentRow>> joined;
};

// Within an import's transaction, after it wrote its change: makes `change`
// what undoing import `importId` puts back, in place of the device's earlier
// record, and puts the device's notes that wait for their event onto the
// events the import added. A change that could not be put back exactly
// (repeated events that made two of its parts share events) leaves the
// device without a record: that import cannot be undone.
void RecordImportChange(JournalStore& store, std::int64_t importId, std::int64_t device,
                        const ImportChange& change);

// Forgets the device's record: its last import can no longer be undone.
void ForgetImportChange(JournalStore& store, std::int64_t device);

// The device's last import while it can be undone; nothing when it cannot (no
// import since the journal kept records, or it was undone, or a rename
// joined the device, or a merge into it). kUnknownDevice when `device` names none.
std::optional<UndoableImport> LastImport(JournalStore& store, const std::string& device);

// Undoes the device's last import in one transaction and returns the number
// of events it removed. Fails, writing nothing, with kUnknownDevice; kChanged
// when that import is not `expectedImport` (another came meanwhile) or can no
// longer be undone; kNotedEvents when events it would remove carry notes not
// deleted and `allowNotedEvents` is false (deleted ones, which nothing shows,
// wait for their events without asking). The import's row stays in imports,
// marked undone; a device that the import made, left without events and
// notes, goes with its rows of imports.
std::int64_t UndoLastImport(JournalStore& store, const std::string& device,
                            std::int64_t expectedImport, bool allowNotedEvents);

}  // namespace veks
