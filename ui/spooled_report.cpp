#include "ui/spooled_report.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <cstdlib>

#include "journal/journal_output.h"
#include "ui/background_work.h"
#include "ui/report_box.h"

namespace {

// A file of the temporary folder that no other program finds: it is removed
// from the folder at once and goes with its last handle.
std::FILE* AnonymousFile() {
  QByteArray name = QFile::encodeName(QDir::tempPath() + QStringLiteral("/veks12-report-XXXXXX"));
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return nullptr;
  ::unlink(name.constData());
  std::FILE* file = ::fdopen(fd, "w+");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

// Each line of the report, a line feed after it.
class SpooledReport::Sink final : public veks::ReportSink {
 public:
  explicit Sink(SpooledReport& report) : report_(report) {}
  void clear() override {
    report_.rewind();
    failed_ = failed_ || ::ftruncate(::fileno(report_.file_), 0) != 0;
    report_.count_ = 0;
  }
  void appendLine(const std::string& text) override {
    failed_ = failed_ || std::fwrite(text.data(), 1, text.size(), report_.file_) != text.size() ||
              std::fputc('\n', report_.file_) == EOF;
    // A line feed inside the text starts a line of its own.
    report_.count_ += 1 + static_cast<qsizetype>(std::count(text.begin(), text.end(), '\n'));
  }
  [[nodiscard]] bool failed() const { return failed_; }

 private:
  SpooledReport& report_;
  bool failed_ = false;
};

SpooledReport::~SpooledReport() {
  std::free(buffer_);
  std::fclose(file_);
}

void SpooledReport::rewind() {
  std::fflush(file_);
  std::rewind(file_);
  next_ = 0;
}

QString SpooledReport::line(qsizetype index) {
  if (index < next_) rewind();
  ssize_t length = -1;
  while (next_ <= index) {
    length = ::getline(&buffer_, &capacity_, file_);
    if (length < 0) return {};
    ++next_;
  }
  if (length > 0 && buffer_[length - 1] == '\n') --length;
  return QString::fromUtf8(buffer_, length);
}

QString SpooledReport::title() { return count_ > 0 ? line(0) : QString(); }

SpooledReport::Made SpooledReport::Make(const std::string& path, const veks::EventFilter& filter,
                                        const veks::JournalReportTitle& title,
                                        std::int64_t expected, WorkProgress& progress) {
  Made made;
  std::FILE* file = AnonymousFile();
  if (file == nullptr) {
    made.error =
        veks::JournalError{veks::JournalError::Kind::kStorage,
                           "отчет не удается составить: во временной папке нельзя создать файл (" +
                               QDir::toNativeSeparators(QDir::tempPath()).toStdString() + ")"};
    return made;
  }
  std::unique_ptr<SpooledReport> report(new SpooledReport(file));
  auto opened = veks::Journal::Open(path, veks::Journal::Access::kRead);
  if (!opened.ok()) {
    made.error = opened.error();
    return made;
  }
  veks::Journal& journal = *opened.value();
  journal.setBusyWait([&progress] {
    progress.setWaiting(true);
    return !progress.canceled();
  });
  progress.setTotal(expected);
  Sink sink(*report);
  std::int64_t items = 0;
  const veks::JournalOutput written = veks::WriteJournalReport(journal, filter, title, sink, [&] {
    progress.setWaiting(false);
    // The progress is told now and then: it is read by another thread.
    if (++items % 1024 == 0) progress.setDone(items);
    return !progress.canceled() && !sink.failed();
  });
  if (progress.canceled()) {
    made.canceled = true;
    return made;
  }
  if (written.error) {
    made.error = written.error;
    return made;
  }
  if (sink.failed() || std::fflush(file) != 0) {
    made.error =
        veks::JournalError{veks::JournalError::Kind::kStorage,
                           "отчет не удается составить: во временной папке нет места (" +
                               QDir::toNativeSeparators(QDir::tempPath()).toStdString() + ")"};
    return made;
  }
  report->rewind();
  made.report = std::move(report);
  return made;
}

void ShowReportStart(SpooledReport& report, QPlainTextEdit* box) {
  ReportBoxSink sink(box);
  sink.clear();
  const qsizetype shown = std::min(report.count(), kBoxLines);
  for (qsizetype i = 0; i < shown; ++i) sink.appendLine(report.line(i).toStdString());
  if (shown < report.count()) {
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    sink.appendLine(QStringLiteral("… здесь показаны первые %1 строк отчета из %2; печать (Ctrl+P) "
                                   "и сохранение (Ctrl+S) дают отчет целиком")
                        .arg(russian.toString(shown), russian.toString(report.count()))
                        .toStdString());
  }
}
