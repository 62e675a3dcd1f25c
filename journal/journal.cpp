#include "journal/journal.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "journal/copy_events.h"
#include "journal/device_rename.h"
#include "journal/event_query.h"
#include "journal/import_undo.h"
#include "journal/journal_backup.h"
#include "journal/journal_check.h"
#include "journal/journal_import.h"
#include "journal/journal_schema.h"
#include "journal/journal_store.h"
#include "journal/pg_schema.h"

namespace veks {
std::string ImportOutcomeText(const ImportOutcome& outcome) {
  switch (outcome.kind) {
    case ImportOutcome::Kind::kEmptyCopy:
      return "архив пуст";
    case ImportOutcome::Kind::kAlreadyHeld:
      return outcome.device + ": уже в журнале";
    case ImportOutcome::Kind::kAdded:
      break;
  }
  std::string text = outcome.device + ": новых событий: " + std::to_string(outcome.newEvents);
  if (outcome.newSegment) text += "; новый участок, возможен пропуск событий";
  if (outcome.joinedSegments) text += "; участки объединены";
  return text;
}

namespace {

// A journal that cannot be written, read where it lies. Without a -shm and
// a -wal with frames beside it, the file as it stands is the whole journal:
// it is read as a file nobody changes, so that SQLite makes no -wal and -shm
// that this process could not remove, nor make where nothing can be
// written. Otherwise SQLite reads the -wal through the -shm, which it cannot
// make where nothing can be written.
std::unique_ptr<JournalStore> OpenUnwritable(const std::string& path) {
  std::error_code ec;
  const bool shm = std::filesystem::exists(path + "-shm", ec);
  const auto walSize = std::filesystem::file_size(path + "-wal", ec);
  const bool wal = !ec && walSize > 0;
  if (!shm && !wal) {
    return std::make_unique<JournalStore>(path, SQLITE_OPEN_READONLY, SqliteDb::Access::kImmutable);
  }
  try {
    return std::make_unique<JournalStore>(path, SQLITE_OPEN_READONLY);
  } catch (const SqliteError& error) {
    if (shm || (error.code() & 0xFF) != SQLITE_CANTOPEN) throw;
    throw JournalError{JournalError::Kind::kUnavailable,
                       std::string(kMsgJournalUnavailable) +
                           ": его файл -wal не прочесть без файла -shm, а создать "
                           "-shm там, где журнал лежит, нельзя"};
  }
}

// Opens the journal's existing file, after looking at it in ways that cannot
// write: its header first, then, for writing, a read-only connection, so that
// a version that stands only in the -wal is found before a connection that
// could write opens it. `readOnly` tells why this process cannot write it.
std::unique_ptr<JournalStore> OpenStore(const std::string& path, Journal::Access access,
                                        std::optional<std::string>& readOnly) {
  const JournalFileState state = InspectJournalFile(path);
  switch (state.kind) {
    case JournalFileKind::kJournal:
      break;
    case JournalFileKind::kMissing:
      throw JournalError{JournalError::Kind::kMissing, kMsgJournalMissing};
    case JournalFileKind::kUnavailable:
      throw JournalUnavailable(state.systemError);
    case JournalFileKind::kNewer:
      throw JournalError{JournalError::Kind::kNewerVersion, kMsgNewerJournal};
    case JournalFileKind::kNotJournal:
      throw JournalError{JournalError::Kind::kNotJournal, kMsgNotAJournal};
  }
  readOnly = JournalReadOnlyReason(path);
  try {
    if (access == Journal::Access::kRead) {
      return readOnly ? OpenUnwritable(path)
                      : std::make_unique<JournalStore>(path, SQLITE_OPEN_READONLY);
    }
    if (readOnly) {
      throw JournalError{JournalError::Kind::kReadOnly,
                         std::string(kMsgJournalReadOnly) + ": " + *readOnly};
    }
    // SQLite would quietly fall back to reading a file it may not write.
    if (::access(path.c_str(), R_OK | W_OK) != 0) throw JournalUnavailable(errno);
    { const JournalStore look(path, SQLITE_OPEN_READONLY); }
    return std::make_unique<JournalStore>(path, SQLITE_OPEN_READWRITE);
  } catch (const SqliteError& error) {
    if (error.systemError() != 0) throw JournalUnavailable(error.systemError());
    throw;
  }
}

// Opens the journal in its schema on the server `location` names. A missing
// journal is an error but for an import, which gets nothing (the journal reads
// as empty) unless `make`: then it makes the journal where the role may.
std::unique_ptr<JournalStore> OpenServerStore(const std::string& location, Journal::Access access,
                                              bool make, std::optional<std::string>& readOnly) {
  auto server = std::make_unique<PgConnection>(location);
  const std::string schema = JournalSchemaName(*server);
  const PgJournalState state = InspectPgJournal(*server, schema);
  switch (state.kind) {
    case PgJournalKind::kJournal:
    case PgJournalKind::kMissing:
      break;
    case PgJournalKind::kNewer:
      throw JournalError{JournalError::Kind::kNewerVersion, kMsgNewerJournal};
    case PgJournalKind::kNotJournal:
      throw JournalError{JournalError::Kind::kNotJournal, kMsgNotAServerJournal};
  }
  const bool missing = state.kind == PgJournalKind::kMissing;
  if (missing && access != Journal::Access::kImport) {
    throw JournalError{JournalError::Kind::kMissing, kMsgJournalMissing};
  }
  if (missing && !make) return nullptr;
  readOnly = PgReadOnlyReason(*server, schema);
  if (access != Journal::Access::kRead) {
    if (readOnly) {
      throw JournalError{JournalError::Kind::kReadOnly,
                         std::string(kMsgJournalReadOnly) + ": " + *readOnly};
    }
    // Makes the journal, or brings an older one up to this version.
    if (missing || state.version < kJournalSchemaVersion) CreatePgJournal(*server, schema);
  }
  UsePgJournalSchema(*server, schema);
  return std::make_unique<JournalStore>(std::move(server), schema);
}

}  // namespace

Journal::Journal(std::string path, Access access) : path_(std::move(path)), access_(access) {}

Journal::~Journal() {
  // SQLite folds the -wal into the file when the last connection closes, but
  // only when that connection may write; this one only read.
  const bool fold = store_ && !store_->onServer() && access_ == Access::kRead && !readOnly_;
  store_.reset();
  if (fold) FoldJournalWal(path_);
}

JournalResult<std::unique_ptr<Journal>> Journal::Open(const std::string& path, Access access) {
  return Guarded([&]() -> std::unique_ptr<Journal> {
    std::unique_ptr<Journal> journal(new Journal(path, access));
    if (IsServerLocation(path)) {
      journal->store_ = OpenServerStore(path, access, false, journal->readOnly_);
      return journal;
    }
    if (access == Access::kImport) RemoveStaleTemporaries(path);
    // An import makes the file only once it has events to store.
    if (access == Access::kImport && InspectJournalFile(path).kind == JournalFileKind::kMissing) {
      return journal;
    }
    journal->store_ = OpenStore(path, access, journal->readOnly_);
    return journal;
  });
}

JournalStore& Journal::storeToWrite() {
  if (!store_ && IsServerLocation(path_)) {
    store_ = OpenServerStore(path_, Access::kImport, true, readOnly_);
  } else if (!store_) {
    CreateJournalFile(path_);
    store_ = OpenStore(path_, Access::kImport, readOnly_);
    store_->setBusyWait(&busyWait_);
  }
  return *store_;
}

void Journal::setBusyWait(std::function<bool()> keepWaiting) {
  busyWait_ = std::move(keepWaiting);
  if (store_) store_->setBusyWait(&busyWait_);
}

JournalResult<ImportOutcome> Journal::importArchive(const std::string& archive,
                                                    const std::optional<std::string>& device) {
  auto read = ReadCopyEvents(archive);
  if (const auto* error = std::get_if<CopyReadError>(&read)) {
    return JournalError{JournalError::Kind::kArchive, error->message};
  }
  return importEvents(archive, std::get<std::vector<EventRecord>>(read), device);
}

JournalResult<ImportOutcome> Journal::importEvents(const std::string& archive,
                                                   std::span<const EventRecord> events,
                                                   const std::optional<std::string>& device) {
  return Guarded([&] {
    if (!store_ && events.empty()) return ImportOutcome{};
    return ImportCopy(storeToWrite(), archive, events, device);
  });
}

JournalResult<std::string> Journal::proposedDevice(const std::string& archive) {
  auto read = ReadCopyEvents(archive);
  if (const auto* error = std::get_if<CopyReadError>(&read)) {
    return JournalError{JournalError::Kind::kArchive, error->message};
  }
  return proposedDevice(archive, std::get<std::vector<EventRecord>>(read));
}

JournalResult<std::string> Journal::proposedDevice(const std::string& archive,
                                                   std::span<const EventRecord> events) {
  if (!store_) return DeviceNameForFile(archive);
  return Guarded([&] { return ProposeDevice(*store_, archive, events); });
}

JournalResult<RenameOutcome> Journal::renameDevice(const std::string& device,
                                                   const std::string& newName) {
  return Guarded([&] { return RenameDevice(*store_, device, newName); });
}

JournalResult<std::optional<UndoableImport>> Journal::lastImport(const std::string& device) {
  if (!store_) return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  return Guarded([&] { return LastImport(*store_, device); });
}

JournalResult<std::int64_t> Journal::undoLastImport(const std::string& device,
                                                    std::int64_t expectedImport,
                                                    bool allowNotedEvents) {
  if (!store_) return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  if (readOnly_) {
    return JournalError{JournalError::Kind::kReadOnly,
                        std::string(kMsgJournalReadOnly) + ": " + *readOnly_};
  }
  return Guarded([&] { return UndoLastImport(*store_, device, expectedImport, allowNotedEvents); });
}

JournalResult<std::vector<DeviceSummary>> Journal::devices() {
  if (!store_) return std::vector<DeviceSummary>{};
  return Guarded([&] {
    const ReadSnapshot snapshot(*store_);
    return DeviceSummaries(*store_);
  });
}

JournalResult<std::int64_t> Journal::forEachDeviceCopy(
    const std::function<bool(const DeviceCopy&)>& visit) {
  if (!store_) return std::int64_t{0};
  return Guarded([&] { return ForEachDeviceCopy(*store_, visit); });
}

JournalResult<MergeOutcome> Journal::mergeDevice(const DeviceCopy& device,
                                                 const std::string& source) {
  return Guarded([&] {
    std::int64_t events = 0;
    for (const auto& segment : device.segments) events += static_cast<std::int64_t>(segment.size());
    if (!store_ && events == 0) return MergeOutcome{device.name};
    return MergeDevice(storeToWrite(), device, source);
  });
}

JournalResult<std::int64_t> Journal::forEachEvent(const EventFilter& filter, EventOrder order,
                                                  const EventVisitor& visit) {
  if (!store_ && filter.device) {
    return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  }
  if (!store_) return JournalError{JournalError::Kind::kNoEvents, kMsgJournalNoEvents};
  return Guarded([&]() -> std::int64_t {
    const ReadSnapshot snapshot(*store_);
    const std::int64_t visited = ForEachEvent(*store_, filter, order, visit);
    if (visited == 0) throw JournalError{JournalError::Kind::kNoEvents, kMsgJournalNoEvents};
    return visited;
  });
}

JournalResult<std::unique_ptr<HistoryView>> Journal::view(const EventFilter& filter) {
  if (!store_) return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  return Guarded([&] { return std::make_unique<HistoryView>(*store_, filter); });
}

JournalResult<std::int64_t> Journal::addNote(const NoteTarget& target, const std::string& kind,
                                             const std::string& text,
                                             const NoteSignature& signature) {
  // Before an import has made the journal, it holds no device.
  if (!store_) return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  return Guarded([&] { return AddNote(*store_, target, kind, text, signature); });
}

JournalResult<std::int64_t> Journal::editNote(std::int64_t number,
                                              const std::optional<std::string>& kind,
                                              const std::string& text,
                                              const NoteSignature& signature) {
  if (!store_) return JournalError{JournalError::Kind::kNoSuchNote, kMsgNoSuchNote};
  return Guarded([&] { return AddNoteVersion(*store_, number, kind, text, signature); });
}

JournalResult<std::int64_t> Journal::deleteNote(std::int64_t number,
                                                const NoteSignature& signature) {
  if (!store_) return JournalError{JournalError::Kind::kNoSuchNote, kMsgNoSuchNote};
  return Guarded(
      [&] { return AddNoteVersion(*store_, number, std::nullopt, std::nullopt, signature); });
}

JournalResult<std::vector<NoteVersion>> Journal::notes(const NoteFilter& filter) {
  if (!store_ && filter.device) {
    return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  }
  if (!store_) return std::vector<NoteVersion>{};
  return Guarded([&] { return ReadNotes(*store_, filter); });
}

JournalResult<std::vector<NoteVersion>> Journal::notesAt(std::span<const EventPlace> places,
                                                         bool history) {
  if (!store_) return std::vector<NoteVersion>{};
  return Guarded([&] { return ReadNotesAt(*store_, places, history); });
}

JournalResult<std::int64_t> Journal::forEachReportItem(const EventFilter& filter,
                                                       const ReportVisitor& visit) {
  if (!store_ && filter.device) {
    return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  }
  if (!store_) return JournalError{JournalError::Kind::kNoEvents, kMsgJournalNoEvents};
  return Guarded([&]() -> std::int64_t {
    const std::int64_t visited = ForEachReportItem(*store_, filter, visit);
    if (visited == 0) throw JournalError{JournalError::Kind::kNoEvents, kMsgJournalNoEvents};
    return visited;
  });
}

JournalResult<std::vector<std::string>> Journal::check() {
  if (!store_) return JournalError{JournalError::Kind::kMissing, kMsgJournalMissing};
  return Guarded([&] { return CheckJournal(*store_); });
}

JournalResult<std::int64_t> Journal::backup(const std::string& target) {
  if (!store_) return JournalError{JournalError::Kind::kMissing, kMsgJournalMissing};
  return Guarded([&] { return BackupJournal(*store_, path_, target); });
}

JournalResult<std::vector<StatRow>> Journal::stats(const StatsFilter& filter) {
  // A journal not made yet reads as an empty one.
  if (!store_) {
    if (filter.device) return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
    return JournalError{JournalError::Kind::kNoEvents, kMsgJournalNoEvents};
  }
  return Guarded([&] {
    std::vector<StatRow> rows = ComputeStats(*store_, filter);
    if (rows.empty()) throw JournalError{JournalError::Kind::kNoEvents, kMsgJournalNoEvents};
    return rows;
  });
}

JournalResult<std::vector<DueEstimate>> Journal::due(const std::optional<std::string>& device) {
  if (!store_) {
    if (device) return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
    return std::vector<DueEstimate>{};
  }
  return Guarded([&] { return ComputeDue(*store_, device); });
}

JournalResult<std::vector<SeriesPoint>> Journal::series(const StatsFilter& filter,
                                                        SeriesPeriod period) {
  if (!store_) return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  return Guarded([&] { return ComputeSeries(*store_, filter, period); });
}

JournalResult<JournalOverview> Journal::overview(const StatsFilter& filter) {
  if (!store_) return JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  return Guarded([&] { return ReadOverview(*store_, filter); });
}

bool Journal::isSameJournal(const Journal& other) const {
  return store_ && other.store_ && store_->onServer() && other.store_->onServer() &&
         store_->journalId() == other.store_->journalId();
}

void Journal::interrupt() {
  if (store_) store_->interrupt();
}

}  // namespace veks
