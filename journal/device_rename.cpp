#include "journal/device_rename.h"

#include <vector>

#include "journal/device_names.h"
#include "journal/import_undo.h"
#include "journal/journal_import.h"

namespace veks {
namespace {

struct DeviceTotals {
  std::int64_t events = 0;
  std::int64_t segments = 0;
};

DeviceTotals Totals(JournalStore& store, std::int64_t device) {
  StatementLease sum = store.statement(
      "SELECT coalesce(sum(event_count), 0), count(*) FROM segments WHERE device_id = ?1");
  sum.bind(1, device).step();
  const DeviceTotals totals{sum.integer(0), sum.integer(1)};
  sum.reset();
  return totals;
}

}  // namespace

std::string RenameOutcomeText(const RenameOutcome& outcome) {
  if (!outcome.joined) return outcome.device + ": переименовано в " + outcome.newName;
  std::string text = outcome.device + ": объединено с " + outcome.newName +
                     "; новых событий: " + std::to_string(outcome.newEvents);
  if (outcome.joinedSegments) text += "; участки объединены";
  return text;
}

RenameOutcome RenameDevice(JournalStore& store, const std::string& device,
                           const std::string& newName) {
  if (!IsValidDeviceName(device) || !IsValidDeviceName(newName) || device == newName) {
    throw JournalError{JournalError::Kind::kBadDeviceName, kMsgBadDeviceName};
  }
  store.resetStatements();
  WriteTransaction transaction(store);
  store.lockJournal();
  const std::optional<std::int64_t> from = store.deviceId(device);
  if (!from) throw JournalError{JournalError::Kind::kUnknownDevice, kMsgUnknownDevice};
  RenameOutcome outcome{device, newName};
  const std::optional<std::int64_t> to = store.deviceId(newName);
  if (!to) {
    store.statement("UPDATE devices SET name = ?2 WHERE id = ?1")
        .bind(1, *from)
        .bind(2, std::string_view(newName))
        .run();
    transaction.commit();
    return outcome;
  }

  outcome.joined = true;
  // The join changes both devices' segments beyond what their last imports'
  // records can undo.
  ForgetImportChange(store, *from);
  ForgetImportChange(store, *to);
  const DeviceTotals before = Totals(store, *to);
  // The device's segments keep their order and rank after every other
  // segment: ranks are numbered across the journal, so after the greatest.
  std::vector<std::int64_t> segments;
  StatementLease list =
      store.statement("SELECT id FROM segments WHERE device_id = ?1 ORDER BY rank");
  list.bind(1, *from);
  while (list.step()) segments.push_back(list.integer(0));
  list.reset();
  StatementLease greatest = store.statement("SELECT coalesce(max(rank), 0) FROM segments");
  greatest.step();
  const std::int64_t after = greatest.integer(0);
  greatest.reset();
  for (std::size_t i = 0; i < segments.size(); ++i) {
    store.statement("UPDATE segments SET rank = ?2 WHERE id = ?1")
        .bind(1, segments[i])
        .bind(2, after + 1 + static_cast<std::int64_t>(i))
        .run();
  }
  for (const std::int64_t segment : segments) JoinSegment(store, *to, segment);

  store.dropDeviceInto(*from, *to);
  const DeviceTotals joined = Totals(store, *to);
  outcome.newEvents = joined.events - before.events;
  outcome.joinedSegments =
      joined.segments < before.segments + static_cast<std::int64_t>(segments.size());
  transaction.commit();
  return outcome;
}

}  // namespace veks
