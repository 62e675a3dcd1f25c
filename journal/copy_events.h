// The events of one archive copy, as the journal takes them.
//
// A copy's events are its ring slots from the oldest (the slot at the write
// offset) round to the newest, leaving out the slots that hold no event: an
// empty record (bytes 0-6 zero) and an erased one (all eight bytes 0xFF).
// Every other slot is an event, an invalid record included. Two events are the
// same when their eight bytes are equal.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "archive/archive_file.h"
#include "archive/archive_format.h"

namespace veks {

// Events of a loaded archive, oldest first.
[[nodiscard]] std::vector<EventRecord> CopyEvents(const ArchiveImage& image);

// Reads an archive copy to import it: the events oldest first (none for an
// archive marked empty), or the operator message of the failure: "Не задано
// имя файла архива" for an empty name, "Архив не удается открыть" for a file
// that cannot be opened, then "Архив неполон: N байт из 7940" for a file
// shorter than an archive (an interrupted transfer, whose zero padding would
// read as invented events), then the loader's "Архив поврежден: неверный
// указатель записи". Bytes past 7,940 are ignored.
struct CopyReadError {
  std::string message;
};
[[nodiscard]] std::variant<std::vector<EventRecord>, CopyReadError> ReadCopyEvents(
    const std::string& path);

// "Архив неполон: N байт из 7940".
[[nodiscard]] std::string TruncatedCopyText(std::size_t size);

}  // namespace veks
