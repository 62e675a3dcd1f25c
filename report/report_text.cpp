#include "report/report_text.h"

#include "archive/archive_file.h"
#include "archive/archive_format.h"
#include "archive/block_loader.h"
#include "archive/event_decoder.h"

namespace veks {
namespace {

std::string Tabs(int count) { return std::string(static_cast<std::size_t>(count), '\t'); }

void AppendRows(const EventTable& table, int rowsShown, ReportSink& sink) {
  for (int row = 1; row <= rowsShown; ++row) sink.appendRow(table, row);
}

EventRow TableRow(const EventTable& table, int row) {
  return {table.cell(0, row), table.cell(1, row), table.cell(2, row), table.cell(3, row)};
}

}  // namespace

void ReportSink::appendRow(const EventTable& table, int row) {
  appendLine(ReportRowLine(table, row));
}

std::string ReportHeaderLine(const EventRow& header) {
  return header[0] + Tabs(3) + header[1] + Tabs(2) + header[2] + Tabs(2) + header[3];
}

std::string ReportHeaderLine(const EventTable& table) {
  return ReportHeaderLine(TableRow(table, 0));
}

std::string ReportRowLine(const EventRow& cells) {
  const std::size_t eventChars = CharacterCount(cells[0]);
  const int firstGap = eventChars < kEventTwoTabsFrom ? 3 : eventChars < kEventOneTabFrom ? 2 : 1;
  const int secondGap = CharacterCount(cells[1]) < kInputTwoTabsFrom ? 3 : 2;
  return cells[0] + Tabs(firstGap) + cells[1] + Tabs(secondGap) + cells[2] + Tabs(2) + cells[3];
}

std::string ReportRowLine(const EventTable& table, int row) {
  return ReportRowLine(TableRow(table, row));
}

void AppendReportHead(const EventTable& table, const std::string& statusLine, ReportSink& sink) {
  sink.appendLine(statusLine);
  sink.appendLine("\n");
  sink.appendLine(ReportHeaderLine(table));
}

void ComposeBlockReport(const EventTable& table, const std::string& statusLine, int rowsShown,
                        ReportSink& sink) {
  sink.clear();
  AppendReportHead(table, statusLine, sink);
  AppendRows(table, rowsShown, sink);
}

WholeReportOutcome ComposeWholeArchiveReport(ViewState& state, EventTable& table, LoaderHost& host,
                                             ReportSink& sink, const ArchiveReader& read) {
  if (state.ArchiveName.empty()) {
    host.showMessage(kMsgNoArchiveName);
    return WholeReportOutcome::kNoArchiveName;
  }
  sink.clear();
  state.BlockDepth = 1;
  state.InputFilter = 0;
  if (RunBlockLoader(state, table, host, read) != LoadOutcome::kFilled) {
    return WholeReportOutcome::kLoadFailed;
  }
  AppendReportHead(table, host.statusLine(), sink);
  for (int pass = 0; pass < kBlockCount; ++pass) {
    AppendRows(table, state.RowsShown, sink);
    state.StepBack = 1;
    if (RunBlockLoader(state, table, host, read) != LoadOutcome::kFilled) {
      sink.clear();
      return WholeReportOutcome::kLoadFailed;
    }
  }
  return WholeReportOutcome::kComplete;
}

}  // namespace veks
