#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>

#include "cli/report_cli.h"
#include "tests/file_snapshot.h"
#include "tests/ui/window_test_base.h"
#include "tools/archive_builder.h"
#include "ui/Doc_main.h"
#include "ui/doc_application.h"
#include "ui/report_file.h"

using veks::ArchiveBuilder;

namespace {

QString RunTool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(30000) || process.exitCode() != 0) return QStringLiteral("<failed>");
  return QString::fromUtf8(process.readAllStandardOutput());
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Where each TAB-separated piece of `line` starts in `box`, walked with the
// box's own font and tab stops: a TAB goes to the first stop past the text.
QList<qreal> PieceStarts(const QPlainTextEdit* box, const QString& line) {
  const QFontMetricsF metrics(box->font());
  const QTextOption option = box->document()->defaultTextOption();
  const QList<QTextOption::Tab> tabs = option.tabs();
  QList<qreal> starts;
  qreal x = 0;
  for (const QString& piece : line.split(QLatin1Char('\t'))) {
    if (!starts.isEmpty()) {
      const auto stop = std::find_if(tabs.begin(), tabs.end(),
                                     [&](const QTextOption::Tab& tab) { return tab.position > x; });
      const qreal every = option.tabStopDistance();
      x = stop != tabs.end() ? stop->position : (std::floor(x / every) + 1) * every;
    }
    starts << x;
    x += metrics.horizontalAdvance(piece);
  }
  return starts;
}

}  // namespace

class ReportWindowTest : public WindowTestBase {
  Q_OBJECT

 private:
  QPlainTextEdit* box() const { return find<QPlainTextEdit>("RichEdit1"); }
  QString boxLine(int line) const { return box()->document()->findBlockByNumber(line).text(); }
  QString file(const QString& name) const {  // a name in the test's folder
    return QDir(QString::fromStdString(dir_->path().string())).absoluteFilePath(name);
  }
  // Ctrl+S, the dialog answered with `name` (none: cancelled).
  void save(const QString& name, const QString& filter) {
    services_->saveAnswers = {name.isEmpty() ? std::nullopt
                                             : std::optional<SaveChoice>({file(name), filter})};
    QTest::keyClick(find<QTableView>("StringGrid1"), Qt::Key_S, Qt::ControlModifier);
  }

 private slots:
  void init() {
    QVERIFY(openWindow(ArchiveBuilder().fillNumbered().setWriteOffset(800)));
    chooseArchive();
    find<QAction>("APrint")->trigger();
  }
  void cleanup() { closeWindow(); }

  void blockReportBeforeAnyLoad() {
    click("But1");
    QCOMPARE(box()->toPlainText(), QStringLiteral("Документирование\n\n\n\t\t\t\t\t\t\t"));
  }

  void blockReportOfThePlainView() {
    click("Button8");
    click("But1");
    QCOMPARE(box()->blockCount(), 4 + 17);
    QCOMPARE(boxLine(0), QString::fromStdString("Архив: файл " + path_));
    QCOMPARE(boxLine(1), QString());
    QCOMPARE(boxLine(2), QString());
    QCOMPARE(boxLine(3), QStringLiteral("Событие\t\t\t  Номер входа\t\t Время\t\tДата"));
    QCOMPARE(boxLine(20), QStringLiteral("\t\t\t\t\t\t\t\t"));
    QVERIFY(box()->isReadOnly());
  }

  void wholeReportEqualsTheCommandLineReport() {
    click("Button9");
    click("But3");
    QCOMPARE(box()->blockCount(), 1058);
    std::ostringstream out, err;
    const std::vector<std::string> args{path_};
    QCOMPARE(veks::RunReportCli(args, out, err), 0);
    QCOMPARE(box()->toPlainText() + QLatin1Char('\n'), QString::fromStdString(out.str()));
    // Afterwards the table shows the newest block, as "Последняя запись" does,
    // and the status line is the one its last load (a step back) wrote.
    auto* grid = find<QTableView>("StringGrid1");
    for (int row = 0; row < 16; ++row) {
      QCOMPARE(grid->model()->index(row, 2).data().toString(),
               QString::fromStdString(veks::NumberedTimeText(99 - row)));
    }
    QCOMPARE(find<QLabel>("Label1")->text(),
             QString::fromStdString("Архив: файл " + path_ +
                                    "  время: " + veks::RecordStampText(veks::NumberedRecord(99))));
    QVERIFY(services_->messages.isEmpty());
  }

  void wholeReportWithoutAnArchiveKeepsTheBox() {
    click("Button8");
    click("But1");
    const QString before = box()->toPlainText();
    state_.ArchiveName.clear();
    click("But3");
    QCOMPARE(services_->messages, QStringList{QStringLiteral("Не задано имя файла архива")});
    QCOMPARE(box()->toPlainText(), before);
  }

