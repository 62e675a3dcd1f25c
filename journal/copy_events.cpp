#include "journal/copy_events.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

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

std::string TruncatedCopyText(std::size_t size) {
  return "Архив неполон: " + std::to_string(size) + " байт из " + std::to_string(kFileBytes);
}

std::variant<std::vector<EventRecord>, CopyReadError> ReadCopyEvents(const std::string& path) {
  if (path.empty()) return CopyReadError{kMsgNoArchiveName};
  // Opened as the loader opens an archive (a regular file only, so nothing
  // blocks), and read once: the size that is checked is the size of the
  // bytes that are parsed.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return CopyReadError{kMsgCannotOpen};
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file) return CopyReadError{kMsgCannotOpen};
  std::array<std::uint8_t, kFileBytes> bytes{};
  file.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  if (file.bad()) return CopyReadError{kMsgCannotOpen};
  const auto size = static_cast<std::size_t>(file.gcount());
  if (size < bytes.size()) return CopyReadError{TruncatedCopyText(size)};
  LoadResult loaded = ParseArchive(bytes.data(), size);
  if (const auto* error = std::get_if<LoadError>(&loaded)) {
    // The empty-archive marker means a copy without events, which is no failure.
    if (error->kind == LoadFailure::kEmpty) return std::vector<EventRecord>{};
    return CopyReadError{error->message};
  }
  return CopyEvents(std::get<ArchiveImage>(loaded));
}

}  // namespace veks
