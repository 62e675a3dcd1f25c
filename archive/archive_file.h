// Reading the archive file.
//
// Every load opens the file for reading only, reads it whole and closes it; no
// state survives between loads. The file is never created, written or locked.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "archive/archive_format.h"

namespace veks {

// Operator messages of the loading failures, byte for byte.
inline constexpr const char* kMsgNoArchiveName = "Не задано имя файла архива";
inline constexpr const char* kMsgCannotOpen = "Архив не удается открыть";
inline constexpr const char* kMsgArchiveEmpty = "архив пуст";
inline constexpr const char* kMsgBadWriteOffset = "Архив поврежден: неверный указатель записи";

// One load's copy of the archive.
struct ArchiveImage {
  Ring ring{};
  std::int32_t WriteOffset = 0;
  // Byte offset of the newest record: WriteOffset - 8, or the last slot when
  // that is negative (not a modulo: WriteOffset 0 makes slot 991 the newest).
  int NewestOffset = kLastSlotOffset;
};

enum class LoadFailure {
  kCannotOpen,      // missing, not a regular file, unreadable
  kEmpty,           // WriteOffset is 255
  kBadWriteOffset,  // WriteOffset is neither 255 nor a slot boundary 0..7,936
};

struct LoadError {
  LoadFailure kind;
  std::string message;  // the exact operator message
};

using LoadResult = std::variant<ArchiveImage, LoadError>;

// Bytes the file does not supply read as zero, so a short file (even an empty
// one) is a ring of empty slots with WriteOffset 0. Bytes past 7,940 are ignored.
// Only regular files are opened: a directory or FIFO fails without blocking.
[[nodiscard]] LoadResult LoadArchive(const std::string& path);

// Interprets the 7,940 leading bytes of an archive (fewer are zero-padded).
[[nodiscard]] LoadResult ParseArchive(const std::uint8_t* data, std::size_t size);

[[nodiscard]] bool IsValidWriteOffset(std::int32_t offset);

}  // namespace veks