  // Stopping part-way is proven on the core; here the window shows the one
  // message and leaves the box empty instead of a report of stale rows.
  void wholeReportOfAVanishedArchiveIsOneMessageAndAnEmptyBox() {
    click("Button8");
    click("But1");
    std::filesystem::remove(path_);
    click("But3");
    QCOMPARE(services_->messages, QStringList{QStringLiteral("Архив не удается открыть")});
    QCOMPARE(box()->toPlainText(), QString());
  }

  // Every line of the demo archive's whole report has its columns where the
  // header line has them, and the dates end inside the box.
  void reportColumnsLineUpInTheBox() {
    state_.ArchiveName = VEKS_DEMO_ARCHIVE;
    click("But3");
    QCOMPARE(box()->blockCount(), 1058);
    const QList<qreal> header = PieceStarts(box(), boxLine(3));
    QCOMPARE(header.size(),
             8);  // "Событие", 3 TABs, "  Номер входа", 2 TABs, " Время", 2 TABs, "Дата"
    QTextLayout* headerLayout = box()->document()->findBlockByNumber(3).layout();
    QVERIFY(headerLayout->lineCount() > 0);
    // The walk agrees with the box's own layout, which starts a margin in and
    // rounds to its fixed-point grid.
    const qreal margin = box()->document()->documentMargin();
    const qreal laidOut =
        headerLayout->lineAt(0).cursorToX(boxLine(3).lastIndexOf(QLatin1Char('\t')) + 1);
    QVERIFY2(std::abs(laidOut - margin - header[7]) < 0.5, qPrintable(QString::number(laidOut)));
    const qreal visible = box()->viewport()->width() - margin;
    const QFontMetricsF metrics(box()->font());
    for (int line = 4; line < box()->blockCount(); ++line) {
      const QStringList pieces = boxLine(line).split(QLatin1Char('\t'));
      const QList<qreal> starts = PieceStarts(box(), boxLine(line));
      const qsizetype last = starts.size() - 1;
      // The date is the last piece, the time the one before the two last TABs;
      // a non-empty piece between the event and the time is the input text.
      QCOMPARE(starts[last], header[7]);
      QCOMPARE(starts[last - 2], header[5]);
      for (qsizetype i = 1; i < last - 2; ++i) {
        if (!pieces[i].isEmpty()) QCOMPARE(starts[i], header[3]);
      }
      QVERIFY2(starts[last] + metrics.horizontalAdvance(pieces[last]) <= visible,
               qPrintable(boxLine(line)));
    }
  }

  void printWholeReportToPdf() {
    click("Button8");
    click("But3");
    const QString pdf = QString::fromStdString(dir_->file("whole.pdf"));
    services_->printToPdf = pdf;
    click("But5");
    QCOMPARE(services_->printDialogs, 1);
    QVERIFY(!find<QPlainTextEdit>("RichEdit2")->isVisible());
    const QString text = RunTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY2(text.startsWith(QString::fromStdString("Архив: файл " + path_)),
             qPrintable(text.left(200)));
    QVERIFY(
        text.contains(QString::fromStdString(veks::NumberedTimeText(100))));  // the oldest record
    QVERIFY(
        RunTool(QStringLiteral("pdfinfo"), {pdf}).contains(QStringLiteral("Печать всего архива")));
  }

  // Printed and saved as PDF, the demo archive's whole report keeps its
  // times and dates in one column each, the dates where the header line has
  // "Дата", on every page; every word stays at least 15 mm (42.5 pt) from
  // the paper's edge.
  void printedColumnsLineUp_data() {
    QTest::addColumn<bool>("saved");
    QTest::newRow("printed") << false;
    QTest::newRow("saved as PDF") << true;
  }
  void printedColumnsLineUp() {
    QFETCH(bool, saved);
    state_.ArchiveName = VEKS_DEMO_ARCHIVE;
    click("But3");
    const QString pdf = file("columns.pdf");
    if (saved) {
      save(QStringLiteral("columns.pdf"), kReportPdfFilter);
    } else {
      services_->printToPdf = pdf;
      click("But5");
    }
    qreal margin = 0;
    static const QRegularExpression kStamp(QStringLiteral("^\\d+([:.])\\d+[:.]\\d+$"));
    QSet<int> times, dates;  // where they start, in tenths of a point
    qsizetype rows = 0;
    for (const PdfWord& word : ReadPdfWords(pdf, &margin)) {
      const int x = qRound(word.box.left() * 10);
      const auto stamp = kStamp.match(word.text);
      rows += stamp.hasMatch();
      if (stamp.hasMatch() && stamp.captured(1) == QLatin1String(":")) {
        times << x;
      } else if (stamp.hasMatch() || word.text == QStringLiteral("Дата")) {
        dates << x;
      }
    }
    QVERIFY2(rows > 1800, qPrintable(QString::number(rows)));  // a time and a date a row
    QCOMPARE(times.size(), 1);
    QCOMPARE(dates.size(), 1);
    QVERIFY2(margin >= 42.5, qPrintable(QString::number(margin)));
  }

