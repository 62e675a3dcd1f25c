// What the window's test suites share: a stand-in for the operator, and a
// base class that opens the window over an archive it builds.
#pragma once

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRectF>
#include <QRegularExpression>
#include <QSettings>
#include <QSizeF>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "tools/archive_builder.h"
#include "ui/Doc_main.h"
#include "ui/dialog_services.h"

// How long a test waits for a condition that the event loop brings about
// (a window's activation, its closing) before it gives up: room for a
// machine many times slower; a passing test waits only as long as it takes.
inline constexpr int kPatienceMs = 120'000;

// Runs `act` once a modal dialog is up (started before the blocking call).
inline void WhenModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    }
  });
  timer->start();
}

// Before the application is made: the settings and the journal of the person
// running the tests stay untouched, each run keeping its own in `home` (test
// mode alone keeps one settings file for every test process of the user, so
// a run beside another would read the journal the other chose); and
// offscreen gets a screen wide enough for the journal window beside the main
// window (its own is 800 x 800).
inline void IsolateJournalWindowTests(const veks::TempDir& home) {
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.file("config")));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home.file("data")));
  QStandardPaths::setTestModeEnabled(true);
  if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
    const std::string screen = home.file("screen.json");
    std::ofstream(screen) << R"({"screens": [{"name": "wide", "x": 0, "y": 0, "width": 3000,
        "height": 1200, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
    qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString("offscreen:configfile=" + screen));
  }
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(home.file("config")));
}

// What `pdftotext ARGS PDF -` prints, or "<failed>".
inline QString PdfText(const QString& pdf, QStringList args = {}) {
  QProcess process;
  process.start(QStringLiteral("pdftotext"), args << pdf << QStringLiteral("-"));
  // A PDF of thousands of pages takes a while on a loaded machine; the test
  // function's own time limit bounds the wait.
  if (!process.waitForFinished(-1) || process.exitCode() != 0) return QStringLiteral("<failed>");
  return QString::fromUtf8(process.readAllStandardOutput());
}

// The words printed in a PDF (`pdftotext -bbox`), boxes in points from the
// page's top left corner; and how far they stay from the paper's edges.
struct PdfWord {
  QRectF box;
  QString text;
};
inline QList<PdfWord> ReadPdfWords(const QString& pdf, qreal* leastMargin = nullptr) {
  static const QRegularExpression kBox(
      QStringLiteral("<(?:page width=\"([0-9.]+)\" height=\"([0-9.]+)\"|word xMin=\"([0-9.]+)\" "
                     "yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)<)"));
  QList<PdfWord> words;
  QSizeF paper;
  qreal least = 1e9;
  for (auto found = kBox.globalMatch(PdfText(pdf, {QStringLiteral("-bbox")})); found.hasNext();) {
    const auto m = found.next();
    const auto at = [&](int i) { return m.captured(i).toDouble(); };
    if (m.capturedLength(1) > 0) {
      paper = QSizeF(at(1), at(2));
      continue;
    }
    const QRectF box(QPointF(at(3), at(4)), QPointF(at(5), at(6)));
    words.append({box, m.captured(7)});
    least = std::min(
        {least, box.left(), box.top(), paper.width() - box.right(), paper.height() - box.bottom()});
  }
  if (leastMargin != nullptr) *leastMargin = least;
  return words;
}

// Records every message and dialog the window asks for and answers as the
// test told it. Nothing waits on a person.

