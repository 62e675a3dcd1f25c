#include "journal/journal_output.h"

namespace veks {
namespace {

JournalOutput Finished(const JournalResult<std::int64_t>& result, std::int64_t written) {
  if (result.ok()) return {result.value(), std::nullopt};
  return {written, result.error()};
}

}  // namespace

JournalOutput WriteJournalReport(Journal& journal, const EventFilter& filter,
                                 const JournalReportTitle& title, ReportSink& sink,
                                 const std::function<bool()>& keepGoing,
                                 const LocalTime& localTime) {
  JournalReportWriter report(sink, title, localTime);
  std::int64_t written = 0;
  const auto result = journal.forEachReportItem(filter, [&](const ReportItem& item) {
    report.write(item);
    ++written;
    return !keepGoing || keepGoing();
  });
  return Finished(result, written);
}

JournalOutput WriteJournalExport(Journal& journal, const EventFilter& filter, ExportFormat format,
                                 std::ostream& out, const std::function<bool()>& keepGoing) {
  EventExporter exporter(out, format, true);
  std::int64_t written = 0;
  const auto result =
      journal.forEachEvent(filter, EventOrder::kOldestFirst, [&](const JournalEvent& event) {
        exporter.write(event.raw, event.device, event.segment);
        ++written;
        return static_cast<bool>(out) && (!keepGoing || keepGoing());
      });
  return Finished(result, written);
}

}  // namespace veks
