// Notes in the journal window: written from the keyboard and the context
// menu, marked in the table, shown with their versions beside it, operator
// entries at their places, the notes' filter, and notes on paper.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sstream>

#include "cli/journal_cli.h"
#include "journal/journal.h"
#include "report/event_export.h"
#include "tests/ui/window_test_base.h"
#include "tools/device_simulator.h"
#include "ui/journal_export.h"
#include "ui/journal_history_model.h"
#include "ui/journal_window.h"
#include "ui/note_actions.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// Types `text` into `widget` a character at a time, Cyrillic included.
void Type(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

// What `veks12-journal --journal JOURNAL ARGS...` prints on stdout.
QByteArray RunJournalCommand(const std::string& journal, std::vector<std::string> args) {
  args.insert(args.begin(), {"--journal", journal});
  std::ostringstream out, err;
  if (veks::RunJournalCli(args, {}, out, err) != 0) {
    return QByteArray::fromStdString("<failed: " + err.str() + ">");
  }
  return QByteArray::fromStdString(out.str());
}

}  // namespace

class JournalNotesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<veks::TempDir> config_, dir_;
  std::string journal_;
  std::unique_ptr<FakeServices> services_;
  std::unique_ptr<JournalWindow> window_;

  template <typename T>
  T* find(const char* name) const {
    T* widget = window_->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) qFatal("no control %s", name);
    return widget;
  }
  QTableView* table() const { return find<QTableView>("EventView"); }
  JournalHistoryModel* model() const { return window_->historyModel(); }
  int notesAt(int row) const {
    return model()->index(row, 0).data(JournalHistoryModel::kNotesRole).toInt();
  }
  QStringList paneLines() const {
    QStringList lines;
    auto* list = find<QListWidget>("NoteList");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }
  void choose(int row) {
    table()->setCurrentIndex(model()->index(row, 0));
    table()->setFocus();
  }
  // Runs a notes action by its key in the table, or as the `item`th entry of
  // the table's context menu, chosen with the arrow keys.
  void run(bool viaMenu, int item, QKeyCombination keys) {
    if (!viaMenu) {
      QTest::keyClick(table(), keys.key(), keys.keyboardModifiers());
      return;
    }
    const QRect cell = table()->visualRect(table()->currentIndex());
    emit table()->customContextMenuRequested(cell.center());
    auto* menu = find<QMenu>("NotesContextMenu");
    QVERIFY(QTest::qWaitForWindowExposed(menu, kPatienceMs));
    for (int i = 0; i <= item; ++i) QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  }

 private slots:
  void initTestCase() {
    config_ = std::make_unique<veks::TempDir>();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_->path().string()));
  }

  void init() {
    dir_ = std::make_unique<veks::TempDir>();
    journal_ = dir_->file("journal.sqlite");
    veks::DeviceSimulator device(5u);
    device.run(600);
    device.archive().writeTo(dir_->file("copy.dat"));
    auto opened = veks::Journal::Open(journal_, veks::Journal::Access::kImport);
    QVERIFY(opened.ok());
    QVERIFY(opened.value()->importArchive(dir_->file("copy.dat"), std::string("Насос")).ok());
    opened.value().reset();
    ProgramSettings()->clear();
    SetJournalLocation(Text(journal_));
    services_ = std::make_unique<FakeServices>();
    services_->authorAnswer = QStringLiteral("Иванов");
    window_ = std::make_unique<JournalWindow>(*services_);
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get(), kPatienceMs));
    QVERIFY(model()->rowCount() > 20);
  }
  void cleanup() {
    window_.reset();
    services_.reset();
    dir_.reset();
  }

  // The same note added, edited and deleted by the menu's keys and by the
  // table's context menu; every version stays to be shown, and the author is
  // asked for once, before the first note.
  void noteAddedEditedDeleted_data() {
    QTest::addColumn<bool>("viaMenu");
    QTest::newRow("keys") << false;
    QTest::newRow("context menu") << true;
  }
  void noteAddedEditedDeleted() {
    QFETCH(bool, viaMenu);
    choose(3);
    services_->noteAnswers.push_back(
        NoteAnswer{QStringLiteral("Проверено"), QStringLiteral("датчик\nзаменен"), std::nullopt});
    run(viaMenu, 0, Qt::Key_Insert);
    QCOMPARE(services_->authorQuestions, QStringList{LoginName()});
    QCOMPARE(services_->noteQuestions,
             QStringList{QStringLiteral("Примечание к событию|Комментарий|")});
    QCOMPARE(notesAt(3), 1);
    QCOMPARE(notesAt(2), 0);
    QVERIFY(
        model()->index(3, JournalHistoryModel::kEventColumn).data(Qt::DecorationRole).isValid());
    QCOMPARE(paneLines().size(), 1);
    QVERIFY2(paneLines()[0].startsWith(QStringLiteral("примечание 1 (Проверено, Иванов, ")),
             qPrintable(paneLines()[0]));
    QVERIFY(paneLines()[0].endsWith(QStringLiteral("\nдатчик\nзаменен")));

    services_->noteAnswers.push_back(NoteAnswer{
        QStringLiteral("Свой вид"), QStringLiteral("ложное срабатывание"), std::nullopt});
    run(viaMenu, 1, Qt::Key_F4);
    QCOMPARE(services_->noteQuestions.last(),
             QStringLiteral("Примечание 1|Проверено|датчик\nзаменен"));
    QVERIFY(paneLines()[0].endsWith(QStringLiteral("\nложное срабатывание")));

    services_->confirmAnswer = true;
    run(viaMenu, 2, QKeyCombination(Qt::ControlModifier, Qt::Key_Delete));
    QCOMPARE(services_->questions.size(), 1);
    QCOMPARE(notesAt(3), 0);
    QCOMPARE(paneLines(), QStringList());
    find<QCheckBox>("VersionsCheck")->setChecked(true);
    const QStringList versions = paneLines();
    QCOMPARE(versions.size(), 3);
    QVERIFY(versions[1].startsWith(QStringLiteral("примечание 1, версия 2 (Свой вид, Иванов")));
    QVERIFY(versions[2].contains(QStringLiteral("— удалено\nложное срабатывание")));
    QCOMPARE(services_->authorQuestions.size(), 1);
    // A kind the operator typed is offered next time, after the usual ones.
    run(false, 0, Qt::Key_Insert);
    QCOMPARE(services_->noteKinds.size(), 6);
    QCOMPARE(services_->noteKinds.last(), QStringLiteral("Свой вид"));
    QCOMPARE(services_->messages, QStringList());
  }

  // An operator entry stands above the event it follows (the last one not
  // later than its moment), and below every event when it is older than all;
  // the notes' filter shows the noted events and the entries.
  void operatorEntryAtItsPlace() {
    const auto event = model()->eventAt(10);
    QVERIFY(event);
    const std::string stamp = veks::EventTimestamp(event->second).value();
    const QDateTime moment =
        QDateTime::fromString(Text(stamp).left(19), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    QVERIFY(moment.isValid());
    const int events = model()->rowCount();
    choose(10);
    services_->noteAnswers.push_back(
        NoteAnswer{QStringLiteral("Техобслуживание"), QStringLiteral("клапан 3"), moment});
    QTest::keyClick(table(), Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(services_->noteQuestions.size(), 1);
    QCOMPARE(model()->rowCount(), events + 1);
    int at = -1;
    for (int row = 0; row < model()->rowCount(); ++row) {
      if (model()->entryAt(row) != nullptr) at = row;
    }
    QVERIFY(at > 0);
    QCOMPARE(notesAt(at), -1);
    // The event below it is not later than the moment, the one above is.
    const auto below = model()->eventAt(at + 1), above = model()->eventAt(at - 1);
    QVERIFY(below && above);
    QVERIFY(veks::EventTimestamp(below->second).value_or("") <= stamp);
    QVERIFY(veks::EventTimestamp(above->second).value_or("") > stamp);
    QCOMPARE(model()->index(at, JournalHistoryModel::kStampColumn).data().toString(),
             moment.toString(QStringLiteral("dd.MM.yy HH:mm:ss")));
    QCOMPARE(model()->index(at, JournalHistoryModel::kEventColumn).data().toString(),
             QStringLiteral("запись оператора 1 (Техобслуживание, Иванов): клапан 3"));

    // An entry older than every event stands last.
    choose(0);
    services_->noteAnswers.push_back(NoteAnswer{QStringLiteral("Комментарий"),
                                                QStringLiteral("ввод в работу"),
                                                QDateTime(QDate(2001, 1, 1), QTime(8, 0))});
    QTest::keyClick(table(), Qt::Key_N, Qt::ControlModifier);
    QVERIFY(model()->entryAt(model()->rowCount() - 1) != nullptr);

    choose(5);
    services_->noteAnswers.push_back(
        NoteAnswer{QStringLiteral("Комментарий"), QStringLiteral("проверено"), std::nullopt});
    QTest::keyClick(table(), Qt::Key_Insert);
    QTest::mouseClick(find<QCheckBox>("NotesOnlyCheck"), Qt::LeftButton);
    QCOMPARE(model()->rowCount(), 3);
    QCOMPARE(notesAt(0), 1);
    QVERIFY(model()->entryAt(1) != nullptr && model()->entryAt(2) != nullptr);
    QCOMPARE(services_->messages, QStringList());
  }

  // The printed report carries the notes as the command's report does, a
  // report composed before the note included.
  void printedReportCarriesNotes() {
    find<QAction>("AReport")->trigger();
    choose(0);
    services_->noteAnswers.push_back(
        NoteAnswer{QStringLiteral("Проверено"), QStringLiteral("датчик заменен"), std::nullopt});
    QTest::keyClick(table(), Qt::Key_Insert);
    services_->printToPdf = Text(dir_->file("journal.pdf"));
    find<QAction>("APrintReport")->trigger();
    const QString printed = PdfText(services_->printToPdf);
    QVERIFY2(printed.contains(QStringLiteral("примечание 1 (Проверено, Иванов,")),
             qPrintable(printed.left(2000)));
    QVERIFY(printed.contains(QStringLiteral("датчик заменен")));
  }

  // The note dialog takes a typed kind and text with Ctrl+Enter; a blank
  // text is not taken, and Escape gives nothing.
  void noteDialogFromTheKeyboard_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("taken");
    QTest::newRow("typed kind") << "Осмотр"
                                << "клапан 3" << true;
    QTest::newRow("blank text") << "Проверено"
                                << "  " << false;
    QTest::newRow("no kind") << ""
                             << "клапан 3" << false;
  }
  void noteDialogFromTheKeyboard() {
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(bool, taken);
    QtUiServices real;
    WhenModal([&](QWidget* dialog) {
      auto* box = dialog->findChild<QComboBox*>(QStringLiteral("KindBox"));
      box->lineEdit()->selectAll();
      Type(box->lineEdit(), kind);
      if (kind.isEmpty()) QTest::keyClick(box->lineEdit(), Qt::Key_Delete);
      Type(dialog->findChild<QPlainTextEdit*>(QStringLiteral("NoteText")), text);
      QTest::keyClick(dialog, Qt::Key_Return, Qt::ControlModifier);
      if (dialog->isVisible()) QTest::keyClick(dialog, Qt::Key_Escape);
    });
    const std::optional<NoteAnswer> given =
        real.askNote(window_.get(), {QStringLiteral("Примечание"),
                                     {QStringLiteral("Проверено")},
                                     QStringLiteral("Проверено"),
                                     {},
                                     std::nullopt});
    QCOMPARE(given.has_value(), taken);
    if (taken) {
      QCOMPARE(given->kind, kind);
      QCOMPARE(given->text, text);
    }
  }

  // The export dialog's notes filters write what `veks12-journal notes`
  // writes for the device shown (CSV after its byte-order mark).
  void exportedNotesAreTheCommands_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("start");
    QTest::newRow("csv") << kExportNotesCsvFilter << "notes.csv" << QByteArray("\xEF\xBB\xBF");
    QTest::newRow("jsonl") << kExportNotesJsonlFilter << "notes.jsonl" << QByteArray();
  }
  void exportedNotesAreTheCommands() {
    QFETCH(QString, filter);
    QFETCH(QString, file);
    QFETCH(QByteArray, start);
    choose(4);
    services_->noteAnswers.push_back(NoteAnswer{
        QStringLiteral("Проверено"), QStringLiteral("строка 1\n\"строка\" 2"), std::nullopt});
    QTest::keyClick(table(), Qt::Key_Insert);
    services_->noteAnswers.push_back(NoteAnswer{QStringLiteral("Комментарий"),
                                                QStringLiteral("ввод в работу"),
                                                QDateTime(QDate(2001, 1, 1), QTime(8, 0))});
    QTest::keyClick(table(), Qt::Key_N, Qt::ControlModifier);
    const QString path = Text(dir_->file(file.toStdString()));
    services_->saveAnswers.push_back(SaveChoice{path, filter});
    QTest::keyClick(table(), Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(services_->messages, QStringList{QStringLiteral("Записано примечаний: 2\n") + path});
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const std::string format = filter == kExportNotesCsvFilter ? "csv" : "jsonl";
    QCOMPARE(written.readAll(), start + RunJournalCommand(journal_, {"notes", "--device", "Насос",
                                                                     "--format", format}));
  }
};

QTEST_MAIN(JournalNotesTest)
#include "journal_notes_test.moc"
