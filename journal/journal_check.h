// The journal's check: SQLite's integrity check and the journal's own rules,
// read in one state of the journal, without writing.
//
// The rules: every event belongs to a segment and every segment to a device;
// each segment's events are numbered first_seq..last_seq without a hole; a
// segment's event_count and last_timestamp are those of its events; every
// stored text and number of an event (code, argument, timestamp, date, time,
// event, input) is what its eight stored bytes decode to; segment ranks are
// distinct within a device; every device has a segment. Of notes: every
// note's event is found where the note says it stands, holds the bytes the
// note was written to, and is of the note's device; every note has its
// versions numbered from 1 without a hole, a delete only as the last.
#pragma once

#include <string>
#include <vector>

#include "journal/journal_store.h"

namespace veks {

// One line per problem found, naming the device and the segment (by its
// number in the device's order) where there are such; none for a sound
// journal. A part of the journal that cannot be read at all is a problem too,
// and the check goes on with the next rule.
[[nodiscard]] std::vector<std::string> CheckJournal(JournalStore& store);

}  // namespace veks
