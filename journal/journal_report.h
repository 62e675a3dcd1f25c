// The journal report: the journal's events as the text of a report box.
#pragma once

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

// Composes the journal report from events given newest first, device by
// device: per device the title "Журнал: устройство NAME" with the filters
// ("  с DD.MM.YY", "  по DD.MM.YY", " вход № N", "  событие «TEXT»"),
// two empty lines, the header line and a report row line per event, with
// "--- возможен пропуск событий ---" between events of different segments;
// one empty line between the reports of two devices.
class JournalReportWriter {
 public:
  JournalReportWriter(ReportSink& sink, JournalReportTitle title);
  void write(const JournalEvent& event);

 private:
  ReportSink& sink_;
  JournalReportTitle title_;
  std::optional<std::string> device_;
  int segment_ = 0;
};

inline constexpr const char* kGapLine = "--- возможен пропуск событий ---";

}  // namespace veks
