// Saving the report box to a file, as PDF (the pages that printing the
// report gives) or as UTF-8 text; and the program's own files, which no save
// or export may replace.
#pragma once

#include <QByteArray>
#include <QPageLayout>
#include <QString>
#include <functional>
#include <optional>

#include "ui/report_printer.h"

class QPlainTextEdit;
class QTextDocument;
class QWidget;
class UiServices;
struct SaveChoice;

enum class ReportFileFormat { kPdf, kText };

// The save dialog's filters, PDF first, and the format each one saves.
inline const QString kReportPdfFilter = QStringLiteral("Документ PDF (*.pdf)");
inline const QString kReportTextFilter = QStringLiteral("Текст UTF-8 (*.txt)");

// The format of a chosen name: a ".txt" or ".pdf" the name ends with (in
// any case) wins over the filter it was chosen under.
[[nodiscard]] ReportFileFormat ReportFormatOf(const QString& fileName, const QString& filter);

// Writes the report in `box` to `fileName`, a PDF printed with `style`. A
// file already there is replaced only once the whole report is written, so
// a failed save leaves it as it was. Gives the system's reason when the file
// could not be written.
[[nodiscard]] std::optional<QString> SaveReport(const QPlainTextEdit& box, const QString& fileName,
                                                ReportFileFormat format,
                                                const ReportPageStyle& style);

// The pages of a PDF: a printer's page layout and resolution (made on the
// GUI thread, where a printer is), and the document's title.
struct PdfPages {
  QPageLayout layout;
  int resolution = 1200;
  QString title;
};
// The pages printing gives, or those `printer` was set up for.
[[nodiscard]] PdfPages PrinterPdfPages(QString title);
[[nodiscard]] PdfPages PrinterPdfPages(const QPrinter& printer, QString title);

// Writes `lines` to `fileName` as SaveReport does, on any thread.
// `progress(page, pages)` as PrintReport asks it (for a text file: the lines
// written and their count); false stops the writing, and no file is left
// (an older one stays as it was): kCancelled. kFailed with the reason.
struct SaveOutcome {
  PrintOutcome outcome = PrintOutcome::kPrinted;
  QString reason;
};
[[nodiscard]] SaveOutcome SaveReportLines(ReportLines& lines, const QString& fileName,
                                          ReportFileFormat format, const ReportPageStyle& style,
                                          const PdfPages& pages,
                                          const std::function<bool(int, int)>& progress = {});

// Whether the two names reach one existing file, whatever links, relative
// parts or hard links lie between them.
[[nodiscard]] bool IsSameFile(const QString& a, const QString& b);

// The files of the program's own that a save or an export must never
// replace: the archive chosen in the main window (empty when none is), and
// the journal with the files SQLite keeps beside it ("-wal", "-shm",
// "-journal").
struct OwnFiles {
  QString archive;
  std::optional<QString> journal;
};
enum class OwnFile { kNone, kArchive, kJournal };

// Which own file writing `target` would replace: the same file (device and
// inode, through any link), or, for a file not there yet, the same name
// once links and relative parts are resolved; SQLite would take a "-wal"
// written there for the journal's own.
[[nodiscard]] OwnFile OwnFileAt(const QString& target, const OwnFiles& own);

// Refuses writing the report to `target` when it is an own file, saying so
// ("Отчет нельзя сохранить в файл журнала: TARGET"); true when refused.
[[nodiscard]] bool RefuseOwnFile(QWidget* parent, UiServices& services, const QString& target,
                                 const OwnFiles& own);

// The file to save a report to: asks for it offering `proposedName` in the
// PDF and text filters, and refuses the own files. Nothing when cancelled or
// refused (said so).
std::optional<SaveChoice> AskReportFile(QWidget* parent, UiServices& services,
                                        const QString& proposedName, const OwnFiles& own);

// "Сохранить отчет…" of both windows: refuses an empty box ("Отчет пуст"),
// asks for the file offering `proposedName` in the PDF and text filters,
// refuses the own files, saves in the format of the name or the filter, and
// says what failed. Gives the name saved to, or nothing when nothing was.
std::optional<QString> AskAndSaveReport(QWidget* parent, UiServices& services,
                                        const QPlainTextEdit& box, const QString& proposedName,
                                        const OwnFiles& own, const ReportPageStyle& style);

// A part of a proposed file name made of a device's or an archive's name:
// "_" for each character a file name cannot hold on a usual system, blanks
// at either end left out.
[[nodiscard]] QString FileNamePart(const QString& name);
