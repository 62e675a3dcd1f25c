#include "archive/block_loader.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "archive/archive_file.h"

namespace veks {
namespace {

constexpr int kRecordListSlots = kSlotCount + 1;  // all records plus a zero slot
using RecordList = std::array<EventRecord, kRecordListSlots>;
using RecordBlock = std::array<EventRecord, kBlockRecords>;

const char* const kStatusPrefix = "Архив: файл ";

std::int32_t SlotBack(std::int32_t cursor) {
  cursor -= kRecordSize;
  return cursor < 0 ? kLastSlotOffset : cursor;
}

std::int32_t SlotForward(std::int32_t cursor) {
  cursor += kRecordSize;
  return cursor > kRingBytes - 1 ? 0 : cursor;
}

bool IsSlotOffset(std::int32_t cursor) {
  return cursor >= 0 && cursor <= kLastSlotOffset && cursor % kRecordSize == 0;
}

std::span<const std::uint8_t, 8> RecordAt(const Ring& ring, std::int32_t offset) {
  return std::span<const std::uint8_t, 8>(ring.data() + offset, kRecordSize);
}

EventRecord CopyRecord(const Ring& ring, std::int32_t offset) {
  EventRecord record;
  std::copy_n(ring.begin() + offset, kRecordSize, record.begin());
  return record;
}

// Copies 16 records going back one slot each time; the cursor ends on the
// slot just older than the last one copied.
void CopyBlock(const Ring& ring, std::int32_t& cursor, RecordBlock& block) {
  for (auto& record : block) {
    record = CopyRecord(ring, cursor);
    cursor = SlotBack(cursor);
  }
}

bool IsEmptySlot(const EventRecord& r) {
  return std::all_of(r.begin(), r.begin() + kYearByte, [](std::uint8_t b) { return b == 0; });
}

// A record is of the picked date when its own date text equals the first
// eight characters of the search date. A date byte of 100 or more gives a
// text longer than two digits and so never matches.
bool IsOfDate(std::span<const std::uint8_t, 8> record, const std::string& date) {
  if (record[kDayByte] > 99 || record[kMonthByte] > 99 || record[kYearByte] > 99) return false;
  return date.size() >= 8 && RecordDateText(record) == std::string_view(date).substr(0, 8);
}

void ClearRequests(ViewState& s) {
  s.StepForward = 0;
  s.StepBack = 0;
  s.DateSearch = 0;
  s.InputFilter = 0;
}

std::string StepStatusLine(const ViewState& s, const EventRecord& first) {
  std::string line = kStatusPrefix + s.ArchiveName;
  const auto day = first[kDayByte], month = first[kMonthByte];
  if (day != 0 && day != 0xFF && month != 0 && month != 0xFF) {
    line += "  время: " + RecordStampText(first);
  }
  return line;
}

}  // namespace

LoadOutcome RunBlockLoader(ViewState& s, EventTable& table, LoaderHost& host,
                           const ArchiveReader& read) {
  // A run that ends early has answered its request with a message; a request
  // left behind would make the operator's next, different request act on it
  // (step from a stale cursor, filter or search instead of the plain view).
  if (s.ArchiveName.empty()) {
    ClearRequests(s);
    host.showMessage(kMsgNoArchiveName);
    return LoadOutcome::kNoArchiveName;
  }

  LoadResult loaded = read(s.ArchiveName);
  if (const auto* error = std::get_if<LoadError>(&loaded)) {
    ClearRequests(s);
    host.showMessage(error->message);
    if (error->kind == LoadFailure::kCannotOpen) return LoadOutcome::kCannotOpen;
    return error->kind == LoadFailure::kEmpty ? LoadOutcome::kEmpty : LoadOutcome::kBadWriteOffset;
  }
  const ArchiveImage& image = std::get<ArchiveImage>(loaded);
  const Ring& ring = image.ring;
  host.setNewestStamp(RecordStampText(RecordAt(ring, image.NewestOffset)));

  // The cursor is only ever left on a slot boundary; one that is not (a state
  // set up by hand) restarts from the newest record rather than reading astray.
  if (!IsSlotOffset(s.Cursor)) s.Cursor = image.NewestOffset;

  // Only the slots that become rows are written: the records, then the zero
  // slot that gives the blank row after them.
  RecordList list;
  RecordBlock block{};
  int matches = 0;
  const bool filter = s.StepForward == 0 && s.StepBack == 0 && s.InputFilter != 0;

  if (s.StepForward != 0 || s.StepBack != 0) {
    if (s.StepForward != 0) {
      // 16 slots return to the first record shown, 16 more reach the newer block.
      for (int i = 0; i < 2 * kBlockRecords; ++i) s.Cursor = SlotForward(s.Cursor);
    }
    CopyBlock(ring, s.Cursor, block);
    host.setStatusLine(StepStatusLine(s, block[0]));
  } else if (filter) {
    s.Cursor = image.NewestOffset;
    for (int i = 0; i < kSlotCount; ++i) {
      const EventRecord r = CopyRecord(ring, s.Cursor);
      if (!IsEmptySlot(r) && r[kArgumentByte] == s.InputNumber && r[kCodeByte] <= 4) {
        list[static_cast<std::size_t>(matches++)] = r;
      }
      s.Cursor = SlotBack(s.Cursor);
    }
    if (matches == 0) {
      host.showMessage(kMsgNoEvents);
      ClearRequests(s);
      return LoadOutcome::kNoEvents;
    }
    host.setStatusLine(kStatusPrefix + s.ArchiveName + " вход № " + std::to_string(s.InputNumber));
  } else if (s.DateSearch == 1) {
    s.Cursor = image.NewestOffset;
    bool found = false;
    for (int i = 0; i < kSlotCount && !found; ++i) {
      found = IsOfDate(RecordAt(ring, s.Cursor), s.SearchDate);
      if (!found) s.Cursor = SlotBack(s.Cursor);
    }
    if (!found) {
      host.showMessage(kMsgDateNotFound);
      ClearRequests(s);
      return LoadOutcome::kDateNotFound;
    }
    host.setStatusLine(kStatusPrefix + s.ArchiveName + "  " + s.SearchDate);
    host.enableStepButtons();
    CopyBlock(ring, s.Cursor, block);
  } else {
    s.Cursor = image.NewestOffset;
    // 62 blocks make the whole ring, so deeper requests wrap around it.
    const int blocksBack = s.BlockDepth > 1 ? (s.BlockDepth - 1) % kBlockCount : 0;
    for (int i = 0; i < blocksBack * kBlockRecords; ++i) s.Cursor = SlotBack(s.Cursor);
    host.setStatusLine(kStatusPrefix + s.ArchiveName);
    host.enableStepButtons();
    CopyBlock(ring, s.Cursor, block);
  }

  table.setRow(0, EventTable::HeaderRow());
  int rows = 0;
  if (filter) {
    rows = matches + 1;
  } else {
    std::copy(block.begin(), block.end(), list.begin());
    rows = kBlockRecords + 1;
  }
  list[static_cast<std::size_t>(rows - 1)] = EventRecord{};
  table.setRowCount(rows);
  // One row more than the records: the zero slot after them gives the blank
  // row that lies just past the displayed rows. That row shows no record of
  // the archive, so it keeps none; an empty slot among the records does.
  for (int i = 0; i < rows; ++i) {
    const EventRecord& record = list[static_cast<std::size_t>(i)];
    table.setRow(i + 1, DecodeEventRow(record),
                 i + 1 < rows ? std::optional<EventRecord>(record) : std::nullopt);
  }
  s.RowsShown = rows;
  ClearRequests(s);
  host.tableRewritten();
  return LoadOutcome::kFilled;
}

}  // namespace veks
