#include "archive/archive_file.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

namespace veks {

bool IsValidWriteOffset(std::int32_t offset) {
  return offset >= 0 && offset <= kRingBytes && offset % kRecordSize == 0;
}

LoadResult ParseArchive(const std::uint8_t* data, std::size_t size) {
  // Bytes the input does not supply are zero, ring and write offset alike.
  ArchiveImage image;
  std::copy_n(data, std::min<std::size_t>(size, kRingBytes), image.ring.begin());
  std::uint32_t raw = 0;
  for (std::size_t i = 0; i < kWriteOffsetBytes; ++i) {
    const std::size_t at = kRingBytes + i;
    if (at < size) raw |= std::uint32_t{data[at]} << (8 * i);
  }
  image.WriteOffset = static_cast<std::int32_t>(raw);

  if (image.WriteOffset == kEmptyArchiveMarker) {
    return LoadError{LoadFailure::kEmpty, kMsgArchiveEmpty};
  }
  // Any other offset must name a slot boundary; otherwise the newest record
  // would lie outside the ring or straddle two slots.
  if (!IsValidWriteOffset(image.WriteOffset)) {
    return LoadError{LoadFailure::kBadWriteOffset, kMsgBadWriteOffset};
  }
  image.NewestOffset = image.WriteOffset - kRecordSize;
  if (image.NewestOffset < 0) image.NewestOffset = kLastSlotOffset;
  return image;
}

LoadResult LoadArchive(const std::string& path) {
  const LoadError cannotOpen{LoadFailure::kCannotOpen, kMsgCannotOpen};
  // Refusing anything but a regular file keeps a FIFO or device from blocking
  // the open or the read, and turns a directory into a plain open failure.
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return cannotOpen;

  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file) return cannotOpen;
  std::array<std::uint8_t, kFileBytes> bytes{};
  file.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  if (file.bad()) return cannotOpen;
  // A short file ends the read early (eof + fail); its missing bytes stay zero.
  return ParseArchive(bytes.data(), static_cast<std::size_t>(file.gcount()));
}

}  // namespace veks
