// The journal's values: its errors and results, what an import says of a
// copy, what a query passes and what it gives. No storage here.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "archive/archive_format.h"

namespace veks {

inline constexpr const char* kMsgJournalMissing = "Журнал не найден";
inline constexpr const char* kMsgJournalUnavailable = "Журнал не удается открыть";
inline constexpr const char* kMsgJournalReadOnly = "Журнал только для чтения";
inline constexpr const char* kMsgNotAJournal = "Файл не является журналом событий";
inline constexpr const char* kMsgNewerJournal = "Журнал записан более новой версией программы";
inline constexpr const char* kMsgUnknownDevice = "Нет такого устройства в журнале";
inline constexpr const char* kMsgJournalNoEvents = "нет событий";
inline constexpr const char* kMsgBadDeviceName = "Недопустимое имя устройства";
inline constexpr const char* kMsgJournalChanged = "Журнал изменился";
inline constexpr const char* kMsgNotedEvents =
    "Среди удаляемых событий есть события с примечаниями";

struct JournalError {
  enum class Kind {
    kMissing,        // the journal file does not exist (reading only)
    kUnavailable,    // the system refuses the journal's file (the message says why)
    kReadOnly,       // the journal cannot be written here, for an import or a rename (why)
    kNotJournal,     // not a journal of this program
    kNewerVersion,   // written by a newer version of the program
    kUnknownDevice,  // a device filter names no device
    kNoEvents,       // no event passes the filters
    kArchive,        // the archive copy could not be read (its loader message)
    kStorage,        // SQLite failed (the message says how)
    kBackupTarget,   // a backup's target cannot be written (the message says why)
    kManyDevices,    // a copy without a device continues the histories of `devices`
    kBadDeviceName,  // a name an operator may not give, or a device renamed to itself
    kChanged,        // the journal moved on since a view counted its rows
    kNoSuchEvent,    // a note's event is not among the device's events
    kRepeatedEvent,  // a note's event stands more than once in the device's history
    kNoSuchNote,     // no note has that number
    kNoteDeleted,    // the note was deleted: it takes no further version
    kBadNote,        // a kind, author, text or moment an operator may not give
    kNotedEvents,    // an undo would remove events that carry notes, and was not allowed to
  };
  Kind kind;
  std::string message;
  std::vector<std::string> devices = {};  // kManyDevices: by name (byte order)
};

template <typename T>
class JournalResult {
 public:
  JournalResult(T value) : value_(std::move(value)) {}  // NOLINT: a result converts from its value
  JournalResult(JournalError error) : value_(std::move(error)) {}  // NOLINT

  [[nodiscard]] bool ok() const { return std::holds_alternative<T>(value_); }
  [[nodiscard]] T& value() { return std::get<T>(value_); }
  [[nodiscard]] const T& value() const { return std::get<T>(value_); }
  [[nodiscard]] const JournalError& error() const { return std::get<JournalError>(value_); }

 private:
  std::variant<T, JournalError> value_;
};

struct ImportOutcome {
  enum class Kind {
    kEmptyCopy,    // the copy holds no events; nothing stored
    kAlreadyHeld,  // every event of the copy was in the journal already
    kAdded,        // the history grew or segments were joined
  };
  Kind kind = Kind::kEmptyCopy;
  std::string device;
  std::int64_t newEvents = 0;
  bool newSegment = false;      // began a segment of its own beside earlier history
  bool joinedSegments = false;  // made two or more segments one
};

// What an import says of a copy: "DEVICE: новых событий: N", followed by
// "; новый участок, возможен пропуск событий" or "; участки объединены";
// "DEVICE: уже в журнале"; or "архив пуст".
[[nodiscard]] std::string ImportOutcomeText(const ImportOutcome& outcome);

// A device's last import while it can be undone: until the next import into
// the device, its undo, a rename that joins the device with another, or a
// merge into it.
struct UndoableImport {
  std::int64_t id = 0;           // its row of the imports table
  std::string archive;           // the archive's path as it was given
  std::string importedAt;        // UTC, "YYYY-MM-DDThh:mm:ssZ"
  std::int64_t events = 0;       // the events the undo removes: those the import added
  std::int64_t notedEvents = 0;  // of those, the ones that carry a note not deleted
};

// What a rename did: DEVICE took the name NEWNAME, or joined the device of
// that name.
struct RenameOutcome {
  std::string device;
  std::string newName;
  bool joined = false;
  std::int64_t newEvents = 0;   // events the joined device did not hold
  bool joinedSegments = false;  // two or more of the segments were made one
};

// "DEVICE: переименовано в NEWNAME", or "DEVICE: объединено с NEWNAME; новых
// событий: N" followed by "; участки объединены" when segments were made one.
[[nodiscard]] std::string RenameOutcomeText(const RenameOutcome& outcome);

struct DeviceSummary {
  std::string name;
  std::int64_t events = 0;
  std::int64_t segments = 0;
  // Timestamps of the first and the last event that has one, in device order.
  std::optional<std::string> firstTimestamp;
  std::optional<std::string> lastTimestamp;
};

// Which events a query passes. Dates are "YYYY-MM-DD" and compare with the
// date of an event's timestamp, both ends included; an event without a
// timestamp fails when either is given.
struct EventFilter {
  std::optional<std::string> device;
  std::optional<std::string> fromDate;
  std::optional<std::string> toDate;
  std::optional<int> input;              // events with code 0-4 whose argument is this
  std::optional<std::string> eventText;  // the event cell's text, trimmed
  bool withNotes = false;                // only events that carry a note not deleted
};

// Where an event stands in one state of the journal: its segment's row id and
// its seq. An import may move the event, so a place is good for finding the
// event's notes in the state that gave it, not for keeping.
struct EventPlace {
  std::int64_t segment = 0;
  std::int64_t seq = 0;
  auto operator<=>(const EventPlace&) const = default;
};

enum class EventOrder {
  kOldestFirst,  // devices by name, segments in order, events in device order
  kNewestFirst,  // each device's events in reverse; devices still by name
};

struct JournalEvent {
  std::string_view device;  // valid during the visit
  int segment = 0;          // number of the segment in the device's order, from 1
  EventRecord raw{};
  EventPlace place{};
};

// Return false to stop the query.
using EventVisitor = std::function<bool(const JournalEvent&)>;

// A row of a device's history shown newest first: an event, or the gap row
// that stands where one segment ends and an older one begins.
struct HistoryRow {
  bool gap = false;
  int segment = 0;  // number in the device's order; of the older segment for a gap row
  EventRecord raw{};
  EventPlace place{};  // of an event row
};

}  // namespace veks
