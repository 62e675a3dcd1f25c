// The journal's events written out the one way the command line and the
// window both write them: the journal report into a report sink, the export
// into a stream. Each reads the journal in one state (Journal::forEachEvent).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>

#include "journal/journal.h"
#include "journal/journal_report.h"
#include "report/event_export.h"

namespace veks {

// What writing came to: how many events were written, and the failure that
// ended it, if any. A failure after some events leaves the output incomplete;
// one before any (kUnknownDevice, kNoEvents, ...) leaves nothing written.
struct JournalOutput {
  std::int64_t events = 0;
  std::optional<JournalError> error;
};

// The journal report of the events that pass `filter`, newest first, with
// their notes and the operator entries at their places (JournalReportWriter;
// note times in `localTime`, the process's TZ when none). `keepGoing`, when
// given, is asked after each line's item: false stops the report there,
// which is no failure. `events` counts the items written.
JournalOutput WriteJournalReport(Journal& journal, const EventFilter& filter,
                                 const JournalReportTitle& title, ReportSink& sink,
                                 const std::function<bool()>& keepGoing = {},
                                 const LocalTime& localTime = {});

// The export of the events that pass `filter`, oldest first, with the device
// and segment columns; it stops when `out` fails, which the caller tells,
// and when `keepGoing`, given, returns false after an event.
JournalOutput WriteJournalExport(Journal& journal, const EventFilter& filter, ExportFormat format,
                                 std::ostream& out, const std::function<bool()>& keepGoing = {});

}  // namespace veks
