#include "ui/journal_window.h"

#include <sqlite3.h>

#include <QAction>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "bench/journal_fixture.h"
#include "cli/journal_cli.h"
#include "journal/journal.h"
#include "report/event_export.h"
#include "tests/file_snapshot.h"
#include "tests/ui/window_test_base.h"
#include "tools/device_simulator.h"
#include "ui/background_work.h"
#include "ui/doc_application.h"
#include "ui/journal_actions.h"
#include "ui/journal_history_model.h"
#include "ui/report_file.h"
#include "ui/spooled_report.h"

using veks::ArchiveBuilder;

namespace {

const QString kBoilerFolder = QStringLiteral(VEKS_JOURNAL_SAMPLES);

QString Text(const std::string& text) { return QString::fromStdString(text); }

// What `veks12-journal --journal JOURNAL ARGS...` prints on stdout.
QByteArray RunJournalCommand(const std::string& journal, std::vector<std::string> args) {
  args.insert(args.begin(), {"--journal", journal});
  std::ostringstream out, err;
  if (veks::RunJournalCli(args, {}, out, err) != 0)
    return QByteArray::fromStdString("<failed: " + err.str() + ">");
  return QByteArray::fromStdString(out.str());
}

void Import(const std::string& journal, const std::vector<std::string>& archives,
            const std::string& device) {
  auto opened = veks::Journal::Open(journal, veks::Journal::Access::kImport);
  QVERIFY(opened.ok());
  for (const std::string& archive : archives) {
    QVERIFY(opened.value()->importArchive(archive, device).ok());
  }
}

QStringList ModelRow(const JournalHistoryModel* model, int row) {
  QStringList texts;
  for (int column = 0; column < JournalHistoryModel::kColumnCount; ++column) {
    texts << model->index(row, column).data().toString();
  }
  return texts;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

}  // namespace

class JournalWindowTest : public WindowTestBase {
  Q_OBJECT

 private:
  // A device's history of more than 30,000 events in three segments, made
  // once for the suite; and the boiler demo copies in a journal of their own.
  std::unique_ptr<veks::TempDir> shared_;
  std::string large_, boiler_;
  // Copies of one device: B overlaps A and C, C does not overlap A, D comes
  // more than a ring after C. The events each holds: [first, last).
  std::vector<std::string> copies_;
  std::vector<std::pair<std::size_t, std::size_t>> windows_;
  std::unique_ptr<veks::TempDir> data_;

  std::string journalPath() const { return (data_->path() / "veks12" / "journal.sqlite").string(); }
  JournalActions* actions() const { return window_->findChild<JournalActions*>(); }
  JournalWindow* openJournal() {
    actions()->openAction()->trigger();
    JournalWindow* journal = actions()->journalWindow();
    if (journal != nullptr) {
      // A window that stands on the main window counts as active while the
      // main window is; wait for its own activation, which its keys need.
      journal->activateWindow();
      if (!QTest::qWaitFor([&] { return QApplication::activeWindow() == journal; }, kPatienceMs))
        return nullptr;
    }
    return journal;
  }
  template <typename T>
  T* in(JournalWindow* journal, const char* name) const {
    T* widget = journal->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) qFatal("no control %s", name);
    return widget;
  }
  void useJournal(const std::string& path) { SetJournalLocation(Text(path)); }

 private slots:
  void initTestCase() {
    shared_ = std::make_unique<veks::TempDir>();
    large_ = shared_->file("large.sqlite");
    veks::DeviceSimulator device(7u);
    auto journal = std::move(veks::Journal::Open(large_, veks::Journal::Access::kImport).value());
    for (int copy = 0; device.events().size() < 36'000; ++copy) {
      // Two pauses longer than the ring: three segments.
      device.run(copy == 12 || copy == 25 ? 2600 : 900);
      device.archive().writeTo(shared_->file("copy.dat"));
      QVERIFY(journal->importArchive(shared_->file("copy.dat"), std::string("d")).ok());
    }
    boiler_ = shared_->file("boiler.sqlite");
    std::vector<std::string> boilers;
    for (int i = 1; i <= 3; ++i) {
      boilers.push_back((kBoilerFolder + QStringLiteral("/boiler-%1.dat").arg(i)).toStdString());
    }
    Import(boiler_, boilers, "Котельная");

    veks::DeviceSimulator copies(11u);
    for (const int written : {600, 700, 700, 2500}) {
      copies.run(written);
      copies_.push_back(
          shared_->file("copy-" + std::string(1, char('a' + copies_.size())) + ".dat"));
      copies.archive().writeTo(copies_.back());
      windows_.push_back(copies.copyWindow());
    }
  }

