#include "report/event_export.h"

#include <algorithm>
#include <charconv>

#include "archive/event_decoder.h"

namespace veks {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int month, int year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

void AppendNumber(std::string& line, int value) {
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  line.append(digits, end);
}

}  // namespace

void AppendCsvField(std::string& line, std::string_view field) {
  const bool plain = std::none_of(field.begin(), field.end(), [](char c) {
    return c == ',' || c == '"' || c == '\r' || c == '\n';
  });
  if (plain) {
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

std::optional<std::string> EventTimestamp(const EventRecord& e) {
  if (e[kCodeByte] == kInvalidCode) return std::nullopt;
  const int year = 2000 + e[kYearByte], month = e[kMonthByte], day = e[kDayByte];
  if (e[kYearByte] > 99 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(month, year) ||
      e[kHoursByte] > 23 || e[kMinutesByte] > 59 || e[kSecondsByte] > 59) {
    return std::nullopt;
  }
  std::string text = "20YY-MM-DDThh:mm:ss";
  const auto put = [&](std::size_t at, int value) {
    text[at] = static_cast<char>('0' + value / 10);
    text[at + 1] = static_cast<char>('0' + value % 10);
  };
  put(2, e[kYearByte]);
  put(5, month);
  put(8, day);
  put(11, e[kHoursByte]);
  put(14, e[kMinutesByte]);
  put(17, e[kSecondsByte]);
  return text;
}

std::array<std::string, 4> TrimmedEventTexts(const EventRecord& event) {
  std::array<std::string, 4> texts = DecodeEventRow(event);
  for (std::string& text : texts) {
    text.erase(text.find_last_not_of(' ') + 1);
    text.erase(0, text.find_first_not_of(' '));
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
      line_ += ',';
      AppendNumber(line_, segment);
      line_ += ',';
    }
    line_ += stamp.value_or("");
    for (const std::string* text : texts) {
      line_ += ',';
      AppendCsvField(line_, *text);
    }
    line_ += ',';
    AppendNumber(line_, raw[kCodeByte]);
    line_ += ',';
    AppendNumber(line_, raw[kArgumentByte]);
    line_ += ',';
    line_ += RawHex(raw);
    line_ += "\r\n";
  } else {
    line_ += '{';
    if (withPlace_) {
      line_ += "\"device\":";
      AppendJsonString(line_, device);
      line_ += ",\"segment\":";
      AppendNumber(line_, segment);
      line_ += ',';
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
    line_ += ",\"code\":";
    AppendNumber(line_, raw[kCodeByte]);
    line_ += ",\"argument\":";
    AppendNumber(line_, raw[kArgumentByte]);
    line_ += ",\"raw\":\"";
    line_ += RawHex(raw);
    line_ += "\"}\n";
  }
  out_ << line_;
}

}  // namespace veks