  // Printing to a file is refused for the archive, as saving is.
  void printToTheArchiveIsRefused() {
    click("Button8");
    click("But3");
    const veks::FileSnapshot archive(path_);
    services_->printToPdf = QString::fromStdString(path_);
    click("But5");
    QCOMPARE(services_->messages,
             QStringList{QString::fromStdString("Отчет нельзя сохранить в файл архива: " + path_)});
    QVERIFY(veks::FileSnapshot(path_) == archive);
  }

  void printSelectionToPdf() {
    click("Button8");
    click("But1");
    // Select from the middle of row line 4 to the end of row line 5.
    QTextCursor cursor(box()->document()->findBlockByNumber(4));
    cursor.movePosition(QTextCursor::NextWord, QTextCursor::MoveAnchor, 1);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    box()->setTextCursor(cursor);
    const QString selected = cursor.selectedText();
    const QString pdf = QString::fromStdString(dir_->file("part.pdf"));
    services_->printToPdf = pdf;
    bool pageShown = false;
    services_->onPrintDialog = [&] {
      auto* page = find<QPlainTextEdit>("RichEdit2");
      pageShown = page->isVisible();
      QCOMPARE(page->document()->findBlockByNumber(0).text(),
               QStringLiteral("Печать выделенной части архива"));
      QCOMPARE(page->document()->findBlockByNumber(1).text(), boxLine(3));
      QCOMPARE(page->document()->findBlockByNumber(2).text(), selected);
      QCOMPARE(page->blockCount(), 3);
    };
    click("But5");
    QVERIFY(pageShown);
    QVERIFY(!find<QPlainTextEdit>("RichEdit2")->isVisible());
    const QString text = RunTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY2(text.startsWith(QStringLiteral("Печать выделенной части архива")),
             qPrintable(text.left(200)));
    QVERIFY(text.contains(QStringLiteral("Событие")));
    QVERIFY(!text.contains(QStringLiteral("Архив: файл")));
    QVERIFY(RunTool(QStringLiteral("pdfinfo"), {pdf})
                .contains(QStringLiteral("Печать  выделенной части архива")));
  }

