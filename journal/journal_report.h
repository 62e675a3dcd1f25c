// The journal report: the journal's events as the text of a report box.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "archive/archive_format.h"
#include "journal/journal.h"
#include "report/report_text.h"

namespace veks {

// The journal report's texts given with filters: the title's additions.
struct JournalReportTitle {
  std::optional<std::string> from;  // DD.MM.YY as the operator gave it
  std::optional<std::string> to;
  std::optional<int> input;
  std::optional<std::string> event;  // a kind of event; the command line offers none
};

// A moment (seconds since 1970, UTC) as the local time of the reader.
using LocalTime = std::function<std::tm(std::int64_t)>;

// Composes the journal report from events given newest first, device by
// device: per device the title "Журнал: устройство NAME" with the filters
// ("  с DD.MM.YY", "  по DD.MM.YY", " вход № N", "  событие «TEXT»"),
// two empty lines, the header line and a report row line per event, with
// "--- возможен пропуск событий ---" between events of different segments;
// one empty line between the reports of two devices.
//
// Given report items (Journal::forEachReportItem), it writes under an
// event's line each of its notes, "    примечание N (KIND, AUTHOR, DD.MM.YY
// hh:mm): TEXT" with the time the version was written in `localTime`
// (localtime_r, the process's TZ, when none is given); and an operator entry
// as a line of its own, "    запись оператора N (KIND, AUTHOR, DD.MM.YY
// hh:mm:ss): TEXT" with its moment. Further lines of a TEXT follow indented
// by eight blanks. An entry counts as standing in the segment of its place
// for the gap line, which stands wherever the segment changes after the
// device's first event. Without notes the report is the events' alone.
class JournalReportWriter {
 public:
  JournalReportWriter(ReportSink& sink, JournalReportTitle title, LocalTime localTime = {});
  void write(const JournalEvent& event);
  void write(const ReportItem& item);

 private:
  void begin(std::string_view device, int segment);
  void writeNote(const std::string& head, const std::string& text);

  ReportSink& sink_;
  JournalReportTitle title_;
  LocalTime localTime_;
  std::optional<std::string> device_;
  bool eventWritten_ = false;  // of the current device
  int segment_ = 0;
};

inline constexpr const char* kGapLine = "--- возможен пропуск событий ---";

}  // namespace veks
