// The event journal: one SQLite file, or one schema on a PostgreSQL server
// (a location "postgresql://..." or "postgres://..."), that stitches
// successive archive copies of each device into one long history, and reads
// it back. Both engines hold the same tables and give the same answers.
//
// Opening checks the file before anything writes to it: a file that is not a
// journal of this program (an empty one included), or one of a newer schema
// version (even one that stands only in its -wal), is refused and left byte
// for byte as it was, its -wal included; a file the system refuses is
// reported with the system's reason. The file's name is a file name, never
// read as an SQLite URI. Each archive imports in a transaction of its own;
// two imports at once wait for each other. Each read (devices, forEachEvent,
// a view's layout and each of its pages) sees one committed state, whatever
// other processes import meanwhile. No exception leaves this interface:
// failures are JournalError values.
//
// A journal this process cannot write (a read-only medium, a folder or file
// without write rights) opens for reading, and an import into it is refused
// with the reason. When the last user of a journal closes it, the file alone
// holds the whole journal: no -wal is left beside it.
//
// The work is done by collaborators, each in a file of its own: the store
// (journal_store.h), the import (journal_import.h), the event query
// (event_query.h), the history view (history_view.h), the journal file
// (journal_file.h), device names (device_names.h), the check
// (journal_check.h), the backup (journal_backup.h), notes
// (journal_notes.h), merging (journal_merge.h) and the undo of an import
// (import_undo.h).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "journal/device_names.h"
#include "journal/history_view.h"
#include "journal/journal_file.h"
#include "journal/journal_merge.h"
#include "journal/journal_notes.h"
#include "journal/journal_overview.h"
#include "journal/journal_stats.h"
#include "journal/journal_types.h"

namespace veks {

class JournalStore;

class Journal {
 public:
  enum class Access {
    // The file must exist; nothing is written to it but that, when this is
    // the journal's last user, closing folds the -wal into the file.
    kRead,
    // Where no file exists, the journal (with its folders) is made by the
    // first import that stores events; until then it reads as empty. Files
    // that interrupted makings left beside it are removed.
    kImport,
    kWrite,  // the file must exist; opened for writing
    // kImport and kWrite refuse a journal that cannot be written (kReadOnly).
  };
  // `path` is a file name or a server's location. On a server, a database
  // without the journal's schema is a missing journal (an import makes it
  // where the role may); a schema of that name that is not a journal, or a
  // newer one, is refused untouched; a role or server that cannot write
  // opens for reading (readOnlyReason).
  static JournalResult<std::unique_ptr<Journal>> Open(const std::string& path, Access access);
  ~Journal();
  // Why this journal, opened for reading, cannot be written here (Russian,
  // to follow kMsgJournalReadOnly); nothing when it can.
  [[nodiscard]] const std::optional<std::string>& readOnlyReason() const { return readOnly_; }
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // While another process holds the journal (an import of its own), each
  // call asks `keepWaiting` every few milliseconds, within the usual wait of
  // 30 s, whether to go on waiting: the caller can show that it waits and let
  // the operator stop it. False ends the wait and the call fails as with a
  // journal that stays busy. It runs on the thread that made the call.
  void setBusyWait(std::function<bool()> keepWaiting);

  // Imports one archive copy in a transaction of its own. With `device` the
  // copy joins that device (created when new); without, the one device whose
  // history holds or overlaps the copy, else a new device named after the
  // file's stem (" 2", " 3", ... when taken). A copy that two or more
  // devices' histories hold or overlap fails with kManyDevices, naming them.
  JournalResult<ImportOutcome> importArchive(const std::string& archive,
                                             const std::optional<std::string>& device);

  // The device that importArchive(archive, no device) would choose, or the
  // same kManyDevices failure. Nothing is written.
  JournalResult<std::string> proposedDevice(const std::string& archive);

  // The same two for a copy whose events (ReadCopyEvents, oldest first) the
  // caller has read once, so that a proposal and the import that follows it
  // rest on the same bytes. `archive` only names the copy (its stem names a
  // new device). A journal opened for reading can propose.
  JournalResult<ImportOutcome> importEvents(const std::string& archive,
                                            std::span<const EventRecord> events,
                                            const std::optional<std::string>& device);
  JournalResult<std::string> proposedDevice(const std::string& archive,
                                            std::span<const EventRecord> events);

  // Gives `device` the name `newName`, or joins it with the device of that
  // name (see device_rename.h). kUnknownDevice when `device` names none;
  // kBadDeviceName for a name an operator may not give or equal names.
  JournalResult<RenameOutcome> renameDevice(const std::string& device, const std::string& newName);

  // The device's last import while it can be undone (import_undo.h): until
  // the next import into the device, its undo, a rename that joins the
  // device with another, or a merge into it. kUnknownDevice when `device` names none.
  JournalResult<std::optional<UndoableImport>> lastImport(const std::string& device);
  // Undoes the device's last import, `expectedImport` (UndoableImport::id),
  // in one transaction: the events it added go, and the device's segments
  // are again what they were before it. Returns the number of events
  // removed. Notes on them are kept and wait for their events; unless
  // `allowNotedEvents`, such events refuse the undo with kNotedEvents.
  // kChanged when the device's last undoable import is no longer that one.
  // The journal must be open for writing.
  JournalResult<std::int64_t> undoLastImport(const std::string& device, std::int64_t expectedImport,
                                             bool allowNotedEvents);

