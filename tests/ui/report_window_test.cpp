#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <filesystem>
#include <memory>
#include <sstream>

#include "cli/report_cli.h"
#include "tests/ui/fake_services.h"
#include "tools/archive_builder.h"
#include "ui/Doc_main.h"
#include "ui/doc_application.h"

using veks::ArchiveBuilder;

namespace {

QString RunTool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(30000) || process.exitCode() != 0) return QStringLiteral("<failed>");
  return QString::fromUtf8(process.readAllStandardOutput());
}

}  // namespace

class ReportWindowTest : public QObject {
  Q_OBJECT

 private:
  template <typename T>
  T* find(const char* name) const {
    T* widget = window_->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) qFatal("no control %s", name);
    return widget;
  }
  void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
  QPlainTextEdit* box() const { return find<QPlainTextEdit>("RichEdit1"); }
  QString boxLine(int line) const { return box()->document()->findBlockByNumber(line).text(); }

  std::unique_ptr<veks::TempDir> dir_;
  std::string path_;
  veks::ViewState state_;
  std::unique_ptr<FakeServices> services_;
  std::unique_ptr<TForm_main> window_;

 private slots:
  void init() {
    dir_ = std::make_unique<veks::TempDir>();
    path_ = dir_->file("archive.dat");
    ArchiveBuilder().fillNumbered().setWriteOffset(800).writeTo(path_);
    state_ = veks::ViewState();
    state_.ArchiveName = path_;
    services_ = std::make_unique<FakeServices>();
    window_ = std::make_unique<TForm_main>(state_, *services_);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    find<QAction>("APrint")->trigger();
  }
  void cleanup() {
    window_.reset();
    services_.reset();
    dir_.reset();
  }

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
    // Afterwards the table shows the newest block, as "Последняя запись" does.
    auto* grid = find<QTableView>("StringGrid1");
    QCOMPARE(grid->model()->index(0, 2).data().toString(),
             QString::fromStdString(veks::NumberedTimeText(99)));
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
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  ReportWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "report_window_test.moc"