class FakeServices : public UiServices {
 public:
  void message(QWidget*, const QString& text, MessageIcon icon = MessageIcon::kNone) override {
    messages << text;
    icons << icon;
    if (onMessage) onMessage(text);
  }
  void warning(QWidget*, const QString& text, const QString& caption) override {
    warnings << caption + QLatin1Char('|') + text;
  }
  void errorBox(QWidget*, const QString& text) override { errors << text; }
  std::optional<QString> openFileName(QWidget*, const QString& title, const QString& suffix,
                                      const QString& filter) override {
    dialogs << title + QLatin1Char('|') + suffix + QLatin1Char('|') + filter;
    if (throwOnOpen) throw std::runtime_error("диск недоступен");
    if (fileAnswers.empty()) return std::nullopt;
    const std::optional<QString> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
  std::optional<SaveChoice> saveFileName(QWidget*, const QString& title, const QStringList& filters,
                                         const QString& proposedName) override {
    dialogs << title + QLatin1Char('|') + filters.join(QStringLiteral(";;"));
    proposedNames << proposedName;
    if (saveAnswers.empty()) return std::nullopt;
    const std::optional<SaveChoice> answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
  }
  // Confirms by printing into printToPdf, or cancels when it is empty.
  bool printDialog(QWidget*, QPrinter* printer) override {
    ++printDialogs;
    if (onPrintDialog) onPrintDialog();
    if (printToPdf.isEmpty()) return false;
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(printToPdf);
    if (printPages.first > 0) {
      printer->setPrintRange(QPrinter::PageRange);
      printer->setFromTo(printPages.first, printPages.second);
    }
    return true;
  }
  // Records "file|proposed|existing,...", the proposal marked "+" when the
  // copy continues it, and answers with the next of deviceAnswers.
  std::optional<QString> askDeviceName(QWidget*, const DeviceQuestion& question) override {
    deviceQuestions << QStringList{QFileInfo(question.archive).fileName(),
                                   question.proposed + (question.continues ? "+" : ""),
                                   question.existing.join(QLatin1Char(','))}
                           .join(QLatin1Char('|'));
    if (deviceAnswers.empty()) return std::nullopt;
    const std::optional<QString> answer = deviceAnswers.front();
    deviceAnswers.pop_front();
    return answer;
  }
  // Records "device|proposed|others,..." and answers with the next of deviceAnswers.
  std::optional<QString> askNewDeviceName(QWidget*, const QString& device, const QString& proposed,
                                          const QStringList& others) override {
    deviceQuestions << device + QLatin1Char('|') + proposed + QLatin1Char('|') +
                           others.join(QLatin1Char(','));
    if (deviceAnswers.empty()) return std::nullopt;
    const std::optional<QString> answer = deviceAnswers.front();
    deviceAnswers.pop_front();
    return answer;
  }
  // Records the question and answers with the next of confirmAnswers, else confirmAnswer.
  bool confirm(QWidget*, const QString& text) override {
    questions << text;
    if (confirmAnswers.empty()) return confirmAnswer;
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
  }
  void beep() override { ++beeps; }
  // Records "title|kind|text" and answers with the next of noteAnswers.
  std::optional<NoteAnswer> askNote(QWidget*, const NoteQuestion& question) override {
    noteQuestions << question.title + QLatin1Char('|') + question.kind + QLatin1Char('|') +
                         question.text;
    noteKinds = question.kinds;
    if (noteAnswers.empty()) return std::nullopt;
    const std::optional<NoteAnswer> answer = noteAnswers.front();
    noteAnswers.pop_front();
    return answer;
  }
  std::optional<QString> askAuthor(QWidget*, const QString& proposed) override {
    authorQuestions << proposed;
    return authorAnswer;
  }

  // Records "location|refusal" and answers with the next of passwordAnswers.
  std::optional<QString> askPassword(QWidget*, const QString& location,
                                     const QString& refusal) override {
    passwordQuestions << location + QLatin1Char('|') + refusal;
    if (passwordAnswers.empty()) return std::nullopt;
    const std::optional<QString> answer = passwordAnswers.front();
    passwordAnswers.pop_front();
    return answer;
  }

  QStringList messages, warnings, errors, dialogs, deviceQuestions, proposedNames, questions;
  QStringList passwordQuestions;
  std::deque<std::optional<QString>> passwordAnswers;
  QStringList noteQuestions, authorQuestions, noteKinds;
  std::deque<std::optional<NoteAnswer>> noteAnswers;
  std::optional<QString> authorAnswer;
  QList<MessageIcon> icons;  // of the messages
  std::deque<std::optional<QString>> fileAnswers;
  std::deque<std::optional<SaveChoice>> saveAnswers;
  std::deque<std::optional<QString>> deviceAnswers;
  std::function<void(const QString&)> onMessage;
  std::function<void()> onPrintDialog;
  bool throwOnOpen = false;
  bool confirmAnswer = false;
  std::deque<bool> confirmAnswers;
  QString printToPdf;
  std::pair<int, int> printPages;  // the page range asked for; 0: all
  int printDialogs = 0;
  int beeps = 0;
};

class WindowTestBase : public QObject {
 protected:
  // Writes the archive into a fresh folder and opens an active window over a
  // fresh view state; the archive is not chosen yet.
  bool openWindow(const veks::ArchiveBuilder& archive) {
    dir_ = std::make_unique<veks::TempDir>();
    path_ = dir_->file("archive.dat");
    archive.writeTo(path_);
    state_ = veks::ViewState();
    openedOn_ = QDate::currentDate();
    services_ = std::make_unique<FakeServices>();
    window_ = std::make_unique<TForm_main>(state_, *services_);
    window_->show();
    window_->applyOuterGeometry();
    window_->activateWindow();
    return QTest::qWaitForWindowActive(window_.get(), kPatienceMs);
  }
  void closeWindow() {
    window_.reset();
    services_.reset();
    dir_.reset();
  }

  template <typename T>
  T* find(const char* name) const {
    T* widget = window_->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) qFatal("no control %s", name);
    return widget;
  }
  void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
  void chooseArchive() { state_.ArchiveName = path_; }

  std::unique_ptr<veks::TempDir> dir_;
  std::string path_;
  QDate openedOn_;  // the day just before the window was made
  veks::ViewState state_;
  std::unique_ptr<FakeServices> services_;
  std::unique_ptr<TForm_main> window_;
};
