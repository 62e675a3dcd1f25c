#include "journal/note_output.h"

#include <optional>
#include <utility>

namespace veks {

NoteWriter::NoteWriter(std::ostream& out, ExportFormat format) : out_(out), format_(format) {
  if (format_ == ExportFormat::kCsv) {
    out_ << "number,version,device,event_timestamp,event_raw,at,kind,text,author,written,"
            "deleted\r\n";
  }
}

void NoteWriter::write(const NoteVersion& note) {
  const std::optional<std::string> stamp = note.event ? EventTimestamp(*note.event) : std::nullopt;
  const std::optional<std::string> raw =
      note.event ? std::optional<std::string>(RawHex(*note.event)) : std::nullopt;
  // The text columns from device on; none for an empty field.
  const std::pair<const char*, const std::string*> fields[] = {
      {"device", &note.device},
      {"event_timestamp", stamp ? &*stamp : nullptr},
      {"event_raw", raw ? &*raw : nullptr},
      {"at", note.moment ? &*note.moment : nullptr},
      {"kind", &note.kind},
      {"text", &note.text},
      {"author", &note.author},
      {"written", &note.written}};
  line_.clear();
  if (format_ == ExportFormat::kCsv) {
    line_ += std::to_string(note.number) + ',' + std::to_string(note.version);
    for (const auto& [key, text] : fields) {
      line_ += ',';
      if (text != nullptr) AppendCsvField(line_, *text);
    }
    line_ += note.deleted ? ",1\r\n" : ",0\r\n";
  } else {
    line_ += "{\"number\":" + std::to_string(note.number) +
             ",\"version\":" + std::to_string(note.version);
    for (const auto& [key, text] : fields) {
      line_ += ",\"";
      line_ += key;
      line_ += "\":";
      if (text != nullptr) {
        AppendJsonString(line_, *text);
      } else {
        line_ += "null";
      }
    }
    line_ += note.deleted ? ",\"deleted\":1}\n" : ",\"deleted\":0}\n";
  }
  out_ << line_;
}

}  // namespace veks
