// What an event record becomes outside the window: its moment as a
// timestamp, its bytes in hexadecimal, and the export lines (CSV, JSON lines)
// that the command-line tools and the window write byte for byte alike.
#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "archive/archive_format.h"

namespace veks {

// The event's moment as "YYYY-MM-DDThh:mm:ss", when it has one: the code is
// not 0xFF, day, month and year (2000-2099) form a real calendar date, hours
// are 0-23, minutes and seconds 0-59.
[[nodiscard]] std::optional<std::string> EventTimestamp(const EventRecord& event);

// The four texts the window's table shows for the event, without leading and
// trailing blanks: event, input, time, date.
[[nodiscard]] std::array<std::string, 4> TrimmedEventTexts(const EventRecord& event);

// Appends a CSV field as RFC 4180 writes it: quoted only when it holds a
// comma, a double quote, CR or LF, a double quote inside doubled.
void AppendCsvField(std::string& line, std::string_view field);

// Appends a JSON string: quotes, backslashes and control characters escaped,
// UTF-8 as is.
void AppendJsonString(std::string& line, std::string_view text);

// The eight bytes as 16 lowercase hexadecimal digits.
[[nodiscard]] std::string RawHex(const EventRecord& event);

enum class ExportFormat { kCsv, kJsonl };

// Writes events one line each: CSV (RFC 4180, CRLF, a header line first) or
// JSON lines. The columns are device, segment, timestamp, date, time, event,
// input, code, argument, raw; without the place columns, device and segment
// are left out. Nothing is written before the first event, so an export that
// finds no event writes nothing at all.
class EventExporter {
 public:
  EventExporter(std::ostream& out, ExportFormat format, bool withPlace);
  void write(const EventRecord& raw, std::string_view device = {}, int segment = 0);

 private:
  std::ostream& out_;
  ExportFormat format_;
  bool withPlace_;
  bool headerDone_ = false;
  std::string line_;
};

}  // namespace veks
