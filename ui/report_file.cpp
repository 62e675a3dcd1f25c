#include "ui/report_file.h"

#include <QFile>
#include <QFileInfo>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextDocument>
#include <filesystem>
#include <system_error>

namespace {

// The PDF pages of the report as the whole-report print gives them: the print
// path of the box, on a PDF device with a printer's page layout and resolution.
void WritePdf(const QPlainTextEdit& box, QIODevice& file) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  QPdfWriter pdf(&file);
  pdf.setResolution(printer.resolution());
  pdf.setPageLayout(printer.pageLayout());
  pdf.setTitle(box.document()->firstBlock().text());
  box.print(&pdf);
}

}  // namespace

QByteArray ReportTextBytes(const QTextDocument& report) {
  QByteArray bytes;
  if (report.isEmpty()) return bytes;
  // Block by block: the document's own plain text turns no-break spaces into
  // blanks, and a line of the box is one block.
  for (QTextBlock block = report.begin(); block.isValid(); block = block.next()) {
    bytes += block.text().toUtf8();
    bytes += '\n';
  }
  return bytes;
}

std::optional<QString> SaveReport(const QPlainTextEdit& box, const QString& fileName,
                                  ReportFileFormat format) {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  if (format == ReportFileFormat::kPdf) {
    WritePdf(box, file);
  } else {
    file.write(ReportTextBytes(*box.document()));
  }
  if (!file.commit()) return file.errorString();
  return std::nullopt;
}

bool IsSameFile(const QString& a, const QString& b) {
  // Device and inode: what comparing canonical paths finds (links, "..",
  // relative names), and a second hard link besides.
  std::error_code error;
  return std::filesystem::equivalent(QFile::encodeName(a).toStdString(),
                                     QFile::encodeName(b).toStdString(), error);
}
