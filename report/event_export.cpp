#include "report/event_export.h"

#include <cstdio>

#include "archive/event_decoder.h"

namespace veks {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int month, int year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

void AppendCsvField(std::string& line, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    line += field;
    return;
  }
  line += '"';
  for (const char c : field) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

void AppendJsonString(std::string& line, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  line += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      line += '\\';
      line += c;
    } else if (byte < 0x20) {
      line += "\\u00";
      line += kHex[byte >> 4];
      line += kHex[byte & 0xF];
    } else {
      line += c;
    }
  }
  line += '"';
}

}  // namespace

std::optional<std::string> EventTimestamp(const EventRecord& e) {
  if (e[kCodeByte] == kInvalidCode) return std::nullopt;
  const int year = 2000 + e[kYearByte], month = e[kMonthByte], day = e[kDayByte];
  if (e[kYearByte] > 99 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(month, year) ||
      e[kHoursByte] > 23 || e[kMinutesByte] > 59 || e[kSecondsByte] > 59) {
    return std::nullopt;
  }
  // Room for any int, so the compiler can prove no field is cut short.
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, e[kHoursByte],
                e[kMinutesByte], e[kSecondsByte]);
  return std::string(text);
}

std::array<std::string, 4> TrimmedEventTexts(const EventRecord& event) {
  std::array<std::string, 4> texts = DecodeEventRow(event);
  for (std::string& text : texts) {
    const auto first = text.find_first_not_of(' ');
    text = first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(' ') - first + 1);
  }
  return texts;
}

std::string RawHex(const EventRecord& event) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(2 * kRecordSize, '0');
  for (std::size_t i = 0; i < event.size(); ++i) {
    hex[2 * i] = kDigits[event[i] >> 4];
    hex[2 * i + 1] = kDigits[event[i] & 0xF];
  }
  return hex;
}

EventExporter::EventExporter(std::ostream& out, ExportFormat format, bool withPlace)
    : out_(out), format_(format), withPlace_(withPlace) {}

void EventExporter::write(const EventRecord& raw, std::string_view device, int segment) {
  const bool csv = format_ == ExportFormat::kCsv;
  if (csv && !headerDone_) {
    out_ << (withPlace_ ? "device,segment," : "")
         << "timestamp,date,time,event,input,code,argument,raw\r\n";
  }
  headerDone_ = true;

  const std::array<std::string, 4> cells = TrimmedEventTexts(raw);
  const std::optional<std::string> stamp = EventTimestamp(raw);
  const std::string* texts[] = {&cells[3], &cells[2], &cells[0], &cells[1]};
  static constexpr const char* kTextKeys[] = {"date", "time", "event", "input"};
  line_.clear();
  if (csv) {
    if (withPlace_) {
      AppendCsvField(line_, device);
      line_ += ',' + std::to_string(segment) + ',';
    }
    line_ += stamp.value_or("");
    for (const std::string* text : texts) {
      line_ += ',';
      AppendCsvField(line_, *text);
    }
    line_ += ',' + std::to_string(raw[kCodeByte]) + ',' + std::to_string(raw[kArgumentByte]) + ',' +
             RawHex(raw) + "\r\n";
  } else {
    line_ += '{';
    if (withPlace_) {
      line_ += "\"device\":";
      AppendJsonString(line_, device);
      line_ += ",\"segment\":" + std::to_string(segment) + ',';
    }
    line_ += "\"timestamp\":";
    if (stamp) {
      AppendJsonString(line_, *stamp);
    } else {
      line_ += "null";
    }
    for (std::size_t i = 0; i < std::size(texts); ++i) {
      line_ += ",\"";
      line_ += kTextKeys[i];
      line_ += "\":";
      AppendJsonString(line_, *texts[i]);
    }
    line_ += ",\"code\":" + std::to_string(raw[kCodeByte]) +
             ",\"argument\":" + std::to_string(raw[kArgumentByte]) + ",\"raw\":\"" + RawHex(raw) +
             "\"}\n";
  }
  out_ << line_;
}

}  // namespace veks
