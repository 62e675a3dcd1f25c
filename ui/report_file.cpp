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
PrintOutcome WritePdf(ReportLines& lines, const ReportPageStyle& style, const PdfPages& pages,
                      QIODevice& file, const std::function<bool(int, int)>& progress) {
  QPdfWriter pdf(&file);
  pdf.setResolution(pages.resolution);
  pdf.setPageLayout(pages.layout);
  pdf.setTitle(pages.title);
  return PrintReport(lines, style, pdf, progress);
}

// Every line followed by "\n", in UTF-8 without a byte-order mark.
PrintOutcome WriteText(ReportLines& lines, QIODevice& file,
                       const std::function<bool(int, int)>& progress) {
  const qsizetype count = lines.count();
  for (qsizetype i = 0; i < count; ++i) {
    if (file.write(lines.line(i).toUtf8() + '\n') < 0) return PrintOutcome::kFailed;
    if (progress && i % 4096 == 0 && !progress(int(i / 4096), int(count / 4096) + 1)) {
      return PrintOutcome::kCancelled;
    }
  }
  return PrintOutcome::kPrinted;
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

PdfPages PrinterPdfPages(QString title) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  return PrinterPdfPages(printer, std::move(title));
}

PdfPages PrinterPdfPages(const QPrinter& printer, QString title) {
  return PdfPages{printer.pageLayout(), printer.resolution(), std::move(title)};
}

SaveOutcome SaveReportLines(ReportLines& lines, const QString& fileName, ReportFileFormat format,
                            const ReportPageStyle& style, const PdfPages& pages,
                            const std::function<bool(int, int)>& progress) {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) return {PrintOutcome::kFailed, file.errorString()};
  const PrintOutcome written = format == ReportFileFormat::kPdf
                                   ? WritePdf(lines, style, pages, file, progress)
                                   : WriteText(lines, file, progress);
  if (written != PrintOutcome::kPrinted) {
    file.cancelWriting();
    return {written, written == PrintOutcome::kCancelled ? QString()
                     : format == ReportFileFormat::kPdf
                         ? QStringLiteral("страницы PDF не удалось напечатать")
                         : file.errorString()};
  }
  if (!file.commit()) return {PrintOutcome::kFailed, file.errorString()};
  return {};
}

std::optional<QString> SaveReport(const QPlainTextEdit& box, const QString& fileName,
                                  ReportFileFormat format, const ReportPageStyle& style) {
  DocumentLines lines(*box.document());
  // An empty box has no lines (a document always has a block).
  struct NoLines final : ReportLines {
    [[nodiscard]] qsizetype count() const override { return 0; }
    [[nodiscard]] QString line(qsizetype) override { return {}; }
  } none;
  ReportLines& saved = box.document()->isEmpty() ? static_cast<ReportLines&>(none) : lines;
  const SaveOutcome outcome = SaveReportLines(saved, fileName, format, style,
                                              PrinterPdfPages(box.document()->firstBlock().text()));
  if (outcome.outcome == PrintOutcome::kPrinted) return std::nullopt;
  return outcome.reason;
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

std::optional<SaveChoice> AskReportFile(QWidget* parent, UiServices& services,
                                        const QString& proposedName, const OwnFiles& own) {
  std::optional<SaveChoice> choice =
      services.saveFileName(parent, QStringLiteral("Сохранить отчет"),
                            {kReportPdfFilter, kReportTextFilter}, proposedName);
  if (choice && RefuseOwnFile(parent, services, choice->fileName, own)) return std::nullopt;
  return choice;
}

std::optional<QString> AskAndSaveReport(QWidget* parent, UiServices& services,
                                        const QPlainTextEdit& box, const QString& proposedName,
                                        const OwnFiles& own, const ReportPageStyle& style) {
  if (box.document()->isEmpty()) {
    services.message(parent, QStringLiteral("Отчет пуст"), MessageIcon::kInformation);
    return std::nullopt;
  }
  const std::optional<SaveChoice> choice = AskReportFile(parent, services, proposedName, own);
  if (!choice) return std::nullopt;
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
