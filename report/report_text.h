// Composing the plain-text report from the event table.
//
// A report is a title (the status line), two empty lines, the header line and
// one line per table row, columns separated by TABs only. The number of TABs
// between columns depends on the character count of the cell before them, so
// that the columns line up on the report box's tab stops.
#pragma once

#include <string>

#include "archive/block_loader.h"
#include "archive/event_table.h"
#include "archive/loader_host.h"
#include "archive/view_state.h"

namespace veks {

// Where a report goes: the window's report box, or standard output.
class ReportSink {
 public:
  virtual ~ReportSink() = default;
  virtual void clear() = 0;
  // Appends text as a new line; a line feed inside it starts a further line.
  virtual void appendLine(const std::string& text) = 0;
  // Appends the line of a table row. A sink that reports the rows otherwise
  // (their records, say) takes the row from the table here, in report order.
  virtual void appendRow(const EventTable& table, int row);
};

// The TAB gap rule: an event text gets three TABs below 7 characters, two
// from 7, one from 18; an input text three below 13 characters, two from 13.
inline constexpr std::size_t kEventTwoTabsFrom = 7;
inline constexpr std::size_t kEventOneTabFrom = 18;
inline constexpr std::size_t kInputTwoTabsFrom = 13;

// The header line: the header cells with three, two and two TABs between them.
[[nodiscard]] std::string ReportHeaderLine(const EventRow& header);
[[nodiscard]] std::string ReportHeaderLine(const EventTable& table);  // of row 0

// The line of one row's cells: the gaps of the TAB gap rule after the event
// and the input text, always two TABs after the time.
[[nodiscard]] std::string ReportRowLine(const EventRow& cells);
[[nodiscard]] std::string ReportRowLine(const EventTable& table, int row);

// Title, the line-feed line (two empty lines) and the header line.
void AppendReportHead(const EventTable& table, const std::string& statusLine, ReportSink& sink);

// The block report: empties the sink and reports rows 1 to rowsShown as the
// table holds them. Loads nothing.
void ComposeBlockReport(const EventTable& table, const std::string& statusLine, int rowsShown,
                        ReportSink& sink);

enum class WholeReportOutcome { kComplete, kNoArchiveName, kLoadFailed };

// The whole-archive report: the newest block, then 61 steps back, 62 blocks in
// all, each followed by its blank line. It stops at the first load that does
// not fill the table (that load has shown its message) and leaves the sink
// empty, so a report of stale rows never carries the whole archive's title.
WholeReportOutcome ComposeWholeArchiveReport(ViewState& state, EventTable& table, LoaderHost& host,
                                             ReportSink& sink,
                                             const ArchiveReader& read = LoadArchive);

}  // namespace veks
