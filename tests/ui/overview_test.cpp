#include <QAction>
#include <QAreaSeries>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGraphicsView>
#include <QLineSeries>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>
#include <fstream>
#include <map>
#include <memory>

#include "journal/journal.h"
#include "report/event_export.h"
#include "tests/ui/window_test_base.h"
#include "ui/doc_application.h"
#include "ui/journal_history_model.h"
#include "ui/journal_window.h"
#include "ui/overview_loader.h"
#include "ui/overview_panel.h"
#include "ui/stats_tables.h"
#include "ui/timeline_chart.h"

using veks::ArchiveBuilder;
using veks::MakeRecord;

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The day rows of `stats` for the filter, by day.
std::map<QDate, std::int64_t> StatsDays(const std::string& journal,
                                        const veks::StatsFilter& filter) {
  std::map<QDate, std::int64_t> days;
  auto opened = veks::Journal::Open(journal, veks::Journal::Access::kRead);
  if (!opened.ok()) return days;
  auto rows = opened.value()->stats(filter);
  if (!rows.ok()) return days;
  for (const veks::StatRow& row : rows.value()) {
    if (row.measure == veks::StatMeasure::kDay)
      days[QDate::fromString(Text(row.key), Qt::ISODate)] = row.value;
  }
  return days;
}

// The days the timeline draws and each one's count, all kinds together.
std::map<QDate, std::int64_t> ChartDays(const TimelineChart& timeline) {
  std::map<QDate, std::int64_t> days;
  if (timeline.kindAreas().empty()) return days;
  const QList<QPointF> top = timeline.kindAreas().back()->upperSeries()->points();
  for (qsizetype i = 0; i + 1 < top.size(); i += 2) {
    if (top[i].y() > 0)
      days[DeviceDate(static_cast<std::int64_t>(top[i].x()))] =
          static_cast<std::int64_t>(top[i].y());
  }
  return days;
}

}  // namespace

class OverviewTest : public QObject {
  Q_OBJECT

  std::unique_ptr<veks::TempDir> dir_;
  std::string journal_;
  FakeServices services_;
  std::unique_ptr<JournalWindow> window_;

