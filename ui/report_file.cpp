#include "ui/report_file.h"

#include <QDir>
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

#include "ui/dialog_services.h"

namespace fs = std::filesystem;

namespace {

// The PDF pages of the report as printing it gives them, on a PDF device
// with a printer's page layout and resolution.
bool WritePdf(const QPlainTextEdit& box, const ReportPageStyle& style, QIODevice& file) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  QPdfWriter pdf(&file);
  pdf.setResolution(printer.resolution());
  pdf.setPageLayout(printer.pageLayout());
  pdf.setTitle(box.document()->firstBlock().text());
  DocumentLines lines(*box.document());
  return PrintReport(lines, style, pdf) == PrintOutcome::kPrinted;
}

fs::path FsPath(const QString& name) { return fs::path(QFile::encodeName(name).toStdString()); }

// The name with its folder's links and relative parts resolved and, where
// the name is itself a link, the link followed as far as it leads: a file
// written at the name is written there.
fs::path ResolvedName(const QString& name) {
  std::error_code error;
  fs::path path = fs::absolute(FsPath(name), error);
  for (int hops = 0; hops < 40 && fs::is_symlink(path, error); ++hops) {
    const fs::path target = fs::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  const fs::path resolved = fs::weakly_canonical(path, error);
  return error ? path.lexically_normal() : resolved;
}

bool ReachesOneFile(const QString& target, const QString& own) {
  if (IsSameFile(target, own)) return true;
  return ResolvedName(target) == ResolvedName(own);
}

}  // namespace

ReportFileFormat ReportFormatOf(const QString& fileName, const QString& filter) {
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  if (suffix == QLatin1String("txt")) return ReportFileFormat::kText;
  if (suffix == QLatin1String("pdf")) return ReportFileFormat::kPdf;
  return filter == kReportTextFilter ? ReportFileFormat::kText : ReportFileFormat::kPdf;
}

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
                                  ReportFileFormat format, const ReportPageStyle& style) {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  if (format == ReportFileFormat::kPdf) {
    if (!WritePdf(box, style, file)) {
      file.cancelWriting();
      return QStringLiteral("страницы PDF не удалось напечатать");
    }
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
  return fs::equivalent(FsPath(a), FsPath(b), error);
}

OwnFile OwnFileAt(const QString& target, const OwnFiles& own) {
  if (!own.archive.isEmpty() && ReachesOneFile(target, own.archive)) return OwnFile::kArchive;
  if (own.journal) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      if (ReachesOneFile(target, *own.journal + QLatin1String(suffix))) return OwnFile::kJournal;
    }
  }
  return OwnFile::kNone;
}

bool RefuseOwnFile(QWidget* parent, UiServices& services, const QString& target,
                   const OwnFiles& own) {
  const OwnFile file = OwnFileAt(target, own);
  if (file == OwnFile::kNone) return false;
  services.message(
      parent,
      (file == OwnFile::kArchive ? QStringLiteral("Отчет нельзя сохранить в файл архива: ")
                                 : QStringLiteral("Отчет нельзя сохранить в файл журнала: ")) +
          QDir::toNativeSeparators(target),
      MessageIcon::kWarning);
  return true;
}

std::optional<QString> AskAndSaveReport(QWidget* parent, UiServices& services,
                                        const QPlainTextEdit& box, const QString& proposedName,
                                        const OwnFiles& own, const ReportPageStyle& style) {
  if (box.document()->isEmpty()) {
    services.message(parent, QStringLiteral("Отчет пуст"), MessageIcon::kInformation);
    return std::nullopt;
  }
  const std::optional<SaveChoice> choice =
      services.saveFileName(parent, QStringLiteral("Сохранить отчет"),
                            {kReportPdfFilter, kReportTextFilter}, proposedName);
  if (!choice) return std::nullopt;
  if (RefuseOwnFile(parent, services, choice->fileName, own)) return std::nullopt;
  const QString shown = QDir::toNativeSeparators(choice->fileName);
  if (const std::optional<QString> error = SaveReport(
          box, choice->fileName, ReportFormatOf(choice->fileName, choice->filter), style)) {
    services.message(parent,
                     QStringLiteral("Отчет не удается сохранить в файл %1: %2").arg(shown, *error),
                     MessageIcon::kWarning);
    return std::nullopt;
  }
  return choice->fileName;
}

QString FileNamePart(const QString& name) {
  QString part;
  for (const QChar c : name) {
    const bool unfit = c == u'/' || c == u'\\' || c == u':' || c == u'*' || c == u'?' ||
                       c == u'"' || c == u'<' || c == u'>' || c == u'|' || !c.isPrint();
    part += unfit ? QLatin1Char('_') : c;
  }
  return part.trimmed();
}
