// Notes: what operators write about a device's events (a note) and about
// moments of its history (an operator entry), kept version by version.
//
// Nothing written is ever changed: an edit adds a version, a delete adds a
// version that marks the note deleted, and every version stays. A note's
// event is known by the event itself, wherever imports, segment joins and
// rename joins move it (the store carries notes along; journal_schema.cpp
// says how); its bytes are kept with it, so that `check` finds each note on
// its event.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "journal/journal_store.h"
#include "journal/journal_types.h"

namespace veks {

inline constexpr const char* kMsgNoSuchEvent = "Нет такого события";
inline constexpr const char* kMsgNoSuchNote = "Нет такого примечания";
inline constexpr const char* kMsgNoteDeleted = "Примечание удалено";
inline constexpr const char* kMsgBadNote = "Недопустимое примечание";

// "Событие неоднозначно: N одинаковых событий".
[[nodiscard]] std::string AmbiguousEventText(std::int64_t count);

// The kinds an operator is offered first; any other valid kind is as good.
inline constexpr std::array<std::string_view, 5> kNoteKinds = {
    "Комментарий", "Проверено", "Ложное срабатывание", "Техобслуживание", "Неисправность"};

// An operator entry's moment on the device's clock: exactly
// "YYYY-MM-DDThh:mm:ss", a real date in 2000-2099 and a real time.
[[nodiscard]] bool IsValidNoteMoment(std::string_view moment);

// A moment in seconds since 1970 (UTC) as a note's `written`:
// "YYYY-MM-DDThh:mm:ssZ"; and back (nothing for any other text).
[[nodiscard]] std::string UtcMomentText(std::int64_t seconds);
[[nodiscard]] std::optional<std::int64_t> UtcMomentSeconds(std::string_view text);

// What a note is attached to: one event of the device, or a moment.
struct NoteTarget {
  std::string device;
  // An event note: the event with these bytes. With `place` (a row a view
  // read), the event at that place, which must still hold these bytes;
  // without, the device's only event with these bytes.
  std::optional<EventRecord> event;
  std::optional<EventPlace> place;
  // An operator entry: its moment (IsValidNoteMoment).
  std::optional<std::string> moment;
};

// Who writes a version, and when (seconds since 1970, UTC).
struct NoteSignature {
  std::string author;
  std::int64_t written = 0;
};

// One version of a note as it is read back.
struct NoteVersion {
  std::int64_t number = 0;
  std::int64_t version = 0;
  std::string device;
  std::optional<EventRecord> event;   // an event note's event
  std::optional<std::string> moment;  // an operator entry's moment
  std::string kind;
  std::string text;
  std::string author;
  std::string written;  // UtcMomentText
  bool deleted = false;
  // Where it stands in the state read: an event note at its event, an entry
  // after the event at `place` (none: before every event). A note whose
  // event an undone import took away has none until its event comes back. `segment` is the
  // place's segment number in the device's order, from 1 (0: none).
  std::optional<EventPlace> place;
  int segment = 0;
};

// Which notes a listing shows. Dates are "YYYY-MM-DD" and compare with the
// date of a note's event's timestamp or of an entry's moment, both ends
// included; a note on an event without a timestamp fails either.
struct NoteFilter {
  std::optional<std::string> device;
  std::optional<std::string> fromDate;
  std::optional<std::string> toDate;
  bool history = false;      // every version, not only the newest of each note not deleted
  bool entriesOnly = false;  // operator entries only, no event notes
};

// What the journal report shows, in its order: an event with the notes under
// it, or an operator entry. Items of a device come together.
struct ReportItem {
  const JournalEvent* event = nullptr;  // none: an operator entry
  std::span<const NoteVersion> notes;   // the event's notes by number, or the one entry
  int segment = 0;  // the event's segment number; an entry's is that of its place (1 before all)
};
using ReportVisitor = std::function<bool(const ReportItem&)>;

// Each of these writes in one transaction of its own, waiting for other
// writers, and throws JournalError (kUnknownDevice, kNoSuchEvent,
// kRepeatedEvent, kNoSuchNote, kNoteDeleted, kBadNote for a value an
// operator may not give) or SqliteError, writing nothing then.
//
// Adds a note or an operator entry; returns its number. It never makes a device.
std::int64_t AddNote(JournalStore& store, const NoteTarget& target, const std::string& kind,
                     const std::string& text, const NoteSignature& signature);
// Adds the next version of note `number`: with `text`, an edit (the kind kept
// unless given); without, a delete that repeats the kind and text before it.
// Returns the version's number.
std::int64_t AddNoteVersion(JournalStore& store, std::int64_t number,
                            const std::optional<std::string>& kind,
                            const std::optional<std::string>& text, const NoteSignature& signature);

// The notes that pass, in one state of the journal: devices by name; within
// a device in the order of its history, each event's notes right after its
// place by number, an entry after the last event whose timestamp is not
// later than its moment (before every event when none is), entries at one
// place by moment then number, after that place's event notes; notes
// waiting for their event before every event. Without
// `history` the newest version of each note not deleted; with it every
// version, oldest first. kUnknownDevice when the filter names no device.
std::vector<NoteVersion> ReadNotes(JournalStore& store, const NoteFilter& filter);

// The notes of the events at `places` (as a view read them), in the order of
// the places, each event's by number; with `history` every version.
std::vector<NoteVersion> ReadNotesAt(JournalStore& store, std::span<const EventPlace> places,
                                     bool history);

// Visits, in one state of the journal, what the report of `filter` shows:
// the events that pass, newest first, each with its notes (newest versions,
// not deleted), and the operator entries whose moment passes the dates, at
// their places (ReadNotes' order reversed); no entries under the input or
// event filters. Notes waiting for their event have no place in it. Returns the number of items
// visited; stops when `visit` returns false. kUnknownDevice when the filter names no device.
std::int64_t ForEachReportItem(JournalStore& store, const EventFilter& filter,
                               const ReportVisitor& visit);

}  // namespace veks
