// The event journal: one SQLite file that stitches successive archive copies
// of each device into one long history, and reads it back.
//
// Opening checks the file before anything writes to it: a file that is not a
// journal of this program (an empty one included), or one of a newer schema
// version, is refused and left byte for byte as it was. Each archive imports
// in a transaction of its own; two imports at once wait for each other.
// No exception leaves this interface: failures are JournalError values.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "archive/archive_format.h"

namespace veks {

inline constexpr const char* kMsgJournalMissing = "Журнал не найден";
inline constexpr const char* kMsgNotAJournal = "Файл не является журналом событий";
inline constexpr const char* kMsgNewerJournal = "Журнал записан более новой версией программы";
inline constexpr const char* kMsgUnknownDevice = "Нет такого устройства в журнале";
inline constexpr const char* kMsgJournalNoEvents = "нет событий";

struct JournalError {
  enum class Kind {
    kMissing,        // the journal file does not exist (reading only)
    kNotJournal,     // not a journal of this program
    kNewerVersion,   // written by a newer version of the program
    kUnknownDevice,  // a device filter names no device
    kNoEvents,       // no event passes the filters
    kArchive,        // the archive copy could not be read (its loader message)
    kStorage,        // SQLite failed (the message says how)
  };
  Kind kind;
  std::string message;
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
};

enum class EventOrder {
  kOldestFirst,  // devices by name, segments in order, events in device order
  kNewestFirst,  // each device's events in reverse; devices still by name
};

struct JournalEvent {
  std::string_view device;  // valid during the visit
  int segment = 0;          // number of the segment in the device's order, from 1
  EventRecord raw{};
};

// Return false to stop the query.
using EventVisitor = std::function<bool(const JournalEvent&)>;

// A row of a device's history shown newest first: an event, or the gap row
// that stands where one segment ends and an older one begins.
struct HistoryRow {
  bool gap = false;
  int segment = 0;  // number in the device's order; of the older segment for a gap row
  EventRecord raw{};
};

class HistoryView;

class Journal {
 public:
  enum class Access {
    kRead,    // the file must exist; nothing is written to it
    kImport,  // created, with its folders, where no file exists
  };
  static JournalResult<std::unique_ptr<Journal>> Open(const std::string& path, Access access);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Imports one archive copy in a transaction of its own. With `device` the
  // copy joins that device (created when new); without, the device whose
  // history holds the copy, else the one device it overlaps, else a new
  // device named after the file's stem (" 2", " 3", ... when taken).
  JournalResult<ImportOutcome> importArchive(const std::string& archive,
                                             const std::optional<std::string>& device);

  // The device that importArchive(archive, no device) would choose: the one
  // whose history holds or overlaps the copy, else a new name made from the
  // file's stem. Nothing is written.
  JournalResult<std::string> proposedDevice(const std::string& archive);

  // Every device, by name.
  JournalResult<std::vector<DeviceSummary>> devices();

  // Visits the events that pass the filter in the given order and returns
  // how many it visited. kUnknownDevice when the device filter names none,
  // kNoEvents when no event passes.
  JournalResult<std::int64_t> forEachEvent(const EventFilter& filter, EventOrder order,
                                           const EventVisitor& visit);

  // The history of the filter's device (which must be named) that passes the
  // filter, as rows newest first, to be read a page at a time.
  JournalResult<std::unique_ptr<HistoryView>> view(const EventFilter& filter);

  class Storage;

 private:
  explicit Journal(std::unique_ptr<Storage> storage);
  std::unique_ptr<Storage> storage_;
};

// One device's history as a table shows it, newest first, with gap rows. It
// counts its rows when made and reads any page of them in about the time the
// page takes, however long the history: a million events are no slower to
// page through than a thousand. It reads the journal as it was when made;
// make a new one to see later imports. The journal must outlive it.
class HistoryView {
 public:
  [[nodiscard]] std::int64_t rowCount() const { return layout_.rows; }
  [[nodiscard]] std::int64_t eventCount() const { return layout_.events; }
  // Segments with at least one event in the view.
  [[nodiscard]] std::int64_t segmentCount() const {
    return static_cast<std::int64_t>(layout_.parts.size());
  }
  // Rows [first, first + count), fewer at the end.
  JournalResult<std::vector<HistoryRow>> rows(std::int64_t first, std::int64_t count);

  // Where each segment's events stand among the rows.
  struct Part {
    std::int64_t segmentId = 0;
    int segment = 0;
    std::int64_t lastSeq = 0;
    std::int64_t firstRow = 0;
    std::int64_t events = 0;
    const char* index = nullptr;  // the index that finds the filter's rows, if any
  };
  struct Layout {
    std::vector<Part> parts;  // newest segment first
    std::int64_t rows = 0;
    std::int64_t events = 0;
  };
  // The gap row before each part but the first stands at its firstRow - 1.
  [[nodiscard]] const Layout& layout() const { return layout_; }

 private:
  friend class Journal;
  HistoryView(Journal::Storage& storage, EventFilter filter, Layout layout);
  Journal::Storage& storage_;
  EventFilter filter_;
  Layout layout_;
};

// The journal's file when none is named: $XDG_DATA_HOME/veks12/journal.sqlite,
// where an unset, empty or relative XDG_DATA_HOME means $HOME/.local/share.
// Nothing when HOME is unset, empty or relative too.
[[nodiscard]] std::optional<std::string> DefaultJournalPath(const char* xdgDataHome,
                                                            const char* home);

// The name a device gets from an archive's file: its stem (no folder, no last
// extension), control characters as "_" and bytes that are no UTF-8 as U+FFFD.
[[nodiscard]] std::string DeviceNameForFile(const std::string& archive);

// A device name an operator may give: not empty, valid UTF-8, no control characters.
[[nodiscard]] bool IsValidDeviceName(std::string_view name);

}  // namespace veks
