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

// Reads an archive copy through the core's loader: the events oldest first
// (none for an archive marked empty), or the operator message of the failure
// ("Не задано имя файла архива" for an empty name, "Архив не удается открыть",
// "Архив поврежден: неверный указатель записи").
struct CopyReadError {
  std::string message;
};
[[nodiscard]] std::variant<std::vector<EventRecord>, CopyReadError> ReadCopyEvents(
    const std::string& path);

}  // namespace veks
