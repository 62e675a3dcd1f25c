#include "journal/journal_report.h"

#include "archive/event_decoder.h"

namespace veks {
namespace {

std::string TwoDigits(int value) {
  return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// "YYYY-MM-DDThh:mm:ss" as "DD.MM.YY hh:mm:ss".
std::string ReportMoment(std::string_view iso) {
  if (iso.size() < 19) return std::string(iso);
  return std::string(iso.substr(8, 2)) + "." + std::string(iso.substr(5, 2)) + "." +
         std::string(iso.substr(2, 2)) + " " + std::string(iso.substr(11, 8));
}

}  // namespace

JournalReportWriter::JournalReportWriter(ReportSink& sink, JournalReportTitle title,
                                         LocalTime localTime)
    : sink_(sink), title_(std::move(title)), localTime_(std::move(localTime)) {
  if (!localTime_) {
    localTime_ = [](std::int64_t seconds) {
      const auto time = static_cast<std::time_t>(seconds);
      std::tm tm{};
      localtime_r(&time, &tm);
      return tm;
    };
  }
}

void JournalReportWriter::begin(std::string_view device, int segment) {
  if (!device_ || *device_ != device) {
    if (device_) sink_.appendLine("");
    device_ = std::string(device);
    std::string title = "Журнал: устройство " + *device_;
    if (title_.from) title += "  с " + *title_.from;
    if (title_.to) title += "  по " + *title_.to;
    if (title_.input) title += " вход № " + std::to_string(*title_.input);
    if (title_.event) title += "  событие «" + *title_.event + "»";
    sink_.appendLine(title);
    sink_.appendLine("\n");
    sink_.appendLine(ReportHeaderLine(EventTable::HeaderRow()));
    eventWritten_ = false;
  } else if (eventWritten_ && segment != segment_) {
    sink_.appendLine(kGapLine);
  }
  segment_ = segment;
}

void JournalReportWriter::write(const JournalEvent& event) {
  begin(event.device, event.segment);
  eventWritten_ = true;
  sink_.appendLine(ReportRowLine(DecodeEventRow(event.raw)));
}

void JournalReportWriter::write(const ReportItem& item) {
  if (item.event != nullptr) {
    write(*item.event);
    for (const NoteVersion& note : item.notes) {
      const std::tm tm = localTime_(UtcMomentSeconds(note.written).value_or(0));
      const std::string when = TwoDigits(tm.tm_mday) + "." + TwoDigits(tm.tm_mon + 1) + "." +
                               TwoDigits(tm.tm_year % 100) + " " + TwoDigits(tm.tm_hour) + ":" +
                               TwoDigits(tm.tm_min);
      writeNote("    примечание " + std::to_string(note.number) + " (" + note.kind + ", " +
                    note.author + ", " + when + "): ",
                note.text);
    }
    return;
  }
  for (const NoteVersion& entry : item.notes) {
    begin(entry.device, item.segment);
    writeNote("    запись оператора " + std::to_string(entry.number) + " (" + entry.kind + ", " +
                  entry.author + ", " + ReportMoment(entry.moment.value_or("")) + "): ",
              entry.text);
  }
}

void JournalReportWriter::writeNote(const std::string& head, const std::string& text) {
  std::size_t line = 0;
  for (std::size_t end = 0; end != std::string::npos; line = end + 1) {
    end = text.find('\n', line);
    const std::string_view part = std::string_view(text).substr(line, end - line);
    sink_.appendLine((line == 0 ? head : std::string(8, ' ')) + std::string(part));
  }
}

}  // namespace veks