  // Every device, by name.
  JournalResult<std::vector<DeviceSummary>> devices();

  // Visits every device by name, each with its whole history and notes as a
  // merge takes them, all read in one state; `visit` returns false to stop.
  // Returns the number of devices visited. Nothing is written.
  JournalResult<std::int64_t> forEachDeviceCopy(
      const std::function<bool(const DeviceCopy&)>& visit);
  // Joins a device of another journal (forEachDeviceCopy) with this
  // journal's device of the same name, its notes with it, in a transaction of
  // its own (journal_merge.h). Like an import, the first merge that stores
  // events makes the journal. `source` names the other journal.
  JournalResult<MergeOutcome> mergeDevice(const DeviceCopy& device, const std::string& source);

  // Visits the events that pass the filter in the given order and returns
  // how many it visited. kUnknownDevice when the device filter names none,
  // kNoEvents when no event passes.
  JournalResult<std::int64_t> forEachEvent(const EventFilter& filter, EventOrder order,
                                           const EventVisitor& visit);

  // The history of the filter's device (which must be named) that passes the
  // filter, as rows newest first, to be read a page at a time. The journal
  // must outlive it.
  JournalResult<std::unique_ptr<HistoryView>> view(const EventFilter& filter);

  // Adds a note to an event of a device, or an operator entry at a moment of
  // it; returns its number. The journal must be open for writing. Fails
  // with kUnknownDevice, kNoSuchEvent, kRepeatedEvent (several events with
  // the bytes and no place given) or kBadNote, writing nothing.
  JournalResult<std::int64_t> addNote(const NoteTarget& target, const std::string& kind,
                                      const std::string& text, const NoteSignature& signature);
  // Adds an edit of note `number`, its kind kept unless given; returns the
  // version's number. kNoSuchNote, kNoteDeleted or kBadNote write nothing.
  JournalResult<std::int64_t> editNote(std::int64_t number, const std::optional<std::string>& kind,
                                       const std::string& text, const NoteSignature& signature);
  // Adds the version that deletes note `number`; returns its number.
  JournalResult<std::int64_t> deleteNote(std::int64_t number, const NoteSignature& signature);

  // The notes that pass the filter, in the order of the histories
  // (journal_notes.h, ReadNotes). kUnknownDevice when the filter names none.
  JournalResult<std::vector<NoteVersion>> notes(const NoteFilter& filter);
  // The notes of the events at `places` (rows a view read, HistoryRow::place),
  // in the order of the places; with `history` every version.
  JournalResult<std::vector<NoteVersion>> notesAt(std::span<const EventPlace> places, bool history);

  // What the journal report of the filter shows, newest first: each event
  // that passes with its notes, and the operator entries at their places
  // (journal_notes.h, ForEachReportItem). Returns how many items it visited;
  // kUnknownDevice when the device filter names none, kNoEvents when neither
  // an event nor an entry passes.
  JournalResult<std::int64_t> forEachReportItem(const EventFilter& filter,
                                                const ReportVisitor& visit);

  // SQLite's integrity check and the journal's own rules (journal_check.h),
  // in one state of the journal: one line per problem, none when it is sound.
  // Nothing is written.
  JournalResult<std::vector<std::string>> check();

  // Copies one state of the journal to `target`, which must not exist, in a
  // folder that does (journal_backup.h); returns the number of events copied.
  JournalResult<std::int64_t> backup(const std::string& target);

  // The statistics of the events that pass the filter, device by device
  // (journal_stats.h). kUnknownDevice when the device filter names none,
  // kNoEvents when no event passes.
  JournalResult<std::vector<StatRow>> stats(const StatsFilter& filter);

  // When the next copy of `device`, or of every device by name, is due.
  // kUnknownDevice when `device` names none.
  JournalResult<std::vector<DueEstimate>> due(const std::optional<std::string>& device);

  // The filter's device's stamped events per period and kind, for a
  // timeline; the device must be named (kUnknownDevice otherwise). Its day
  // series summed over kinds gives the statistics' day rows.
  JournalResult<std::vector<SeriesPoint>> series(const StatsFilter& filter, SeriesPeriod period);

  // What the window's overview shows of the filter's device, in one state of
  // the journal (journal_overview.h); the device must be named.
  JournalResult<JournalOverview> overview(const StatsFilter& filter);

  // Whether `other` is this very journal on a server, whatever locations
  // named it (two files are told apart by the caller, by their files).
  [[nodiscard]] bool isSameJournal(const Journal& other) const;

  // Makes the read running on another thread end soon with a kStorage
  // failure; the journal stays usable. Safe to call from any thread while
  // the journal is open.
  void interrupt();

 private:
  Journal(std::string path, Access access);
  // The journal's store, made first when an import is the first to store.
  JournalStore& storeToWrite();

  std::string path_;
  Access access_;
  std::unique_ptr<JournalStore> store_;  // none while an import's file does not exist
  std::optional<std::string> readOnly_;
  std::function<bool()> busyWait_;
};

// What an import says of a copy: "DEVICE: новых событий: N", followed by
// "; новый участок, возможен пропуск событий" or "; участки объединены";
// "DEVICE: уже в журнале"; or "архив пуст".
[[nodiscard]] std::string ImportOutcomeText(const ImportOutcome& outcome);

}  // namespace veks