  template <typename T>
  T* in(const char* name) const {
    T* widget = window_->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) qFatal("no control %s", name);
    return widget;
  }
  OverviewPanel* overview() const { return window_->overview(); }
  // Waits until the overview shows what the window's filters ask for.
  bool overviewShown() const {
    return QTest::qWaitFor([&] { return !overview()->loading(); }, kPatienceMs);
  }
  void setDates(QDate from, QDate to) {
    in<QDateEdit>("FromDate")->setDate(from);
    in<QDateEdit>("ToDate")->setDate(to);
    in<QCheckBox>("FromCheck")->setChecked(from.isValid());
    in<QCheckBox>("ToCheck")->setChecked(to.isValid());
  }
  void chooseDevice(const QString& device) {
    auto* box = in<QComboBox>("DeviceBox");
    box->setCurrentIndex(box->findText(device));
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<veks::TempDir>();
    journal_ = dir_->file("journal.sqlite");
    auto opened = veks::Journal::Open(journal_, veks::Journal::Access::kImport);
    QVERIFY(opened.ok());
    for (int i = 1; i <= 3; ++i) {
      const QString copy = QStringLiteral(VEKS_JOURNAL_SAMPLES "/boiler-%1.dat").arg(i);
      QVERIFY(opened.value()->importArchive(copy.toStdString(), std::string("Котельная")).ok());
    }
    // A burst: input 3 of МУК 1 every 5 seconds, twelve times in one
    // 10-minute slot, so it both chatters and floods.
    ArchiveBuilder burst;
    for (int i = 0; i < 12; ++i) {
      burst.setRecord(i, MakeRecord(i % 2, 3, 10, static_cast<std::uint8_t>(i * 5 / 60),
                                    static_cast<std::uint8_t>(i * 5 % 60), 15, 5, 13));
    }
    burst.setWriteOffset(11 * 8).writeTo(dir_->file("burst.dat"));
    QVERIFY(opened.value()->importArchive(dir_->file("burst.dat"), std::string("Всплеск")).ok());
  }

  void init() {
    ProgramSettings()->clear();
    SetJournalLocation(Text(journal_));
    window_ = std::make_unique<JournalWindow>(services_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    auto* action = window_->findChild<QAction*>(QStringLiteral("AOverview"));
    QVERIFY(action != nullptr);
    QVERIFY(!action->shortcut().isEmpty());
    action->trigger();
    QVERIFY(overviewShown());
  }
  void cleanup() { window_.reset(); }

  // The timeline's days, all kinds stacked, are the statistics' day rows for
  // the same device and dates, gaps included.
  void timelineDaysAreTheStatsDays_data() {
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<bool>("gapShown");
    QTest::newRow("whole history") << QDate() << QDate() << true;
    QTest::newRow("a first segment's weeks") << QDate(2013, 1, 20) << QDate(2013, 2, 10) << false;
    QTest::newRow("across the gap") << QDate(2013, 2, 1) << QDate(2013, 3, 31) << true;
    QTest::newRow("one day") << QDate(2013, 1, 22) << QDate(2013, 1, 22) << false;
  }
  void timelineDaysAreTheStatsDays() {
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(bool, gapShown);
    chooseDevice(QStringLiteral("Котельная"));
    setDates(from, to);
    QVERIFY(overviewShown());
    TimelineChart* timeline = overview()->timeline();
    timeline->setPeriod(TimelineChart::Period::kDay);
    timeline->showAll();
    veks::StatsFilter filter{std::string("Котельная"), {}, {}};
    if (from.isValid()) filter.fromDate = from.toString(Qt::ISODate).toStdString();
    if (to.isValid()) filter.toDate = to.toString(Qt::ISODate).toStdString();
    const auto expected = StatsDays(journal_, filter);
    QVERIFY(!expected.empty());
    QCOMPARE(ChartDays(*timeline), expected);

    bool gapDrawn = false;
    for (QAbstractSeries* series : timeline->chart()->series()) {
      if (series->name() == QStringLiteral("возможен пропуск событий"))
        gapDrawn = !static_cast<QAreaSeries*>(series)->upperSeries()->points().isEmpty();
    }
    QCOMPARE(gapDrawn, gapShown);
  }

  // Zooming changes the period shown and never what a day counts.
  void zoomKeepsTheCounts() {
    chooseDevice(QStringLiteral("Котельная"));
    QVERIFY(overviewShown());
    TimelineChart* timeline = overview()->timeline();
    timeline->setPeriod(TimelineChart::Period::kAuto);
    timeline->showAll();
    QCOMPARE(timeline->shownPeriod(), TimelineChart::Period::kDay);
    QWidget* view = timeline->view();
    view->setFocus();
    for (int i = 0; i < 6; ++i) QTest::keyClick(view, Qt::Key_Plus);
    QCOMPARE(timeline->shownPeriod(), TimelineChart::Period::kHour);
    QVERIFY(timeline->shownTo() - timeline->shownFrom() >= TimelineChart::kMinSpan);
    const std::int64_t before = timeline->shownFrom();
    QTest::keyClick(view, Qt::Key_Left);
    QVERIFY(timeline->shownFrom() < before);
    QTest::keyClick(view, Qt::Key_Home);
    QCOMPARE(timeline->shownPeriod(), TimelineChart::Period::kDay);
    QCOMPARE(ChartDays(*timeline),
             StatsDays(journal_, veks::StatsFilter{std::string("Котельная"), {}, {}}));
  }

  // Dragging over the chart sets the table's dates to the days dragged over.
  void dragSetsTheDates() {
    chooseDevice(QStringLiteral("Котельная"));
    QVERIFY(overviewShown());
    TimelineChart* timeline = overview()->timeline();
    auto* view = static_cast<QGraphicsView*>(timeline->view());
    const QRectF plot = timeline->chart()->plotArea();
    const QPoint start(static_cast<int>(plot.left() + plot.width() * 0.1),
                       static_cast<int>(plot.center().y()));
    const QPoint end(static_cast<int>(plot.left() + plot.width() * 0.3), start.y());
    const auto dayAt = [&](QPoint at, bool last) {
      const double x = timeline->chart()->mapToValue(QPointF(at)).x();
      return DeviceDate(last ? static_cast<std::int64_t>(std::ceil(x)) - 1
                             : static_cast<std::int64_t>(std::floor(x)));
    };
    const QDate from = dayAt(start, false), to = dayAt(end, true);
    QVERIFY(from < to);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, start);
    QTest::mouseMove(view->viewport(), end);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, end);
    QVERIFY(in<QCheckBox>("FromCheck")->isChecked());
    QVERIFY(in<QCheckBox>("ToCheck")->isChecked());
    QCOMPARE(in<QDateEdit>("FromDate")->date(), from);
    QCOMPARE(in<QDateEdit>("ToDate")->date(), to);
    // The table and the overview both show those days.
    veks::StatsFilter filter{std::string("Котельная"), from.toString(Qt::ISODate).toStdString(),
                             to.toString(Qt::ISODate).toStdString()};
    std::int64_t days = 0;
    for (const auto& [day, count] : StatsDays(journal_, filter)) days += count;
    QCOMPARE(window_->historyModel()->view()->eventCount(), days);
    QVERIFY(overviewShown());
    QCOMPARE(ChartDays(*timeline), StatsDays(journal_, filter));
  }

  // Enter on a row of the overview's tables filters the journal's table to
  // what the row counts.
  void rowActivationFiltersTheTable_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("input");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QString>("deviceShown");
    QTest::addColumn<bool>("countsMatch");  // the table holds as many events as the row counts
    const QString boiler = QStringLiteral("Котельная"), burst = QStringLiteral("Всплеск");
    const QString any = QStringLiteral("все");
    QTest::newRow("kind") << boiler << "KindTable"
                          << "клапан ОТКРЫТ" << 0 << 0 << "клапан ОТКРЫТ" << QDate() << boiler
                          << true;
    QTest::newRow("busy input") << boiler << "InputTable"
                                << "МУК 1 вх 4" << 0 << 4 << any << QDate() << boiler << false;
    QTest::newRow("valve closed") << boiler << "ValveTable"
                                  << "МУК 2" << 2 << 8 << "клапан ЗАКРЫТ" << QDate() << boiler
                                  << true;
    QTest::newRow("valve opened") << boiler << "ValveTable"
                                  << "МУК 4" << 1 << 19 << "клапан ОТКРЫТ" << QDate() << boiler
                                  << true;
    QTest::newRow("chatter") << burst << "ChatterTable"
                             << "МУК 1 вх 3" << 1 << 3 << any << QDate() << burst << false;
    QTest::newRow("flood") << burst << "FloodTable"
                           << "15.05.2013 10:00" << 0 << 0 << any << QDate(2013, 5, 15) << burst
                           << false;
    QTest::newRow("due device") << boiler << "DueTable" << burst << 0 << 0 << any << QDate()
                                << burst << false;
  }
  void rowActivationFiltersTheTable() {
    QFETCH(QString, device);
    QFETCH(QString, table);
    QFETCH(QString, row);
    QFETCH(int, column);
    QFETCH(int, input);
    QFETCH(QString, kind);
    QFETCH(QDate, day);
    QFETCH(QString, deviceShown);
    QFETCH(bool, countsMatch);
    chooseDevice(device);
    QVERIFY(overviewShown());
    auto* rows = in<QTableWidget>(table.toLatin1().constData());
    const QList<QTableWidgetItem*> found = rows->findItems(row, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    const int at = found.front()->row();
    const qlonglong counted =
        rows->item(at, std::max(column, 1))->data(Qt::DisplayRole).toLongLong();
    rows->setFocus();
    rows->setCurrentCell(at, column);
    QTest::keyClick(rows, Qt::Key_Return);

    QCOMPARE(in<QComboBox>("DeviceBox")->currentText(), deviceShown);
    QCOMPARE(in<QSpinBox>("InputBox")->value(), input);
    QCOMPARE(in<QComboBox>("EventBox")->currentText(), kind);
    QCOMPARE(in<QCheckBox>("FromCheck")->isChecked(), day.isValid());
    if (day.isValid()) {
      QCOMPARE(in<QDateEdit>("FromDate")->date(), day);
      QCOMPARE(in<QDateEdit>("ToDate")->date(), day);
    }
    if (countsMatch) QCOMPARE(window_->historyModel()->view()->eventCount(), counted);
  }

  // A due moment past or within seven days is marked in words as well as in
  // colour; one further off, or unknown, is not.
  void dueMarks_data() {
    QTest::addColumn<QString>("due");
    QTest::addColumn<QString>("words");
    QTest::newRow("a minute ago") << "2026-12-09T11:59"
                                  << "просрочено";
    QTest::newRow("now") << "2026-12-09T12:00"
                         << "просрочено";
    QTest::newRow("a minute ahead") << "2026-12-09T12:01"
                                    << "≤ 7 дней";
    QTest::newRow("seven days ahead") << "2026-12-16T12:00"
                                      << "≤ 7 дней";
    QTest::newRow("past seven days") << "2026-12-16T12:01"
                                     << "";
    QTest::newRow("years ago") << "2013-05-07T11:58"
                               << "просрочено";
  }
  void dueMarks() {
    QFETCH(QString, due);
    QFETCH(QString, words);
    const QDateTime now(QDate(2026, 12, 9), QTime(12, 0));
    veks::DueEstimate estimate{
        "К", std::string("2013-04-06T03:21:19"), 5, 86'400, 5000, due.toStdString()};
    DueTable table;
    table.setDue({estimate, veks::DueEstimate{"Без времени", {}, 0, 0, 0, {}}}, now);
    QCOMPARE(table.item(0, 4)->text(), words);
    QCOMPARE(table.item(0, 0)->background() != QBrush(), !words.isEmpty());
    QCOMPARE(table.item(1, 4)->text(), QStringLiteral("нет отметок времени"));
  }

  // Every input text the decoding writes names its input number again.
  void inputNumbersOfTheDecodedTexts() {
    for (int argument = 1; argument <= 255; ++argument) {
      const veks::EventRecord record{0, static_cast<std::uint8_t>(argument), 0, 0, 0, 1, 1, 0};
      const QString text = Text(veks::TrimmedEventTexts(record)[1]);
      QCOMPARE(InputNumber(text), std::optional<int>(argument));
    }
    QCOMPARE(InputNumber(QStringLiteral("МУК 0 вх 6")), std::nullopt);  // argument 0: any input
    QCOMPARE(InputNumber(QStringLiteral("МУК 3")), std::nullopt);
  }

  // Of requests made in a row, only the newest is answered.
  void newestRequestWins() {
    OverviewLoader loader;
    QSignalSpy answers(&loader, &OverviewLoader::loaded);
    loader.request(Text(journal_), {std::string("нет такого"), {}, {}});
    loader.request(Text(journal_), {std::string("Котельная"), std::string("2013-01-22"), {}});
    loader.request(Text(journal_), {std::string("Всплеск"), {}, {}});
    QVERIFY(QTest::qWaitFor([&] { return !loader.busy(); }, kPatienceMs));
    QCoreApplication::processEvents();
    QCOMPARE(answers.count(), 1);
    const auto result =
        answers.front().front().value<std::shared_ptr<const OverviewLoader::Result>>();
    QVERIFY(result->read.ok());
    QCOMPARE(result->read.value().stats.front().device, std::string("Всплеск"));
    QCOMPARE(result->read.value().stats.front().value, 12);
  }
};

int main(int argc, char** argv) {
  const veks::TempDir home;
  IsolateJournalWindowTests(home);
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  OverviewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "overview_test.moc"
