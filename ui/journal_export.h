// The export of the journal's events, or of their notes, to a file of the
// operator's choice: CSV (UTF-8 with a byte-order mark) or JSON lines, the
// lines the command line's export (or notes) writes.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>

#include "journal/journal.h"
#include "report/event_export.h"
#include "ui/report_file.h"

// The save dialog's filters, CSV first.
inline const QString kExportCsvFilter = QStringLiteral("CSV, UTF-8 (*.csv)");
inline const QString kExportJsonlFilter = QStringLiteral("JSON lines (*.jsonl)");
// The same for the notes of the events and the operator entries.
inline const QString kExportNotesCsvFilter = QStringLiteral("Примечания, CSV (*.csv)");
inline const QString kExportNotesJsonlFilter = QStringLiteral("Примечания, JSON lines (*.jsonl)");

// Whether the filter chosen exports the notes rather than the events.
[[nodiscard]] bool ExportsNotes(const QString& filter);

// The format of a chosen name: a ".csv" or ".jsonl" the name ends with (in
// any case) wins over the filter it was chosen under.
[[nodiscard]] veks::ExportFormat ExportFormatOf(const QString& fileName, const QString& filter);

// Why an export may not write `target`: it would replace one of the
// program's own files (OwnFileAt, device and inode). Nothing when it may.
[[nodiscard]] std::optional<QString> ExportRefusal(const QString& target, const OwnFiles& own);

// What an export to a file came to.
struct ExportFileOutcome {
  std::int64_t events = 0;       // written (or notes), when there is no error
  std::optional<QString> error;  // why nothing was written, naming the file
  bool noEvents = false;         // the error is only that no event passes
  bool canceled = false;         // stopped by `keepGoing`: nothing written
};

// Writes the export of the events that pass `filter` to `fileName`. The
// file is written beside its place under another name and takes the place
// only when complete, so a failed or stopped export leaves an older file as
// it was. `keepGoing`, given, is asked after each event.
// With `notes`, the notes of what the filter shows (WriteNotesExport); no
// note is no failure then: the CSV holds its header line alone.
[[nodiscard]] ExportFileOutcome ExportToFile(veks::Journal& journal,
                                             const veks::EventFilter& filter,
                                             veks::ExportFormat format, const QString& fileName,
                                             bool notes = false,
                                             const std::function<bool()>& keepGoing = {});

// Writes the notes of what `filter` shows (newest versions, not deleted), in
// the order and columns of `veks12-journal notes`: the notes of the events
// that pass, and the operator entries whose moment passes the dates (none
// under an input or event filter, as in the report). CSV starts with its
// header line even when no note passes. The number of notes written.
veks::JournalResult<std::int64_t> WriteNotesExport(veks::Journal& journal,
                                                   const veks::EventFilter& filter,
                                                   veks::ExportFormat format, std::ostream& out);
