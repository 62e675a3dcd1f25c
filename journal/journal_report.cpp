#include "journal/journal_report.h"

#include "archive/event_decoder.h"

namespace veks {

JournalReportWriter::JournalReportWriter(ReportSink& sink, JournalReportTitle title)
    : sink_(sink), title_(std::move(title)) {}

void JournalReportWriter::write(const JournalEvent& event) {
  if (!device_ || *device_ != event.device) {
    if (device_) sink_.appendLine("");
    device_ = std::string(event.device);
    std::string title = "Журнал: устройство " + *device_;
    if (title_.from) title += "  с " + *title_.from;
    if (title_.to) title += "  по " + *title_.to;
    if (title_.input) title += " вход № " + std::to_string(*title_.input);
    if (title_.event) title += "  событие «" + *title_.event + "»";
    sink_.appendLine(title);
    sink_.appendLine("\n");
    sink_.appendLine(ReportHeaderLine(EventTable::HeaderRow()));
  } else if (event.segment != segment_) {
    sink_.appendLine(kGapLine);
  }
  segment_ = event.segment;
  sink_.appendLine(ReportRowLine(DecodeEventRow(event.raw)));
}

}  // namespace veks
