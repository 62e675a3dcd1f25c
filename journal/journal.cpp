#include "journal/journal.h"

#include <filesystem>

#include "journal/copy_events.h"
#include "journal/event_query.h"
#include "journal/journal_import.h"
#include "journal/journal_store.h"

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

Journal::Journal(std::unique_ptr<JournalStore> store) : store_(std::move(store)) {}
Journal::~Journal() = default;

JournalResult<std::unique_ptr<Journal>> Journal::Open(const std::string& path, Access access) {
  return Guarded([&]() -> std::unique_ptr<Journal> {
    std::error_code ec;
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    if (!exists && access == Access::kRead) {
      throw JournalError{JournalError::Kind::kMissing, kMsgJournalMissing};
    }
    if (!exists) CreateJournalFile(path);
    // Nothing may write to a file that is not ours, not even SQLite's header.
    switch (InspectJournalFile(path)) {
      case JournalFileKind::kJournal:
        break;
      case JournalFileKind::kNewer:
        throw JournalError{JournalError::Kind::kNewerVersion, kMsgNewerJournal};
      case JournalFileKind::kNotJournal:
        throw JournalError{JournalError::Kind::kNotJournal, kMsgNotAJournal};
    }
    const int flags = access == Access::kRead ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    return std::unique_ptr<Journal>(new Journal(std::make_unique<JournalStore>(path, flags)));
  });
}

JournalResult<ImportOutcome> Journal::importArchive(const std::string& archive,
                                                    const std::optional<std::string>& device) {
  auto read = ReadCopyEvents(archive);
  if (const auto* error = std::get_if<CopyReadError>(&read)) {
    return JournalError{JournalError::Kind::kArchive, error->message};
  }
  const auto& events = std::get<std::vector<EventRecord>>(read);
  return Guarded([&] { return ImportCopy(*store_, archive, events, device); });
}

JournalResult<std::string> Journal::proposedDevice(const std::string& archive) {
  auto read = ReadCopyEvents(archive);
  if (const auto* error = std::get_if<CopyReadError>(&read)) {
    return JournalError{JournalError::Kind::kArchive, error->message};
  }
  const auto& events = std::get<std::vector<EventRecord>>(read);
  return Guarded([&] { return ProposeDevice(*store_, archive, events); });
}

JournalResult<std::vector<DeviceSummary>> Journal::devices() {
  return Guarded([&] {
    const ReadSnapshot snapshot(*store_);
    return DeviceSummaries(*store_);
  });
}

JournalResult<std::int64_t> Journal::forEachEvent(const EventFilter& filter, EventOrder order,
                                                  const EventVisitor& visit) {
  return Guarded([&]() -> std::int64_t {
    const ReadSnapshot snapshot(*store_);
    const std::int64_t visited = ForEachEvent(*store_, filter, order, visit);
    if (visited == 0) throw JournalError{JournalError::Kind::kNoEvents, kMsgJournalNoEvents};
    return visited;
  });
}

JournalResult<std::unique_ptr<HistoryView>> Journal::view(const EventFilter& filter) {
  return Guarded([&] { return std::make_unique<HistoryView>(*store_, filter); });
}

}  // namespace veks
