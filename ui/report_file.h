// Saving the report box to a file: as PDF, the pages that printing the whole
// report gives, or as UTF-8 text.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class QPlainTextEdit;
class QTextDocument;

enum class ReportFileFormat { kPdf, kText };

// The save dialog's filters, PDF first, and the format each one saves.
inline const QString kReportPdfFilter = QStringLiteral("Документ PDF (*.pdf)");
inline const QString kReportTextFilter = QStringLiteral("Текст UTF-8 (*.txt)");

// The text file's bytes: every line of the report, each followed by "\n",
// in UTF-8 without a byte-order mark. An empty box has no lines.
[[nodiscard]] QByteArray ReportTextBytes(const QTextDocument& report);

// Writes the report in `box` to `fileName`. A file already there is replaced
// only once the whole report is written, so a failed save leaves it as it
// was. Gives the system's reason when the file could not be written.
[[nodiscard]] std::optional<QString> SaveReport(const QPlainTextEdit& box, const QString& fileName,
                                                ReportFileFormat format);

// Whether the two names reach one existing file, whatever links, relative
// parts or hard links lie between them.
[[nodiscard]] bool IsSameFile(const QString& a, const QString& b);
