// The export of the journal's events to a file of the operator's choice:
// CSV (UTF-8 with a byte-order mark) or JSON lines, the lines the command
// line's export writes.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "journal/journal.h"
#include "report/event_export.h"
#include "ui/report_file.h"

// The save dialog's filters, CSV first.
inline const QString kExportCsvFilter = QStringLiteral("CSV, UTF-8 (*.csv)");
inline const QString kExportJsonlFilter = QStringLiteral("JSON lines (*.jsonl)");

// The format of a chosen name: a ".csv" or ".jsonl" the name ends with (in
// any case) wins over the filter it was chosen under.
[[nodiscard]] veks::ExportFormat ExportFormatOf(const QString& fileName, const QString& filter);

// Why an export may not write `target`: it would replace one of the
// program's own files (OwnFileAt, device and inode). Nothing when it may.
[[nodiscard]] std::optional<QString> ExportRefusal(const QString& target, const OwnFiles& own);

// What an export to a file came to.
struct ExportFileOutcome {
  std::int64_t events = 0;       // written, when there is no error
  std::optional<QString> error;  // why nothing was written, naming the file
  bool noEvents = false;         // the error is only that no event passes
  bool canceled = false;         // stopped by `keepGoing`: nothing written
};

// Writes the export of the events that pass `filter` to `fileName`. The
// file is written beside its place under another name and takes the place
// only when complete, so a failed or stopped export leaves an older file as
// it was. `keepGoing`, given, is asked after each event.
[[nodiscard]] ExportFileOutcome ExportToFile(veks::Journal& journal,
                                             const veks::EventFilter& filter,
                                             veks::ExportFormat format, const QString& fileName,
                                             const std::function<bool()>& keepGoing = {});
