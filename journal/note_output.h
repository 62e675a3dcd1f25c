// What notes become as lines for scripts: the CSV and JSON lines of `notes`.
#pragma once

#include <ostream>
#include <string>

#include "journal/journal_notes.h"
#include "report/event_export.h"

namespace veks {

// Writes note versions one line each, in the columns number, version,
// device, event_timestamp, event_raw, at, kind, text, author, written,
// deleted: CSV (RFC 4180, CRLF) after its header line, which it writes at
// once, so that a listing without notes is the header alone; or JSON lines
// with those keys, `number`, `version` and `deleted` numbers and empty
// fields null.
class NoteWriter {
 public:
  NoteWriter(std::ostream& out, ExportFormat format);
  void write(const NoteVersion& note);

 private:
  std::ostream& out_;
  ExportFormat format_;
  std::string line_;
};

}  // namespace veks