  // "Сохранить отчет…", the third item of "Файл", saves in the format of the
  // name's suffix, else of the chosen filter: text byte for byte as
  // veks12-report prints the report, PDF with the pages and text of the
  // whole-report print (pdftotext ends each page with a form feed). It
  // offers a name made of the archive's and says where it saved.
  void saveReport_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("text");
    QTest::newRow("text") << "saved" << kReportTextFilter << true;
    QTest::newRow("PDF") << "saved" << kReportPdfFilter << false;
    QTest::newRow("a typed .txt wins") << "x.txt" << kReportPdfFilter << true;
    QTest::newRow("a typed .PDF wins") << "x.PDF" << kReportTextFilter << false;
  }
  void saveReport() {
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QFETCH(bool, text);
    QAction* item = find<QMenu>("N1File")->actions().value(2);
    QCOMPARE(item->text(), QStringLiteral("Сохранить отчет\u2026"));
    QCOMPARE(item->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    click("Button8");
    click("But3");
    save(name, filter);
    QVERIFY(services_->messages.isEmpty());
    QCOMPARE(services_->proposedNames, QStringList{QStringLiteral("отчет-archive.pdf")});
    QCOMPARE(window_->statusBar()->currentMessage(),
             QStringLiteral("Отчет сохранен: ") + file(name));
    QVERIFY(window_->statusBar()->geometry().top() >=
            box()->mapTo(window_.get(), QPoint(0, box()->height())).y());
    if (text) {
      std::ostringstream out, err;
      const std::vector<std::string> args{path_};
      QCOMPARE(veks::RunReportCli(args, out, err), 0);
      QCOMPARE(FileBytes(file(name)), QByteArray::fromStdString(out.str()));
      return;
    }
    services_->printToPdf = file("printed");
    click("But5");
    const auto layout = [](const QString& pdf) {
      return RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, "-"});
    };
    QVERIFY(layout(file(name)).startsWith(QString::fromStdString("Архив: файл " + path_)));
    QCOMPARE(layout(file(name)), layout(file("printed")));
  }

  // Saves that write nothing: an empty box; cancelled; refused, the name
  // reaching the archive or the journal (or the files SQLite keeps beside
  // it, there or not yet) by any path or link; failed, with the system's
  // reason (/sys takes no new file even from root).
  void saveWritesNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    const QString archive = QStringLiteral("Отчет нельзя сохранить в файл архива: %1");
    const QString journal = QStringLiteral("Отчет нельзя сохранить в файл журнала: %1");
    const QString failed = QStringLiteral("Отчет не удается сохранить в файл %1: ");
    QTest::newRow("empty box") << "" << QStringLiteral("Отчет пуст");
    QTest::newRow("cancelled") << ""
                               << "";
    QTest::newRow("the archive") << "archive.dat" << archive;
    QTest::newRow("relative parts") << "sub/../archive.dat" << archive;
    QTest::newRow("symbolic link") << "link" << archive;
    QTest::newRow("hard link") << "hard" << archive;
    QTest::newRow("the journal") << "veks12/journal.sqlite" << journal;
    QTest::newRow("its write-ahead log") << "veks12/journal.sqlite-wal" << journal;
    QTest::newRow("its shared memory, not there yet") << "veks12/journal.sqlite-shm" << journal;
    QTest::newRow("a link to the log, not there yet") << "wal-link" << journal;
    QTest::newRow("a hard link to the journal") << "journal-hard" << journal;
    QTest::newRow("folder without writing") << "/sys/r.pdf" << failed;
    QTest::newRow("missing folder") << "missing/r.pdf" << failed;
    QTest::newRow("folder is a file") << "archive.dat/r.pdf" << failed;
  }
  void saveWritesNothing() {
    QFETCH(QString, name);
    QFETCH(QString, message);
    QVERIFY(QDir().mkpath(file("sub")));
    QVERIFY(QFile::link(QString::fromStdString(path_), file("link")));
    std::filesystem::create_hard_link(path_, dir_->file("hard"));
    // The journal in its default place, with its write-ahead log.
    qputenv("XDG_DATA_HOME", QFile::encodeName(file("")));
    const QString journal = file("veks12/journal.sqlite");
    QVERIFY(QDir().mkpath(file("veks12")));
    for (const QString& part : {journal, journal + "-wal"})
      veks::WriteBytes(part.toStdString(), {1, 2});
    QVERIFY(QFile::link(journal + "-shm", file("wal-link")));
    std::filesystem::create_hard_link(journal.toStdString(), dir_->file("journal-hard"));
    const bool empty = QTest::currentDataTag() == QLatin1String("empty box");
    click("Button8");
    if (!empty) click("But3");
    const veks::FileSnapshot archive(path_), journalBytes(journal.toStdString()),
        log((journal + "-wal").toStdString());
    const auto entries = [&] {
      return QDir(file("")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries) +
             QDir(file("veks12")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    };
    const QStringList files = entries();
    save(name, kReportPdfFilter);
    QCOMPARE(services_->messages.size(), message.isEmpty() ? 0 : 1);
    const QString shown = services_->messages.value(0);
    QVERIFY2(message.isEmpty() || shown.startsWith(QString(message).replace(
                                      QLatin1String("%1"), name.isEmpty() ? "" : file(name))),
             qPrintable(shown));
    QVERIFY(!shown.endsWith(QLatin1String(": ")));  // a reason follows
    if (!message.isEmpty()) QVERIFY(services_->icons.value(0) != MessageIcon::kNone);
    QCOMPARE(services_->dialogs.size(), empty ? 0 : 1);
    QVERIFY(veks::FileSnapshot(path_) == archive);
    QVERIFY(veks::FileSnapshot(journal.toStdString()) == journalBytes);
    QVERIFY(veks::FileSnapshot((journal + "-wal").toStdString()) == log);
    QCOMPARE(entries(), files);
    QVERIFY(window_->statusBar()->currentMessage().isEmpty());
  }

  void cancelledSelectionPrintKeepsTheSelection() {
    click("Button8");
    click("But1");
    QTextCursor cursor(box()->document()->findBlockByNumber(5));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    box()->setTextCursor(cursor);
    services_->printToPdf.clear();
    click("But5");
    QCOMPARE(services_->printDialogs, 1);
    QVERIFY(!find<QPlainTextEdit>("RichEdit2")->isVisible());
    QCOMPARE(box()->textCursor().selectedText(), cursor.selectedText());
  }
};

int main(int argc, char** argv) {
  // The settings of the person running the tests stay untouched.
  const veks::TempDir home;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.file("config")));
  QStandardPaths::setTestModeEnabled(true);
  // Test mode alone would put every test run's settings in one shared
  // ~/.qttest folder, where runs at the same time overwrite each other's.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(home.file("config")));
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  ReportWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "report_window_test.moc"
