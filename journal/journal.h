// The event journal: one SQLite file that stitches successive archive copies
// of each device into one long history, and reads it back.
//
// Opening checks the file before anything writes to it: a file that is not a
// journal of this program (an empty one included), or one of a newer schema
// version, is refused and left byte for byte as it was. Each archive imports
// in a transaction of its own; two imports at once wait for each other. Each
// read (devices, forEachEvent, a view's layout and each of its pages) sees
// one committed state, whatever other processes import meanwhile.
// No exception leaves this interface: failures are JournalError values.
//
// The work is done by collaborators, each in a file of its own: the store
// (journal_store.h), the import (journal_import.h), the event query
// (event_query.h), the history view (history_view.h), the journal file
// (journal_file.h) and device names (device_names.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/device_names.h"
#include "journal/history_view.h"
#include "journal/journal_file.h"
#include "journal/journal_types.h"

namespace veks {

class JournalStore;

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
  // filter, as rows newest first, to be read a page at a time. The journal
  // must outlive it.
  JournalResult<std::unique_ptr<HistoryView>> view(const EventFilter& filter);

 private:
  explicit Journal(std::unique_ptr<JournalStore> store);
  std::unique_ptr<JournalStore> store_;
};

// What an import says of a copy: "DEVICE: новых событий: N", followed by
// "; новый участок, возможен пропуск событий" or "; участки объединены";
// "DEVICE: уже в журнале"; or "архив пуст".
[[nodiscard]] std::string ImportOutcomeText(const ImportOutcome& outcome);

}  // namespace veks