  void init() {
    data_ = std::make_unique<veks::TempDir>();
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data_->path().string()));
    ProgramSettings()->clear();
    QVERIFY(openWindow(ArchiveBuilder().fillNumbered().setWriteOffset(800)));
  }
  void cleanup() {
    closeWindow();
    data_.reset();
  }

  void menuBesideFileWithItsShortcuts() {
    const QList<QAction*> titles = find<QMenuBar>("MainMenu1")->actions();
    QCOMPARE(titles.size(), 2);
    QCOMPARE(titles[1]->text(), QStringLiteral("&Журнал"));
    QCOMPARE(titles[1]->menu()->actions(),
             QList<QAction*>(
                 {actions()->addAction(), actions()->openAction(), actions()->chooseAction()}));
    // Ctrl+Shift+J opens one journal window, and raises it when open.
    QTest::keyClick(window_.get(), Qt::Key_J, Qt::ControlModifier | Qt::ShiftModifier);
    QPointer<JournalWindow> journal = actions()->journalWindow();
    QVERIFY(journal && journal->isVisible());
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get(), kPatienceMs));
    QTest::keyClick(window_.get(), Qt::Key_J, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(window_->findChildren<JournalWindow*>(), QList<JournalWindow*>{journal.data()});
    // Ctrl+J in the main window adds an archive: with none chosen, it asks for one.
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get(), kPatienceMs));
    QTest::keyClick(window_.get(), Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(services_->messages, QStringList{QStringLiteral("Файл архива не выбран")});
    QVERIFY(services_->deviceQuestions.isEmpty());
    QVERIFY(!std::filesystem::exists(journalPath()));
  }

  // Each flow of "Добавить архив в журнал": `before` copies already in the
  // journal for "Котельная", the copy added (chosen beforehand or through the
  // file choice), the device names given (an empty answer cancels), and what
  // the operator is asked and told.
  void addArchive_data() {
    QTest::addColumn<QList<int>>("before");
    // -1: an empty archive, -2: a damaged one, -3: one whose events have no date
    QTest::addColumn<int>("copy");
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("questions");
    QTest::addColumn<QStringList>("messages");
    const auto added = [&](std::size_t copy, std::size_t newEvents, const char* more = "") {
      return QStringList{QStringLiteral("copy-%1.dat: Котельная: новых событий: %2%3")
                             .arg(QChar(static_cast<char16_t>(u'a' + copy)))
                             .arg(newEvents)
                             .arg(QString::fromUtf8(more))};
    };
    const auto& w = windows_;
    QTest::newRow("a first copy, chosen through the file choice")
        << QList<int>{} << 0 << false << QStringList{"Котельная"}
        << QStringList{"copy-a.dat|copy-a|"} << added(0, w[0].second - w[0].first);
    QTest::newRow("a copy that continues the history")
        << QList<int>{0} << 1 << true << QStringList{"Котельная"}
        << QStringList{"copy-b.dat|Котельная+|Котельная"} << added(1, w[1].second - w[0].second);
    QTest::newRow("a copy after a long pause begins a segment")
        << QList<int>{2} << 3 << true << QStringList{"Котельная"}
        << QStringList{"copy-d.dat|copy-d|Котельная"}
        << added(3, w[3].second - w[3].first, "; новый участок, возможен пропуск событий");
    QTest::newRow("a copy between two segments joins them")
        << QList<int>{0, 2} << 1 << true << QStringList{"Котельная"}
        << QStringList{"copy-b.dat|Котельная+|Котельная"}
        << added(1, w[2].first - w[0].second, "; участки объединены");
    QTest::newRow("the same copy again") << QList<int>{0} << 0 << true << QStringList{"Котельная"}
                                         << QStringList{"copy-a.dat|Котельная+|Котельная"}
                                         << QStringList{"copy-a.dat: Котельная: уже в журнале"};
    QTest::newRow("blanks around a new name are dropped; a bad name is asked again")
        << QList<int>{} << 0 << true << QStringList{"Нас\tос", " Котельная "}
        << QStringList{"copy-a.dat|copy-a|", "copy-a.dat|Нас\tос|"}
        << QStringList{"Неверное имя устройства: имя не может быть пустым или содержать "
                       "управляющие символы"} +
               added(0, w[0].second - w[0].first);
    QTest::newRow("cancelled") << QList<int>{} << 0 << true << QStringList{""}
                               << QStringList{"copy-a.dat|copy-a|"} << QStringList{};
    QTest::newRow("an empty archive") << QList<int>{} << -1 << true << QStringList{}
                                      << QStringList{} << QStringList{"archive.dat: архив пуст"};
    QTest::newRow("a damaged archive")
        << QList<int>{} << -2 << false << QStringList{} << QStringList{}
        << QStringList{"archive.dat: Архив поврежден: неверный указатель записи"};
    QTest::newRow("events without a date: no due moment")
        << QList<int>{} << -3 << true << QStringList{"Котельная"}
        << QStringList{"archive.dat|archive|"}
        << QStringList{"archive.dat: Котельная: новых событий: 3"};
  }
  void addArchive() {
    QFETCH(QList<int>, before);
    QFETCH(int, copy);
    QFETCH(bool, chosen);
    QFETCH(QStringList, names);
    QFETCH(QStringList, questions);
    QFETCH(QStringList, messages);
    std::vector<std::string> earlier;
    for (const int i : before) earlier.push_back(copies_[static_cast<std::size_t>(i)]);
    if (!earlier.empty()) Import(journalPath(), earlier, "Котельная");
    std::string archive = copy >= 0 ? copies_[static_cast<std::size_t>(copy)] : path_;
    if (copy == -3) {
      ArchiveBuilder undated;
      for (int i = 0; i < 3; ++i) undated.setRecord(i, veks::MakeRecord(1, 1, 24, 0, 0, 1, 1, 13));
      undated.setWriteOffset(3 * veks::kRecordSize).writeTo(path_);
    } else if (copy < 0) {
      ArchiveBuilder().fillNumbered().setWriteOffset(copy == -1 ? 255 : 12).writeTo(path_);
    }
    if (chosen) {
      state_.ArchiveName = archive;
    } else {
      services_->fileAnswers.push_back(Text(archive));
    }
    for (const QString& name : names) {
      services_->deviceAnswers.push_back(name.isEmpty() ? std::nullopt : std::optional(name));
    }
    actions()->addAction()->trigger();
    QCOMPARE(services_->dialogs.size(), chosen ? 0 : 1);
    QCOMPARE(services_->deviceQuestions, questions);
    QCOMPARE(services_->messages, messages);
    // A journal is made only for an archive that was added.
    const bool added = !messages.isEmpty() && messages.back().contains(QStringLiteral("событий"));
    QCOMPARE(std::filesystem::exists(journalPath()), added || !earlier.empty());
    // The main window's status bar keeps what came of it, with the device's
    // next due moment (long past for copies of 2013).
    QString status;
    if (added || (!messages.isEmpty() && messages.back().endsWith(QStringLiteral("в журнале")))) {
      auto journal =
          std::move(veks::Journal::Open(journalPath(), veks::Journal::Access::kRead).value());
      const veks::DueEstimate due = journal->due(std::string("Котельная")).value().front();
      status =
          messages.back().section(QStringLiteral(": "), 1) + QStringLiteral("; ") +
          (due.last ? QStringLiteral("следующая копия нужна до %1 (срок прошел)")
                          .arg(QDateTime::fromString(Text(due.due), Qt::ISODate)
                                   .toString(QStringLiteral("dd.MM.yyyy hh:mm")))
                    : QStringLiteral("срок следующей копии не рассчитать: нет событий с датой"));
    }
    QCOMPARE(window_->statusBar()->currentMessage(), status);
  }

  // The operator's archive stays as it was; a file that is no journal is
  // refused, left alone, and no device is asked for.
  void addArchiveRefusesAForeignJournal() {
    std::filesystem::create_directories(std::filesystem::path(journalPath()).parent_path());
    ArchiveBuilder().fillNumbered().writeTo(journalPath());
    const veks::FileSnapshot journal(journalPath()), archive(copies_[0]);
    state_.ArchiveName = copies_[0];
    actions()->addAction()->trigger();
    QCOMPARE(
        services_->messages,
        QStringList{Text(journalPath()) + QStringLiteral(": Файл не является журналом событий")});
    QVERIFY(services_->deviceQuestions.isEmpty());
    QVERIFY(veks::FileSnapshot(journalPath()) == journal);
    QVERIFY(veks::FileSnapshot(copies_[0]) == archive);
  }

  // Asking for the device writes nothing: a journal of an older version is
  // left byte for byte as it was when the operator cancels, and brought up
  // to date only by the import. A copy that two devices' histories hold is
  // refused before any question.
  void deviceQuestionWritesNothing() {
    Import(journalPath(), {copies_[0]}, "demo");
    Import(journalPath(), {copies_[2]}, "Котельная");
    sqlite3* db = nullptr;
    sqlite3_open(journalPath().c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const veks::FileSnapshot before(journalPath());
    state_.ArchiveName = copies_[3];
    actions()->addAction()->trigger();
    QCOMPARE(services_->deviceQuestions, QStringList{"copy-d.dat|copy-d|Котельная,demo"});
    QVERIFY(veks::FileSnapshot(journalPath()) == before);
    // A reader may leave an empty log beside the file, never a written one.
    QVERIFY(!std::filesystem::exists(journalPath() + "-wal") ||
            std::filesystem::file_size(journalPath() + "-wal") == 0);

    state_.ArchiveName = copies_[1];
    actions()->addAction()->trigger();
    QCOMPARE(services_->deviceQuestions.size(), 1);
    QCOMPARE(services_->messages,
             QStringList{"copy-b.dat: копия продолжает историю нескольких устройств (demo, "
                         "Котельная) и не добавлена: сначала объедините эти устройства"});
    QVERIFY(veks::FileSnapshot(journalPath()) == before);
  }

  // Without a journal the window says so; the first archive added makes the
  // journal, and the open window shows it at once.
  void missingJournalThenFirstArchive() {
    JournalWindow* journal = openJournal();
    QVERIFY(journal != nullptr);
    QCOMPARE(in<QStackedWidget>(journal, "TablePages")->currentWidget()->objectName(),
             QStringLiteral("EmptyLabel"));
    QVERIFY(in<QLabel>(journal, "EmptyLabel")
                ->text()
                .startsWith(QStringLiteral("Журнал еще не создан")));
    QVERIFY(!in<QComboBox>(journal, "DeviceBox")->isEnabled());
    QVERIFY(!in<QPushButton>(journal, "ExportButton")->isEnabled());
    QVERIFY(services_->messages.isEmpty());
    state_.ArchiveName = copies_[0];
    services_->deviceAnswers.push_back(QStringLiteral("Котельная"));
    QTest::keyClick(journal, Qt::Key_J, Qt::ControlModifier);  // the same action, from here
    QCOMPARE(services_->messages.size(), 1);
    QCOMPARE(in<QComboBox>(journal, "DeviceBox")->currentText(), QStringLiteral("Котельная"));
    const auto events = static_cast<int>(windows_[0].second - windows_[0].first);
    QCOMPARE(journal->historyModel()->rowCount(), events);
    QCOMPARE(in<QLabel>(journal, "StatusLine")->text(),
             QStringLiteral("Событий: %1, участков: 1").arg(events));
  }

  // The table shows the journal's own rows, gaps included, and reads only the
  // pages it is asked for.
  void tablePagesThroughALargeHistory() {
    useJournal(large_);
    JournalWindow* journal = openJournal();
    const JournalHistoryModel* model = journal->historyModel();
    // The rows read page after page from the first, for rows read at random.
    auto reference = std::move(veks::Journal::Open(large_, veks::Journal::Access::kRead).value());
    JournalHistoryModel sequential;
    veks::EventFilter device;
    device.device = "d";
    sequential.setView(std::move(reference->view(device).value()));
    QList<QStringList> expected;
    for (int row = 0; row < sequential.rowCount(); ++row) expected << ModelRow(&sequential, row);
    QVERIFY(expected.size() > 30'000);
    QCOMPARE(model->rowCount(), expected.size());
    QCOMPARE(in<QLabel>(journal, "StatusLine")->text(),
             QStringLiteral("Событий: %1, участков: 3").arg(expected.size() - 2));
    // Showing the window read the first page only.
    in<QTableView>(journal, "EventView")->repaint();
    QCOMPARE(model->pagesRead(), std::int64_t{1});
    QList<int> gaps;
    for (int row = 0; row < expected.size(); ++row) {
      if (expected[row] == QStringList{QString::fromUtf8(veks::kGapLine), {}, {}, {}}) gaps << row;
    }
    QCOMPARE(gaps.size(), 2);
    const std::vector<int> gapRows = model->gapRows();
    QCOMPARE(QList<int>(gapRows.begin(), gapRows.end()), gaps);
    auto* table = in<QTableView>(journal, "EventView");
    for (const int gap : gaps) QCOMPARE(table->columnSpan(gap, 0), 4);
    const int last = model->rowCount() - 1;
    for (const int row : {0, 1, 255, 256, gaps[0] - 1, gaps[0], gaps[0] + 1, last / 2, last}) {
      QCOMPARE(ModelRow(model, row), expected[row]);
    }
    // A page already read is not read again; the ninth page read drops the oldest.
    const std::int64_t read = model->pagesRead();
    (void)ModelRow(model, last / 2 + 1);
    QCOMPARE(model->pagesRead(), read);
    for (int page = 0; page < 8; ++page) (void)ModelRow(model, 256 * (2 + 3 * page) + 5);
    const std::int64_t afterEight = model->pagesRead();
    (void)ModelRow(model, 0);
    QCOMPARE(model->pagesRead(), afterEight + 1);
    // Ctrl+End shows the oldest event, reading the one or two pages in sight.
    in<QSpinBox>(journal, "InputBox")->setFocus();  // a field of its own Ctrl+End
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
    table->repaint();
    QCOMPARE(table->currentIndex().row(), last);
    QVERIFY(model->pagesRead() - afterEight == 2 || model->pagesRead() - afterEight == 3);
    QTest::keyClick(journal, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(table->currentIndex().row(), 0);
  }

  // The boiler copies under every filter and a combination: the table's size,
  // its first and last rows, the gap row and the status line, as written out
  // from the copies' known events.
  void filtersNarrowTheTable_data() {
    QTest::addColumn<int>("input");
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("gap");  // the gap row, or -1
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("last");
    QTest::addColumn<QString>("status");
    const QStringList newest = {"06.04.13 03:21:19", "клапан ОТКРЫТ", "МУК 3 вх 1", "2"};
    QTest::newRow("none") << 0 << QDate() << QDate() << QString() << 2505 << 956 << newest
                          << QStringList{"11.01.13 11:22:05", "Программир.", "", "1"}
                          << QStringLiteral("Событий: 2504, участков: 2");
    QTest::newRow("input") << 7 << QDate() << QDate() << QString() << 61 << 23
                           << QStringList{"05.04.13 14:59:22", "нет сиг.клап.откр", "МУК 2 вх 1",
                                          "2"}
                           << QStringList{"11.01.13 12:05:14", "нет сиг.клап.откр", "МУК 2 вх 1",
                                          "1"}
                           << QStringLiteral("Событий по отбору: 60, участков: 2");
    QTest::newRow("from") << 0 << QDate(2013, 3, 1) << QDate() << QString() << 949 << -1 << newest
                          << QStringList{"16.03.13 22:44:13", "Питание выкл", "", "2"}
                          << QStringLiteral("Событий по отбору: 949, участков: 1");
    QTest::newRow("one day") << 0 << QDate(2013, 3, 16) << QDate(2013, 3, 16) << QString() << 3
                             << -1
                             << QStringList{"16.03.13 23:42:02", "Нажатие кн. МУК", "МУК 3 закрыть",
                                            "2"}
                             << QStringList{"16.03.13 22:44:13", "Питание выкл", "", "2"}
                             << QStringLiteral("Событий по отбору: 3, участков: 1");
    QTest::newRow("input and dates")
        << 3 << QDate(2013, 2, 1) << QDate(2013, 3, 31) << QString() << 39 << 22
        << QStringList{"31.03.13 03:13:48", "авт.дист.упр.", "МУК 1 вх 3", "2"}
        << QStringList{"02.02.13 14:17:17", "авт.дист.упр.", "МУК 1 вх 3", "1"}
        << QStringLiteral("Событий по отбору: 38, участков: 2");
    QTest::newRow("kind") << 0 << QDate() << QDate() << QStringLiteral("Питание выкл") << 41 << 24
                          << QStringList{"05.04.13 23:38:16", "Питание выкл", "", "2"}
                          << QStringList{"11.01.13 11:42:17", "Питание выкл", "", "1"}
                          << QStringLiteral("Событий по отбору: 40, участков: 2");
    QTest::newRow("nothing") << 200 << QDate() << QDate() << QString() << 0 << -1 << QStringList()
                             << QStringList() << QStringLiteral("Нет событий по отбору");
  }
  void filtersNarrowTheTable() {
    QFETCH(int, input);
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QString, kind);
    QFETCH(int, rows);
    QFETCH(int, gap);
    QFETCH(QStringList, first);
    QFETCH(QStringList, last);
    QFETCH(QString, status);
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    if (from.isValid()) {
      in<QDateEdit>(journal, "FromDate")->setDate(from);
      in<QCheckBox>(journal, "FromCheck")->setChecked(true);
    }
    if (to.isValid()) {
      in<QCheckBox>(journal, "ToCheck")->setChecked(true);
      in<QDateEdit>(journal, "ToDate")->setDate(to);
    }
    in<QSpinBox>(journal, "InputBox")->setValue(input);
    if (!kind.isEmpty()) in<QComboBox>(journal, "EventBox")->setCurrentText(kind);
    const JournalHistoryModel* model = journal->historyModel();
    QCOMPARE(model->rowCount(), rows);
    if (rows > 0) {
      QCOMPARE(ModelRow(model, 0), first);
      QCOMPARE(ModelRow(model, rows - 1), last);
    }
    const std::vector<int> gaps = model->gapRows();
    QCOMPARE(QList<int>(gaps.begin(), gaps.end()), gap < 0 ? QList<int>() : QList<int>{gap});
    if (gap >= 0) {
      QCOMPARE(ModelRow(model, gap), (QStringList{QString::fromUtf8(veks::kGapLine), {}, {}, {}}));
    }
    QCOMPARE(in<QLabel>(journal, "StatusLine")->text(), status);
    QVERIFY(services_->messages.isEmpty());
  }

  // The report box holds what `veks12-journal report` prints for the filters.
  void reportIsTheCommandsReport_data() {
    QTest::addColumn<int>("input");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::newRow("whole history, with its gap") << 0 << QString() << QString();
    QTest::newRow("input and dates")
        << 9 << QStringLiteral("01.03.13") << QStringLiteral("31.03.13");
    QTest::newRow("to only") << 0 << QString() << QStringLiteral("20.02.13");
  }
  void reportIsTheCommandsReport() {
    QFETCH(int, input);
    QFETCH(QString, from);
    QFETCH(QString, to);
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    std::vector<std::string> args = {"report", "--device", "Котельная"};
    const auto setDate = [&](const QString& date, const char* check, const char* edit) {
      if (date.isEmpty()) return;
      in<QCheckBox>(journal, check)->setChecked(true);
      in<QDateEdit>(journal, edit)
          ->setDate(QDate::fromString(date, QStringLiteral("dd.MM.yy")).addYears(100));
      args.insert(args.end(), {std::string(check == std::string("FromCheck") ? "--from" : "--to"),
                               date.toStdString()});
    };
    setDate(from, "FromCheck", "FromDate");
    setDate(to, "ToCheck", "ToDate");
    in<QSpinBox>(journal, "InputBox")->setValue(input);
    if (input > 0) args.insert(args.end(), {"--input", std::to_string(input)});
    QTest::keyClick(journal, Qt::Key_R, Qt::ControlModifier);
    const QString report = in<QPlainTextEdit>(journal, "ReportBox")->toPlainText();
    QCOMPARE(report + QLatin1Char('\n'), QString::fromUtf8(RunJournalCommand(boiler_, args)));
    QVERIFY(services_->messages.isEmpty());
    // A kind of event narrows the report too, and its title says which.
    const QString kind = QStringLiteral("авт.дист.упр.");
    in<QComboBox>(journal, "EventBox")->setCurrentText(kind);
    in<QPushButton>(journal, "ReportButton")->click();
    const QStringList lines = in<QPlainTextEdit>(journal, "ReportBox")->toPlainText().split('\n');
    QVERIFY(lines[0].endsWith(QStringLiteral("  событие «%1»").arg(kind)));
    QVERIFY(lines.size() > 4);
    for (int i = 4; i < lines.size(); ++i) {
      QVERIFY(lines[i].startsWith(kind + u'\t') || lines[i] == QString::fromUtf8(veks::kGapLine));
    }
  }

  // Printing with an empty box composes the report first. Every page holds
  // the header line of the columns at its top and its number "стр. N из M" at
  // its foot; the times and dates stand in one column each, inside the
  // margins.
  void printReportToPdf() {
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    services_->printToPdf = Text(dir_->file("journal.pdf"));
    in<QPushButton>(journal, "PrintButton")->click();
    QCOMPARE(services_->printDialogs, 1);
    const QString report = in<QPlainTextEdit>(journal, "ReportBox")->toPlainText();
    QVERIFY(report.startsWith(QStringLiteral("Журнал: устройство Котельная")));
    const QStringList pages = PdfText(services_->printToPdf, {QStringLiteral("-layout")})
                                  .split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    QVERIFY2(pages.size() >= 3, qPrintable(QString::number(pages.size())));
    qsizetype rows = 0;
    for (int page = 0; page < pages.size(); ++page) {
      const QStringList lines = pages[page].split(QLatin1Char('\n'), Qt::SkipEmptyParts);
      QCOMPARE(lines.back().trimmed(),
               QStringLiteral("стр. %1 из %2").arg(page + 1).arg(pages.size()));
      QCOMPARE(lines[page == 0 ? 1 : 0].simplified(),
               QStringLiteral("Событие Номер входа Время Дата"));
      rows += lines.size() - (page == 0 ? 3 : 2);
    }
    QCOMPARE(rows, report.count(QLatin1Char('\n')) + 1 - 4);  // less the title and the header
    qreal margin = 0;
    static const QRegularExpression kStamp(QStringLiteral("^\\d+[:.]\\d+[:.]\\d+$"));
    QSet<int> starts;  // of times and dates, in tenths of a point
    for (const PdfWord& word : ReadPdfWords(services_->printToPdf, &margin)) {
      if (kStamp.match(word.text).hasMatch()) starts << qRound(word.box.left() * 10);
    }
    QCOMPARE(starts.size(), 2);
    QVERIFY(margin >= 42.5);
    // A page range asked for in the print dialog: that page alone.
    services_->printPages = {2, 2};
    in<QPushButton>(journal, "PrintButton")->click();
    QCOMPARE(PdfText(services_->printToPdf, {QStringLiteral("-layout")}), pages[1] + '\f');
    // A filter changed after the report: the box no longer holds it, and
    // printing makes the report of what the filters show now.
    auto* box = in<QPlainTextEdit>(journal, "ReportBox");
    in<QSpinBox>(journal, "InputBox")->setValue(3);
    QVERIFY(box->toPlainText().isEmpty());
    services_->printPages = {0, 0};
    in<QPushButton>(journal, "PrintButton")->click();
    const QString narrowed = box->toPlainText();
    QVERIFY(narrowed != report && !narrowed.isEmpty());
    const QString printed = PdfText(services_->printToPdf);
    QCOMPARE(printed.section(QLatin1Char('\n'), 0, 0), narrowed.section(QLatin1Char('\n'), 0, 0));
    // Its last row too: the whole of the new report.
    QVERIFY(PdfText(services_->printToPdf, {QStringLiteral("-layout")})
                .simplified()
                .contains(narrowed.section(QLatin1Char('\n'), -1).simplified()));
    QVERIFY(printed.section(QLatin1Char('\n'), 0, 0) != report.section(QLatin1Char('\n'), 0, 0));
  }

  // "Сводка на первой странице", kept between windows: the printed report
  // begins with the totals of its device and dates, and the report's pages
  // follow as they print without it, numbered after it; a page range counts
  // the summary as page 1.
  void summaryPageBeginsThePrintedReport() {
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    services_->printToPdf = Text(dir_->file("journal.pdf"));
    const auto printed = [&] {
      in<QPushButton>(journal, "PrintButton")->click();
      return PdfText(services_->printToPdf, {QStringLiteral("-layout")})
          .split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    };
    // A page less its number, the last line.
    const auto body = [](const QString& page) { return page.trimmed().section('\n', 0, -2); };
    const QStringList plain = printed();
    auto* choice = journal->findChild<QAction*>(QStringLiteral("ASummaryPage"));
    QVERIFY(choice != nullptr && !choice->isChecked());
    choice->trigger();
    const QStringList pages = printed();
    QCOMPARE(pages.size(), plain.size() + 1);
    const auto stats = std::move(veks::Journal::Open(boiler_, veks::Journal::Access::kRead).value())
                           ->stats({std::string("Котельная"), {}, {}})
                           .value();
    std::vector<std::string> days;
    std::int64_t dated = 0;
    for (const veks::StatRow& row : stats) {
      if (row.measure != veks::StatMeasure::kDay) continue;
      days.push_back(row.key);
      dated += row.value;
    }
    const auto shortDate = [](const std::string& iso) {
      return QDate::fromString(Text(iso), Qt::ISODate).toString(QStringLiteral("dd.MM.yyyy"));
    };
    const QString first = pages[0].simplified();
    QVERIFY2(first.startsWith(QStringLiteral("Сводка Устройство: Котельная Период: %1 – %2 "
                                             "Событий: %3, из них без даты: %4 Участков: %5, "
                                             "разрывов между ними: %6")
                                  .arg(shortDate(days.front()), shortDate(days.back()))
                                  .arg(stats[0].value)
                                  .arg(stats[0].value - dated)
                                  .arg(stats[1].value)
                                  .arg(stats[1].value - 1)),
             qPrintable(first.left(200)));
    QVERIFY(first.endsWith(QStringLiteral("стр. 1 из %1").arg(pages.size())));
    for (int page = 1; page < pages.size(); ++page)
      QCOMPARE(body(pages[page]), body(plain[page - 1]));
    services_->printPages = {2, 2};
    QCOMPARE(printed(), QStringList{pages[1]});
    services_->printPages = {0, 0};
    JournalWindow another(*services_);
    QVERIFY(another.findChild<QAction*>(QStringLiteral("ASummaryPage"))->isChecked());
  }

  // The exported file is the command's export for the same filters, CSV with
  // a byte-order mark first; the name's suffix, else the filter, picks the
  // format. An older file of the name is replaced whole.
  void exportReadBack_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("input");
    QTest::addColumn<QString>("format");
    const QString csv = QStringLiteral("CSV, UTF-8 (*.csv)");
    const QString jsonl = QStringLiteral("JSON lines (*.jsonl)");
    QTest::newRow("csv") << "events.csv" << csv << 0 << "csv";
    QTest::newRow("jsonl, one input") << "events.jsonl" << jsonl << 9 << "jsonl";
    QTest::newRow("suffix over filter") << "events.jsonl" << csv << 0 << "jsonl";
    QTest::newRow("no suffix: the filter") << "events" << jsonl << 4 << "jsonl";
  }
  void exportReadBack() {
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QFETCH(int, input);
    QFETCH(QString, format);
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    in<QSpinBox>(journal, "InputBox")->setValue(input);
    const QString path = Text(dir_->file(name.toStdString()));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100'000, 'x'));
    old.close();
    services_->saveAnswers.push_back(SaveChoice{path, filter});
    QTest::keyClick(journal, Qt::Key_E, Qt::ControlModifier);
    std::vector<std::string> args = {"export", "--device", "Котельная", "--format",
                                     format.toStdString()};
    if (input > 0) args.insert(args.end(), {"--input", std::to_string(input)});
    const QByteArray expected = RunJournalCommand(boiler_, args);
    QCOMPARE(ReadAll(path), (format == QLatin1String("csv") ? "\xEF\xBB\xBF" : "") + expected);
    const auto events = expected.count('\n') - (format == QLatin1String("csv") ? 1 : 0);
    QCOMPARE(services_->messages,
             QStringList{QStringLiteral("Записано событий: %1\n%2").arg(events).arg(path)});
    // Nothing is left of the writing but the file.
    QCOMPARE(QDir(Text(dir_->path().string())).entryList(QDir::Files | QDir::Hidden).size(), 2);
  }

  // An export that finds nothing, or is aimed at the journal (its log
  // included, there or not yet) or the archive chosen in the main window,
  // writes nothing and says why; a cancelled one does nothing.
  void exportThatWritesNothing() {
    useJournal(boiler_);
    chooseArchive();
    JournalWindow* journal = openJournal();
    const veks::FileSnapshot before(boiler_), log(boiler_ + "-wal"), archive(path_);
    const QString none = Text(dir_->file("none.csv"));
    for (const QString& name : {Text(boiler_), Text(boiler_) + "-wal", Text(path_)}) {
      services_->saveAnswers.push_back(SaveChoice{name, {}});
    }
    services_->saveAnswers.push_back(std::nullopt);
    services_->saveAnswers.push_back(SaveChoice{none, {}});
    for (int i = 0; i < 4; ++i) in<QPushButton>(journal, "ExportButton")->click();
    in<QSpinBox>(journal, "InputBox")->setValue(200);
    in<QPushButton>(journal, "ExportButton")->click();
    QCOMPARE(services_->messages,
             QStringList({"Экспорт не может заменить файл журнала: " + Text(boiler_),
                          "Экспорт не может заменить файл журнала: " + Text(boiler_) + "-wal",
                          "Экспорт не может заменить файл архива: " + Text(path_),
                          none + " не записан: нет событий"}));
    QCOMPARE(services_->icons,
             QList<MessageIcon>({MessageIcon::kWarning, MessageIcon::kWarning,
                                 MessageIcon::kWarning, MessageIcon::kInformation}));
    QCOMPARE(services_->proposedNames.value(0), QStringLiteral("события-Котельная-2013-04-06.csv"));
    QVERIFY(veks::FileSnapshot(boiler_) == before);
    QVERIFY(veks::FileSnapshot(path_) == archive);
    QVERIFY(!QFileInfo::exists(none));
    QVERIFY(veks::FileSnapshot(boiler_ + "-wal") == log);
    QCOMPARE(QDir(Text(dir_->path().string())).entryList(QDir::Files | QDir::Hidden),
             QStringList{"archive.dat"});
  }

  // "Все устройства" gives the report and the export of every device, as
  // the commands without a device do; the table keeps its device, and a
  // report made for the other choice is cleared.
  void reportAndExportOfAllDevices() {
    const std::string path = dir_->file("two.sqlite");
    std::vector<std::string> boilers;
    for (int i = 1; i <= 3; ++i) {
      boilers.push_back((kBoilerFolder + QStringLiteral("/boiler-%1.dat").arg(i)).toStdString());
    }
    Import(path, boilers, "Котельная");
    Import(path, {copies_[0]}, "demo");
    useJournal(path);
    JournalWindow* journal = openJournal();
    auto* box = in<QPlainTextEdit>(journal, "ReportBox");
    const int rows = journal->historyModel()->rowCount();
    QTest::keyClick(journal, Qt::Key_R, Qt::ControlModifier);
    QVERIFY(!box->toPlainText().isEmpty());
    in<QCheckBox>(journal, "AllDevicesCheck")->setChecked(true);
    QVERIFY(box->toPlainText().isEmpty());
    QCOMPARE(journal->historyModel()->rowCount(), rows);
    QTest::keyClick(journal, Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(box->toPlainText() + QLatin1Char('\n'),
             QString::fromUtf8(RunJournalCommand(path, {"report"})));
    const QString exported = Text(dir_->file("all.jsonl"));
    services_->saveAnswers.push_back(SaveChoice{exported, {}});
    QTest::keyClick(journal, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(ReadAll(exported), RunJournalCommand(path, {"export", "--format", "jsonl"}));
    QCOMPARE(services_->proposedNames.value(0),
             QStringLiteral("события-все-устройства-2013-04-06.csv"));
  }

  // Ctrl+S in the journal window saves the report (made first when the box
  // is empty), offering a name of the device and the last day shown, and
  // never onto the journal's log; the status line says where it went.
  void saveReportFromTheJournalWindow() {
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    auto* box = in<QPlainTextEdit>(journal, "ReportBox");
    const veks::FileSnapshot log(boiler_ + "-wal");
    const QString saved = Text(dir_->file("r.txt"));
    services_->saveAnswers = {SaveChoice{Text(boiler_) + "-wal", kReportTextFilter},
                              SaveChoice{saved, kReportPdfFilter}};
    for (int i = 0; i < 2; ++i) {
      QTest::keyClick(in<QTableView>(journal, "EventView"), Qt::Key_S, Qt::ControlModifier);
    }
    QCOMPARE(services_->proposedNames.value(0), QStringLiteral("отчет-Котельная-2013-04-06.pdf"));
    QCOMPARE(services_->messages,
             QStringList{"Отчет нельзя сохранить в файл журнала: " + Text(boiler_) + "-wal"});
    QVERIFY(veks::FileSnapshot(boiler_ + "-wal") == log);
    QVERIFY(box->toPlainText().startsWith(QStringLiteral("Журнал: устройство Котельная")));
    QCOMPARE(ReadAll(saved), box->toPlainText().toUtf8() + '\n');
    QCOMPARE(journal->statusBar()->currentMessage(), QStringLiteral("Отчет сохранен: ") + saved);
  }

  // The real save dialog: it opens in a folder that is there with the
  // proposed name, whose suffix follows the filter chosen.
  void saveDialogProposesAName() {
    ProgramSettings()->setValue(QStringLiteral("dialogs/saveFolder"), Text(dir_->file("gone")));
    QtUiServices services;
    WhenModal([this](QWidget* modal) {
      auto* dialog = static_cast<QFileDialog*>(modal);
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      QCOMPARE(name->text(), QStringLiteral("отчет-demo-2013-12-01.pdf"));
      QVERIFY(QFileInfo(dialog->directory().absolutePath()).isDir());
      dialog->selectNameFilter(kReportTextFilter);
      emit dialog->filterSelected(kReportTextFilter);
      QCOMPARE(name->text(), QStringLiteral("отчет-demo-2013-12-01.txt"));
      dialog->setDirectory(Text(dir_->path().string()));
      QTest::keyClick(name, Qt::Key_Return);
    });
    const auto chosen = services.saveFileName(window_.get(), QStringLiteral("Сохранить отчет"),
                                              {kReportPdfFilter, kReportTextFilter},
                                              QStringLiteral("отчет-demo-2013-12-01.pdf"));
    QCOMPARE(chosen.value_or(SaveChoice{}).fileName, Text(dir_->file("отчет-demo-2013-12-01.txt")));
    QCOMPARE(chosen->filter, kReportTextFilter);
  }

  // Another journal file: a foreign one is refused and the journal shown
  // stays; a missing one is taken as a journal still to be made, and the
  // choice is remembered until the default is asked for again.
  void anotherJournalFile() {
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    const QString foreign = Text(path_);
    const QString fresh = Text(dir_->file("fresh.sqlite"));
    services_->fileAnswers = {foreign, fresh};
    journal->findChild<QAction*>(QStringLiteral("AOpenJournalFile"))->trigger();
    QCOMPARE(services_->messages,
             QStringList{foreign + QStringLiteral(": Файл не является журналом событий")});
    QCOMPARE(in<QComboBox>(journal, "DeviceBox")->currentText(), QStringLiteral("Котельная"));
    QCOMPARE(JournalLocation().value_or(QString()), Text(boiler_));
    journal->findChild<QAction*>(QStringLiteral("AOpenJournalFile"))->trigger();
    QCOMPARE(JournalLocation().value_or(QString()), fresh);
    QVERIFY(in<QLabel>(journal, "EmptyLabel")
                ->text()
                .startsWith(QStringLiteral("Журнал еще не создан")));
    QVERIFY(!QFileInfo::exists(fresh));
    journal->findChild<QAction*>(QStringLiteral("ADefaultJournal"))->trigger();
    QCOMPARE(JournalLocation().value_or(QString()), Text(journalPath()));
  }

  // A journal that is not one, or of a newer version, is shown as a message
  // and left alone; a device gone from the journal gives way to another.
  void unusableJournalsAndVanishedDevices() {
    std::filesystem::create_directories(std::filesystem::path(journalPath()).parent_path());
    std::filesystem::copy_file(boiler_, journalPath());
    std::vector<char> bytes = veks::FileSnapshot(journalPath()).bytes;
    bytes[63] = 99;  // the schema version
    QFile newer(Text(journalPath()));
    QVERIFY(newer.open(QIODevice::WriteOnly));
    newer.write(bytes.data(), static_cast<qint64>(bytes.size()));
    newer.close();
    const veks::FileSnapshot before(journalPath());
    JournalWindow* journal = openJournal();
    QCOMPARE(services_->messages,
             QStringList{Text(journalPath()) +
                         QStringLiteral(": Журнал записан более новой версией программы")});
    QVERIFY(veks::FileSnapshot(journalPath()) == before);
    // The file replaced by a journal whose only device is another one.
    std::filesystem::remove(journalPath());
    Import(journalPath(), {copies_[0]}, "Насос");
    QTest::keyClick(journal, Qt::Key_F5);
    QCOMPARE(in<QComboBox>(journal, "DeviceBox")->currentText(), QStringLiteral("Насос"));
    std::filesystem::remove(journalPath());
    Import(journalPath(), {copies_[3]}, "Котельная");
    QTest::keyClick(journal, Qt::Key_F5);
    QCOMPARE(in<QComboBox>(journal, "DeviceBox")->currentText(), QStringLiteral("Котельная"));
    QCOMPARE(journal->historyModel()->rowCount(),
             static_cast<int>(windows_[3].second - windows_[3].first));
    QCOMPARE(services_->messages.size(), 1);
  }

  // Tab visits every control in reading order; the window's size comes back.
  void keyboardAndPlace() {
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    in<QCheckBox>(journal, "FromCheck")->setChecked(true);
    in<QCheckBox>(journal, "ToCheck")->setChecked(true);
    in<QComboBox>(journal, "DeviceBox")->setFocus();
    // Tab walks through a date's day, month and year before it leaves.
    QStringList visited;
    for (int i = 0; i < 20; ++i) {
      const QString name = QApplication::focusWidget()->objectName();
      if (visited.isEmpty() || visited.back() != name) visited << name;
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, QStringList({"DeviceBox", "FromCheck", "FromDate", "ToCheck", "ToDate",
                                   "InputBox", "EventBox", "EventView", "NotesOnlyCheck",
                                   "ReportBox", "ReportButton", "PrintButton", "ExportButton",
                                   "AllDevicesCheck", "NewestButton", "OldestButton"}));
    journal->resize(1011, 711);
    journal->close();
    QTRY_VERIFY_WITH_TIMEOUT(actions()->journalWindow() == nullptr, kPatienceMs);
    QCOMPARE(openJournal()->size(), QSize(1011, 711));
  }

  // A date typed into "по" (showing 15.04.2013) is taken as typed, whether a
  // section was selected (Tab) or not, and whatever the month shown; one that
  // is no date is refused with a message, and the date stays. Typing ends
  // with Tab out of the field.
  void typedDates_data() {
    QTest::addColumn<bool>("tabbedIn");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QDate>("taken");  // none: refused
    QTest::newRow("31.03 while April is shown") << true << "31.03.2013" << QDate(2013, 3, 31);
    QTest::newRow("no section selected") << false << "31032013" << QDate(2013, 3, 31);
    QTest::newRow("20 Tab 11 Tab 2013") << true << "20\t11\t2013" << QDate(2013, 11, 20);
    QTest::newRow("short parts, two-digit year") << true << "1.3.13" << QDate(2013, 3, 1);
    QTest::newRow("a slip corrected") << true << "30\b1.03.2013" << QDate(2013, 3, 31);
    QTest::newRow("no such day") << true << "31.04.2013" << QDate();
    QTest::newRow("incomplete year") << true << "31.03.201" << QDate();
  }
  void typedDates() {
    QFETCH(bool, tabbedIn);
    QFETCH(QString, keys);
    QFETCH(QDate, taken);
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    auto* check = in<QCheckBox>(journal, "ToCheck");
    auto* to = in<QDateEdit>(journal, "ToDate");
    check->setChecked(true);
    to->setDate(QDate(2013, 4, 15));
    if (tabbedIn) {
      check->setFocus();
      QTest::keyClick(check, Qt::Key_Tab);
    } else {
      to->setFocus();
      auto* edit = to->findChild<QLineEdit*>();
      edit->deselect();
      edit->end(false);
    }
    QCOMPARE(QApplication::focusWidget(), to);
    QTest::keyClicks(to, keys);
    QTest::keyClick(to, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != to);
    QCOMPARE(to->date(), taken.isValid() ? taken : QDate(2013, 4, 15));
    QCOMPARE(to->text(), to->date().toString(QStringLiteral("dd.MM.yyyy")));
    if (!taken.isValid()) {
      QTRY_COMPARE_WITH_TIMEOUT(services_->messages.size(), 1, kPatienceMs);
      QVERIFY(services_->messages[0].startsWith(QStringLiteral("Дата %1 не принята").arg(keys)));
      return;
    }
    QCoreApplication::processEvents();
    QVERIFY(services_->messages.isEmpty());
    veks::EventFilter filter;
    filter.device = "Котельная";
    filter.toDate = taken.toString(Qt::ISODate).toStdString();
    auto reference = std::move(veks::Journal::Open(boiler_, veks::Journal::Access::kRead).value());
    JournalHistoryModel expected;
    expected.setView(std::move(reference->view(filter).value()));
    QCOMPARE(journal->historyModel()->rowCount(), expected.rowCount());
  }

  // The window's keys from every field: Ctrl+E exports from a date or the
  // input box (a date typed counts first); Alt+Down opens a date's calendar;
  // Alt+J, F10 and a plain Alt reach the menu; Ctrl+Home and Ctrl+End move
  // in the report box there, in the table elsewhere; Ctrl+C copies the
  // selected rows.
  void keysFromEveryField() {
    useJournal(boiler_);
    JournalWindow* journal = openJournal();
    in<QCheckBox>(journal, "FromCheck")->setChecked(true);
    auto* from = in<QDateEdit>(journal, "FromDate");
    const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
      QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    };
    for (const char* field : {"FromDate", "ToDate", "InputBox"}) {
      journal->findChild<QWidget*>(QString::fromLatin1(field))->setFocus();
      press(Qt::Key_E, Qt::ControlModifier);
    }
    QCOMPARE(services_->dialogs.size(), 3);
    from->setFocus();
    QTest::keyClicks(from, QStringLiteral("2.3.13"));  // complete, not taken yet
    press(Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(from->date(), QDate(2013, 3, 2));
    QCOMPARE(services_->dialogs.size(), 4);
    press(Qt::Key_Down, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(from->calendarWidget()->isVisible(), kPatienceMs);
    press(Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!from->calendarWidget()->isVisible(), kPatienceMs);

    auto* menu = journal->findChild<QMenu*>(QStringLiteral("JournalMenu"));
    for (const QKeyCombination keys : {Qt::ALT | Qt::Key_J, QKeyCombination(Qt::Key_F10)}) {
      QTest::keyClick(journal, keys.key(), keys.keyboardModifiers());
      QCOMPARE(QApplication::activePopupWidget(), menu);
      menu->close();
    }
    // A plain Alt, then Down to "Журнал по умолчанию" (after adding an archive,
    // opening a journal file) and Enter.
    journal->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(journal));
    in<QSpinBox>(journal, "InputBox")->setFocus();
    QTest::keyPress(journal, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(journal, Qt::Key_Alt);
    press(Qt::Key_Down);
    QCOMPARE(QApplication::activePopupWidget(), menu);
    while (menu->activeAction()->text() != QStringLiteral("Журнал по умолчанию")) {
      QTest::keyClick(menu, Qt::Key_Down);
    }
    QTest::keyClick(menu, Qt::Key_Return);
    QCOMPARE(JournalLocation().value_or(QString()), Text(journalPath()));

    useJournal(boiler_);
    journal->reload();
    QTest::keyClick(journal, Qt::Key_R, Qt::ControlModifier);
    auto* box = in<QPlainTextEdit>(journal, "ReportBox");
    auto* table = in<QTableView>(journal, "EventView");
    // The menu's popup was the last window active; offscreen, nothing gives
    // the activation back.
    journal->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(journal));
    table->setFocus();
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), table, kPatienceMs);
    press(Qt::Key_Down);
    press(Qt::Key_Down, Qt::ShiftModifier);
    press(Qt::Key_C, Qt::ControlModifier);
    QString rows;
    for (int row = 1; row <= 2; ++row) {
      rows += ModelRow(journal->historyModel(), row).join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), rows);
    box->setFocus();
    press(Qt::Key_End, Qt::ControlModifier);
    QVERIFY(box->textCursor().atEnd());
    press(Qt::Key_Home, Qt::ControlModifier);
    QVERIFY(box->textCursor().atStart());
    QCOMPARE(table->currentIndex().row(), 2);
  }

  // It opens beside the main window (the test's screen is wide enough)
  // with 15 rows or more in sight, however small it was left; a damaged
  // record's time and date show whole; the devices are listed as a person
  // reads them.
  void look() {
    ArchiveBuilder()
        .fillNumbered()
        .setRecord(5, veks::MakeRecord(52, 255, 255, 255, 254, 255, 255, 254))
        .setWriteOffset(800)
        .writeTo(path_);
    for (const char* device : {"Ёлка", "demo", "Насос 10", "Арка", "Насос 2"}) {
      Import(journalPath(), {path_}, device);
    }
    JournalWindow* journal = openJournal();
    QVERIFY(!journal->frameGeometry().intersects(window_->frameGeometry()));
    auto* devices = in<QComboBox>(journal, "DeviceBox");
    QStringList names;
    for (int i = 0; i < devices->count(); ++i) names << devices->itemText(i);
    QCOMPARE(names, QStringList({"Арка", "Ёлка", "Насос 2", "Насос 10", "demo"}));
    auto* table = in<QTableView>(journal, "EventView");
    const QString damaged = QStringLiteral("255.255.254 255:255:254");
    QVERIFY(
        !table->model()->match(table->model()->index(0, 0), Qt::DisplayRole, damaged).isEmpty());
    QVERIFY(table->columnWidth(0) >= table->fontMetrics().horizontalAdvance(damaged) +
                                         2 * table->fontMetrics().averageCharWidth());
    const auto rowsInSight = [&table] {
      return table->viewport()->height() / table->verticalHeader()->defaultSectionSize();
    };
    QVERIFY(rowsInSight() >= JournalWindow::kRowsShown);
    const QPoint place = journal->pos();
    journal->resize(journal->width(), 300);
    journal->close();
    QTRY_VERIFY_WITH_TIMEOUT(actions()->journalWindow() == nullptr, kPatienceMs);
    journal = openJournal();
    table = in<QTableView>(journal, "EventView");
    QVERIFY(rowsInSight() >= JournalWindow::kRowsShown);
    QCOMPARE(journal->pos(), place);
  }

  // An import made while the window is open: checkpoints pass, and a page
  // read after it shows the new state, the current row staying on its event.
  void importsWhileTheWindowIsOpen() {
    const std::string path = data_->file("open.sqlite");
    Import(path, {copies_[0]}, "d");
    useJournal(path);
    JournalWindow* journal = openJournal();
    const JournalHistoryModel* model = journal->historyModel();
    auto* table = in<QTableView>(journal, "EventView");
    auto* status = in<QLabel>(journal, "StatusLine");
    const auto before = static_cast<int>(windows_[0].second - windows_[0].first);
    const auto after = static_cast<int>(windows_[1].second - windows_[0].first);
    QCOMPARE(status->text(), QStringLiteral("Событий: %1, участков: 1").arg(before));
    table->setCurrentIndex(model->index(5, 0));
    const QStringList current = ModelRow(model, 5);

    Import(path, {copies_[1]}, "d");
    // The window keeps no read transaction: another connection checkpoints the whole log.
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "SELECT count(*) FROM devices", nullptr, nullptr, nullptr);
    int log = -1, done = -1;
    QCOMPARE(sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &log, &done),
             SQLITE_OK);
    sqlite3_close(db);
    QCOMPARE(log, 0);
    (void)ModelRow(model, model->rowCount() - 1);  // a page not read yet
    QTRY_COMPARE(status->text(), QStringLiteral("Событий: %1, участков: 1").arg(after));
    QCOMPARE(model->rowCount(), after);
    QCOMPARE(table->currentIndex().row(), 5 + after - before);
    QCOMPARE(ModelRow(model, table->currentIndex().row()), current);
    QVERIFY(services_->messages.isEmpty());
  }

  // F2 renames the device shown, or joins it with another once the operator
  // confirms; the journal holds what the window then shows.
  void renameDevice_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("join");  // the answer to the question, when asked
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("messages");
    const QString joined = QStringLiteral("Котельная: объединено с Насос; новых событий: %1")
                               .arg(windows_[0].second - windows_[0].first);
    QTest::newRow("a new name, blanks dropped")
        << " Котел " << false << QStringList{"Котел", "Насос"}
        << QStringList{"Котельная: переименовано в Котел"};
    QTest::newRow("joined") << "Насос" << true << QStringList{"Насос"} << QStringList{joined};
    QTest::newRow("join declined")
        << "Насос" << false << QStringList{"Котельная", "Насос"} << QStringList{};
  }
  void renameDevice() {
    QFETCH(QString, name);
    QFETCH(bool, join);
    QFETCH(QStringList, devices);
    QFETCH(QStringList, messages);
    Import(journalPath(), {copies_[0]}, "Котельная");
    Import(journalPath(), {copies_[2]}, "Насос");
    JournalWindow* journal = openJournal();
    services_->deviceAnswers = {name};
    services_->confirmAnswer = join;
    QTest::keyClick(journal, Qt::Key_F2);
    QCOMPARE(services_->deviceQuestions, QStringList{"Котельная|Котельная|Насос"});
    QCOMPARE(services_->messages, messages);
    auto held = veks::Journal::Open(journalPath(), veks::Journal::Access::kRead).value()->devices();
    QStringList listed;
    for (const auto& device : held.value()) listed << Text(device.name);
    QCOMPARE(listed, devices);
    QCOMPARE(in<QComboBox>(journal, "DeviceBox")->currentText(), devices.front());
  }

  // Ctrl+Z undoes the last import into the device shown once the operator
  // confirms, asked again when events carry notes; declined, nothing changes.
  void undoLastImport_data() {
    QTest::addColumn<bool>("noted");
    QTest::addColumn<QList<bool>>("answers");
    QTest::newRow("declined") << false << QList<bool>{false};
    QTest::newRow("confirmed") << false << QList<bool>{true};
    QTest::newRow("noted, declined the second time") << true << QList<bool>{true, false};
    QTest::newRow("noted, confirmed twice") << true << QList<bool>{true, true};
  }
  void undoLastImport() {
    QFETCH(bool, noted);
    QFETCH(QList<bool>, answers);
    Import(journalPath(), {copies_[0], copies_[1]}, "Котельная");
    const QByteArray before = RunJournalCommand(journalPath(), {"export"});
    Import(journalPath(), {copies_[2]}, "Котельная");
    const auto added = static_cast<qsizetype>(windows_[2].second - windows_[1].second);
    if (noted) {
      // The device's newest event, which only copy c holds.
      auto j = veks::Journal::Open(journalPath(), veks::Journal::Access::kWrite);
      QVERIFY(j.ok());
      veks::EventFilter device;
      device.device = "Котельная";
      veks::EventRecord newest{};
      (void)j.value()->forEachEvent(
          device, veks::EventOrder::kNewestFirst,
          [&](const veks::JournalEvent& e) { return newest = e.raw, false; });
      QVERIFY(j.value()->addNote({"Котельная", newest, {}, {}}, "к", "т", {"x", 0}).ok());
    }
    const QByteArray after = RunJournalCommand(journalPath(), {"export"});
    JournalWindow* journal = openJournal();
    QVERIFY(journal);
    const int rows = journal->historyModel()->rowCount();
    auto* undo = journal->findChild<QAction*>(QStringLiteral("AUndoImport"));
    QVERIFY(undo->isEnabled());
    QCOMPARE(undo->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    services_->confirmAnswers.assign(answers.begin(), answers.end());
    QTest::keyClick(journal, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(services_->questions.size(), answers.size());
    QVERIFY2(
        QRegularExpression(QStringLiteral("^Отменить импорт copy-c\\.dat от \\d{4}-\\d\\d-\\d\\d "
                                          "\\d\\d:\\d\\d\\? Будет удалено событий: %1\\.$")
                               .arg(added))
            .match(services_->questions.value(0))
            .hasMatch(),
        qPrintable(services_->questions.value(0)));
    if (answers.size() > 1) {
      QVERIFY(services_->questions[1].startsWith(
          QStringLiteral("Событий с примечаниями среди удаляемых: 1.")));
    }
    const bool undone = !answers.contains(false);
    QCOMPARE(RunJournalCommand(journalPath(), {"export"}), undone ? before : after);
    QCOMPARE(journal->historyModel()->rowCount(), undone ? rows - added : rows);
    QCOMPARE(services_->messages,
             undone ? QStringList{QStringLiteral("Импорт copy-c.dat отменен; удалено событий: %1")
                                      .arg(added)}
                    : QStringList{});
    QCOMPARE(undo->isEnabled(), !undone);
  }

  // "Проверить журнал" says a sound journal is sound and lists a broken
  // one's problems; "Резервная копия…" never replaces a file and makes a
  // journal that exports as the original does.
  void checkAndBackup() {
    const std::string path = data_->file("copy.sqlite");
    std::filesystem::copy_file(boiler_, path);
    useJournal(path);
    JournalWindow* journal = openJournal();
    const QString existing = Text(dir_->file("old.sqlite")),
                  backup = Text(dir_->file("new.sqlite"));
    QFile(existing).open(QIODevice::WriteOnly);
    services_->saveAnswers = {SaveChoice{existing, {}}, SaveChoice{backup, {}}};
    const auto trigger = [&](const char* action) {
      journal->findChild<QAction*>(QString::fromLatin1(action))->trigger();
    };
    trigger("ACheckJournal");
    trigger("ABackupJournal");
    trigger("ABackupJournal");
    QCOMPARE(services_->proposedNames.value(0),
             QStringLiteral("журнал-%1.sqlite").arg(QDate::currentDate().toString(Qt::ISODate)));
    QCOMPARE(ReadAll(existing), QByteArray());
    QVERIFY(services_->messages.value(1).startsWith(existing + ": копия не записана: файл уже"));
    const QByteArray exported = RunJournalCommand(path, {"export"});
    QCOMPARE(RunJournalCommand(backup.toStdString(), {"export"}), exported);

    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "UPDATE segments SET event_count = event_count + 1", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
    trigger("ACheckJournal");
    const auto problems =
        veks::Journal::Open(path, veks::Journal::Access::kRead).value()->check().value();
    QStringList lines;
    for (const std::string& problem : problems) lines << Text(problem);
    QCOMPARE(
        services_->messages,
        QStringList({Text(path) + QStringLiteral(": журнал исправен"), services_->messages.value(1),
                     backup + QStringLiteral(": событий %1").arg(exported.count('\n') - 1),
                     Text(path) + QStringLiteral(": журнал неисправен:\n") +
                         lines.join(QLatin1Char('\n'))}));
    QCOMPARE(services_->icons,
             QList<MessageIcon>({MessageIcon::kInformation, MessageIcon::kWarning,
                                 MessageIcon::kInformation, MessageIcon::kCritical}));
  }

  // The device dialog of the real services: Enter takes the name as edited,
  // Escape cancels.

  // The device dialog of the real services: it names the copy and says what
  // the proposal means; Enter takes the name the field shows, the proposal
  // untouched or as edited; Escape cancels. A dialog the keys left open is
  // closed, so that the test fails instead of waiting.
  void deviceDialogKeys() {
    QtUiServices services;
    const auto ask = [&](const DeviceQuestion& question,
                         std::function<void(QDialog*, QComboBox*)> keys) {
      WhenModal([keys](QWidget* modal) {
        auto* dialog = static_cast<QDialog*>(modal);
        keys(dialog, dialog->findChild<QComboBox*>(QStringLiteral("DeviceNameBox")));
        if (dialog->isVisible()) dialog->reject();
      });
      return services.askDeviceName(window_.get(), question);
    };
    const QString boiler2 = kBoilerFolder + QStringLiteral("/boiler-2.dat");
    const QStringList devices{"demo", "Котельная"};
    QString archive, fate;
    const auto enter = [&](QDialog* dialog, QComboBox* box) {
      archive = dialog->findChild<QLabel*>(QStringLiteral("DeviceArchiveLabel"))->text();
      fate = dialog->findChild<QLabel*>(QStringLiteral("DeviceFateLabel"))->text();
      QCOMPARE(box->currentIndex(), -1);
      QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    };
    QCOMPARE(ask({boiler2, "Котельная", true, devices}, enter),
             std::optional<QString>("Котельная"));
    QCOMPARE(archive, QStringLiteral("Архив: boiler-2.dat"));
    QCOMPARE(fate, QStringLiteral("Копия продолжает историю устройства Котельная."));
    QCOMPARE(ask({boiler2, "boiler-2", false, devices}, enter), std::optional<QString>("boiler-2"));
    QVERIFY(fate.contains(QStringLiteral("начинает новый участок")));
    // Typed over the proposal; and a device chosen from the list, then
    // another typed over it and confirmed with the mouse.
    QCOMPARE(ask({boiler2, "boiler-3", false, devices},
                 [](QDialog*, QComboBox* box) {
                   QTest::keyClicks(box->lineEdit(), QStringLiteral("Pump 2"));
                   QTest::keyClick(box->lineEdit(), Qt::Key_Return);
                 }),
             std::optional<QString>("Pump 2"));
    QCOMPARE(ask({boiler2, "boiler-2", false, {"demo", "pump"}},
                 [](QDialog* dialog, QComboBox* box) {
                   QTest::keyClick(box->lineEdit(), Qt::Key_Down);
                   QCOMPARE(box->currentText(), QStringLiteral("demo"));
                   box->lineEdit()->selectAll();
                   QTest::keyClicks(box->lineEdit(), QStringLiteral("pump"));
                   QTest::mouseClick(
                       dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                       Qt::LeftButton);
                 }),
             std::optional<QString>("pump"));
    QVERIFY(!ask({boiler2, "x", false, {}},
                 [](QDialog* dialog, QComboBox*) { QTest::keyClick(dialog, Qt::Key_Escape); }));
  }

  // A report of 300,000 events: the box shows its beginning and says so;
  // printing to PDF gives every line of the command's report, the title on
  // page 1, the header line and "стр. N из M" on every page. A print
  // cancelled midway leaves the file that was there as it was, and nothing
  // beside it.
  void largeReportPrintsWhole() {
    const std::string path = shared_->file("300k.sqlite");
    veks::JournalFixture(path, shared_->file("300k.dat"), 300'000);
    useJournal(path);
    JournalWindow* journal = openJournal();
    QVERIFY(journal->historyModel()->rowCount() >= 300'000);
    QTest::keyClick(journal, Qt::Key_R, Qt::ControlModifier);
    auto* box = in<QPlainTextEdit>(journal, "ReportBox");
    QCOMPARE(box->blockCount(), kBoxLines + 1);
    QVERIFY(box->document()->lastBlock().text().startsWith(
        QStringLiteral("… здесь показаны первые %1 строк отчета из ")
            .arg(QLocale(QLocale::Russian).toString(kBoxLines))));

    services_->printToPdf = Text(dir_->file("300k.pdf"));
    in<QPushButton>(journal, "PrintButton")->click();
    const QStringList pages = PdfText(services_->printToPdf, {QStringLiteral("-layout")})
                                  .split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    const QString header = QStringLiteral("Событие Номер входа Время Дата");
    QStringList printed;
    for (int page = 0; page < pages.size(); ++page) {
      QStringList lines = pages[page].split(QLatin1Char('\n'), Qt::SkipEmptyParts);
      QCOMPARE(lines.takeLast().trimmed(),
               QStringLiteral("стр. %1 из %2").arg(page + 1).arg(pages.size()));
      if (page > 0) QCOMPARE(lines.takeFirst().simplified(), header);
      for (const QString& line : lines) printed << line.simplified();
    }
    QStringList expected;
    for (const QString& line :
         QString::fromUtf8(RunJournalCommand(path, {"report", "--device", "bench"})).split('\n')) {
      if (!line.isEmpty()) expected << line.simplified();
    }
    QVERIFY(expected.size() > 300'000);
    QCOMPARE(printed.first(), QStringLiteral("Журнал: устройство bench"));
    QCOMPARE(printed.size(), expected.size());
    QVERIFY(printed == expected);

    QFile older(services_->printToPdf);
    QVERIFY(older.open(QIODevice::WriteOnly | QIODevice::Truncate));
    older.write("older");
    older.close();
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = journal->findChild<QProgressDialog*>(QStringLiteral("WorkProgress"));
      if (dialog == nullptr || !dialog->isVisible() || dialog->value() < 1) return;
      poll.stop();
      QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
    });
    poll.start(10);
    in<QPushButton>(journal, "PrintButton")->click();
    QVERIFY(!poll.isActive());
    QCOMPARE(ReadAll(services_->printToPdf), QByteArray("older"));
    QCOMPARE(QDir(Text(dir_->path().string())).entryList(QDir::Files | QDir::Hidden),
             QStringList({"300k.pdf", "archive.dat"}));
    QVERIFY(services_->messages.isEmpty());
  }

  // Ctrl+J while another program holds the journal's write lock: the
  // progress says that it waits, Отмена ends the wait, nothing is added and
  // the window is the operator's again.
  void addArchiveWhileTheJournalIsHeld() {
    const std::string path = data_->file("held.sqlite");
    std::filesystem::copy_file(boiler_, path);
    useJournal(path);
    const QByteArray before = RunJournalCommand(path, {"export"});
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    const auto closeOther = qScopeGuard([&] { sqlite3_close(other); });
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    state_.ArchiveName = copies_[0];
    services_->deviceAnswers.push_back(QStringLiteral("Насос"));
    QString label;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = window_->findChild<QProgressDialog*>(QStringLiteral("WorkProgress"));
      if (dialog == nullptr || !dialog->isVisible() || dialog->labelText() != kJournalBusyLabel)
        return;
      poll.stop();
      label = dialog->labelText();
      QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
    });
    poll.start(10);
    QTest::keyClick(window_.get(), Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(label, kJournalBusyLabel);
    QCOMPARE(
        services_->messages,
        QStringList{QStringLiteral("copy-a.dat: архив не добавлен: ожидание журнала прервано")});
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    QCOMPARE(RunJournalCommand(path, {"export"}), before);
    // The window answers again: the next Ctrl+J asks for the device.
    services_->deviceAnswers.push_back(std::nullopt);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get(), kPatienceMs));
    QTest::keyClick(window_.get(), Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(services_->deviceQuestions.size(), 2);
  }

  // A page that cannot be read leaves its rows empty and is reported once,
  // from the event loop, however often the view asks for it.
  void historyModelReportsAFailedReadOnce() {
    struct FailingPages : veks::HistoryPages {
      std::int64_t rowCount() const override { return 1000; }
      std::int64_t eventCount() const override { return 1000; }
      std::int64_t segmentCount() const override { return 1; }
      std::vector<std::int64_t> gapRows() const override { return {}; }
      veks::JournalResult<std::vector<veks::HistoryRow>> rows(std::int64_t, std::int64_t) override {
        return veks::JournalError{veks::JournalError::Kind::kStorage,
                                  "Ошибка журнала: disk I/O error"};
      }
      std::optional<veks::JournalError> reload() override { return std::nullopt; }
    };
    JournalHistoryModel model;
    model.setView(std::make_unique<FailingPages>());
    QSignalSpy failed(&model, &JournalHistoryModel::readFailed);
    for (int row : {0, 1, 300, 999})
      QCOMPARE(model.data(model.index(row, 0), Qt::DisplayRole), QVariant());
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kPatienceMs);
    QCOMPARE(failed.front().front().toString(), QStringLiteral("Ошибка журнала: disk I/O error"));
    QCOMPARE(model.pagesRead(), 1);
  }
};

int main(int argc, char** argv) {
  const veks::TempDir home;
  IsolateJournalWindowTests(home);
  // The 300,000-event print read back takes minutes under the sanitizers,
  // more than the five Qt Test gives a test function.
  if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT")) {
    qputenv("QTEST_FUNCTION_TIMEOUT", "1800000");
  }
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  JournalWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "journal_window_test.moc"
