#include "journal/copy_events.h"

#include <algorithm>

namespace veks {
namespace {

bool HoldsEvent(const EventRecord& r) {
  const bool empty = std::all_of(r.begin(), r.begin() + kYearByte, [](auto b) { return b == 0; });
  const bool erased = std::all_of(r.begin(), r.end(), [](auto b) { return b == 0xFF; });
  return !empty && !erased;
}

}  // namespace

std::vector<EventRecord> CopyEvents(const ArchiveImage& image) {
  std::vector<EventRecord> events;
  events.reserve(kSlotCount);
  const int oldest = image.WriteOffset / kRecordSize % kSlotCount;
  for (int i = 0; i < kSlotCount; ++i) {
    const int slot = (oldest + i) % kSlotCount;
    EventRecord record;
    std::copy_n(image.ring.begin() + slot * kRecordSize, kRecordSize, record.begin());
    if (HoldsEvent(record)) events.push_back(record);
  }
  return events;
}

std::variant<std::vector<EventRecord>, CopyReadError> ReadCopyEvents(const std::string& path) {
  if (path.empty()) return CopyReadError{kMsgNoArchiveName};
  LoadResult loaded = LoadArchive(path);
  if (const auto* error = std::get_if<LoadError>(&loaded)) {
    // The empty-archive marker means a copy without events, which is no failure.
    if (error->kind == LoadFailure::kEmpty) return std::vector<EventRecord>{};
    return CopyReadError{error->message};
  }
  return CopyEvents(std::get<ArchiveImage>(loaded));
}

}  // namespace veks
