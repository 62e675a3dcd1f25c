// Merging journals: each device of one journal, read whole, joins the device
// of the same name in another, its history by the import rules and its notes
// with every version.
//
// A note is the same note in every journal by its uuid. A version of a note
// is the same version by what it holds (kind, text, author, the moment it was
// written and whether it deletes), not by its number, which each journal
// gives in the order versions reached it. So a version that arrives twice is
// kept once, and two journals that each wrote another version of the same
// note keep both. A merge appends the versions the target lacks after its
// own: their edits in the order they were written, deletes last. Which
// version a note shows and whether it is deleted do not depend on the
// numbers (journal_notes.h): merging A into B and B into A leaves the same
// notes, each with the same versions.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "journal/journal_store.h"

namespace veks {

inline constexpr const char* kMsgMergeSelf = "Журнал нельзя объединить с самим собой";

// A version of a note as it travels between journals: what identifies it.
struct NoteVersionCopy {
  std::string kind;
  std::string text;
  std::string author;
  std::string written;  // UTC, "YYYY-MM-DDThh:mm:ssZ"
  bool deleted = false;
  auto operator<=>(const NoteVersionCopy&) const = default;
};

// A note as it travels: what it is attached to and every version, oldest
// first.
struct NoteCopy {
  std::string uuid;
  // A note on an event: the event at `position` (from 0) of
  // DeviceCopy::segments[segment], with these bytes.
  std::optional<EventRecord> event;
  std::size_t segment = 0;
  std::size_t position = 0;
  // The note's event was taken away by an undone import: the note has the
  // bytes and no place (segment and position say nothing).
  bool waiting = false;
  std::optional<std::string> moment;  // an operator entry's moment
  std::vector<NoteVersionCopy> versions;
};

// One device of a journal as a merge takes it: its segments in the order in
// which they were made, each a run of events oldest first, and its notes in
// the order they were added.
struct DeviceCopy {
  std::string name;
  std::vector<std::vector<EventRecord>> segments;
  std::vector<NoteCopy> notes;
};

// What merging one device did.
struct MergeOutcome {
  std::string device;
  std::int64_t newEvents = 0;   // events the device's history did not hold
  bool newSegment = false;      // a segment stands apart from the history it had before
  bool joinedSegments = false;  // a segment of the source made two or more one
  std::int64_t notes = 0;       // notes that came new or with versions new here
};

// "DEVICE: новых событий: N" with the import line's "; новый участок,
// возможен пропуск событий" and "; участки объединены", then "; примечаний:
// M" when notes came.
[[nodiscard]] std::string MergeOutcomeText(const MergeOutcome& outcome);

// Visits every device of the journal, by name (byte order), each read whole,
// all in one state of the journal. Stops when `visit` returns false; returns
// the number of devices visited. Nothing is written.
std::int64_t ForEachDeviceCopy(JournalStore& store,
                               const std::function<bool(const DeviceCopy&)>& visit);

// Joins `device` with the device of its name in one transaction (making it
// when new): each of its segments, in order, taken as one copy (StitchCopy),
// the notes of a segment's events put on those events as soon as they stand
// in the history, then its operator entries; notes already here gain the
// versions they lack. `source` names the journal it came from in the imports
// row written when the history changed. Throws JournalError or SqliteError,
// writing nothing then.
MergeOutcome MergeDevice(JournalStore& store, const DeviceCopy& device, const std::string& source);

// Whether the two names lead to one existing file (the same device and
// inode), so that a journal would be merged into itself.
[[nodiscard]] bool SameJournalFile(const std::string& a, const std::string& b);

}  // namespace veks
