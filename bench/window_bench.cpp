// Speed of the windows (offscreen): from a click to what the operator sees. Run:
//   build/release/bench/window_bench --benchmark_repetitions=10
//     --benchmark_report_aggregates_only=true
// The journal window's benchmarks (--benchmark_filter=Journal) share a journal
// of a million events, built once (about 20 seconds).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <random>

#include "bench/journal_fixture.h"
#include "report/event_export.h"
#include "tools/archive_builder.h"
#include "tools/spawn_quietly.h"
#include "ui/Doc_main.h"
#include "ui/dialog_services.h"
#include "ui/doc_application.h"
#include "ui/journal_history_model.h"
#include "ui/journal_location.h"
#include "ui/journal_window.h"
#include "ui/report_file.h"
#include "ui/stats_tables.h"
#include "ui/timeline_chart.h"

namespace {

class SilentServices : public UiServices {
 public:
  void message(QWidget*, const QString&, MessageIcon = MessageIcon::kNone) override { ++messages; }
  void warning(QWidget*, const QString&, const QString&) override {}
  void errorBox(QWidget*, const QString&) override { ++messages; }
  std::optional<QString> openFileName(QWidget*, const QString&, const QString&,
                                      const QString&) override {
    return std::nullopt;
  }
  std::optional<SaveChoice> saveFileName(QWidget*, const QString&, const QStringList&,
                                         const QString&) override {
    return saveAnswer;
  }
  // Prints into printToPdf when one is given.
  bool printDialog(QWidget*, QPrinter* printer) override {
    if (printToPdf.isEmpty()) return false;
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(printToPdf);
    return true;
  }
  std::optional<QString> askDeviceName(QWidget*, const DeviceQuestion&) override {
    return deviceAnswer;
  }
  std::optional<QString> askNewDeviceName(QWidget*, const QString&, const QString&,
                                          const QStringList&) override {
    return std::nullopt;
  }
  bool confirm(QWidget*, const QString&) override { return false; }
  void beep() override {}
  std::optional<NoteAnswer> askNote(QWidget*, const NoteQuestion&) override { return std::nullopt; }
  std::optional<QString> askAuthor(QWidget*, const QString&) override { return std::nullopt; }
  std::optional<SaveChoice> saveAnswer;
  std::optional<QString> deviceAnswer;
  QString printToPdf;
  int messages = 0;
};

// The longest time the event loop went without turning while it ran: a
// timer of 10 ms notes the largest gap between its ticks.
class StallMeter {
 public:
  StallMeter() {
    QObject::connect(&timer_, &QTimer::timeout,
                     [this] { longest_ = std::max(longest_, clock_.restart()); });
    timer_.start(10);
    clock_.start();
  }
  [[nodiscard]] double longestMs() {
    longest_ = std::max(longest_, clock_.elapsed());
    return double(longest_);
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

// A field of /proc/self/status ("VmHWM", "VmRSS") in MiB.
double StatusMiB(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) / 1024;
  }
  return 0;
}

// The peak resident memory from now on: the kernel forgets the one before.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Window {
  veks::TempDir dir;
  std::string path = dir.file("bench.dat");
  veks::ViewState state;
  SilentServices services;
  std::unique_ptr<TForm_main> form;

  Window() {
    veks::ArchiveBuilder().fillNumbered().setWriteOffset(800).writeTo(path);
    state.ArchiveName = path;
    form = std::make_unique<TForm_main>(state, services);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qFatal("window not shown");
    QApplication::processEvents();
  }
  QPushButton* button(const char* name) {
    return form->findChild<QPushButton*>(QString::fromLatin1(name));
  }
};

// Click, the composition, and the repaint that shows the filled box.
void BM_WindowWholeReport(benchmark::State& state) {
  Window window;
  auto* box = window.form->findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
  for (auto _ : state) {
    window.button("But3")->click();
    window.form->repaint();
    if (box->blockCount() != 1058) state.SkipWithError("report incomplete");
  }
  if (window.services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_WindowWholeReport)->Unit(benchmark::kMillisecond);

// One step back: the load, the table model reset, and the repaint.
void BM_WindowBrowsingClick(benchmark::State& state) {
  Window window;
  window.button("Button8")->click();
  for (auto _ : state) {
    window.button("Button6")->click();
    window.form->repaint();
  }
  if (window.services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_WindowBrowsingClick)->Unit(benchmark::kMillisecond);

// Saving the whole-archive report (1,058 lines) as PDF through the menu item:
// the pages laid out, written and the file put in place.
void BM_WindowSaveReportPdf(benchmark::State& state) {
  Window window;
  window.button("But3")->click();
  const QString pdf = QString::fromStdString(window.dir.file("report.pdf"));
  window.services.saveAnswer = SaveChoice{pdf, kReportPdfFilter};
  auto* save = window.form->findChild<QAction*>(QStringLiteral("ASaveReport"));
  for (auto _ : state) save->trigger();
  if (window.services.messages != 0) state.SkipWithError("a message was shown");
  if (QFileInfo(pdf).size() == 0) state.SkipWithError("no PDF written");
}
BENCHMARK(BM_WindowSaveReportPdf)->Unit(benchmark::kMillisecond);

// A journal of one device with a million events and 10,000 notes, a hundred
// of them operator entries, made the journal window's file; the days of ten
// events spread over its history.
struct MillionJournal {
  veks::TempDir dir;
  veks::JournalFixture fixture{dir.file("million.sqlite"), dir.file("copy.dat"), 1'000'000};
  std::vector<QDate> days;

  MillionJournal() {
    const auto& noted = fixture.device.events();
    for (std::size_t i = 0; i < 10'000; ++i) {
      const veks::EventRecord& event = noted[(i * 99'991) % noted.size()];
      veks::NoteTarget target{"bench", event, std::nullopt, std::nullopt};
      // One in a hundred is an operator entry at its event's moment.
      const auto stamp = veks::EventTimestamp(event);
      if (i % 100 == 99 && stamp) target = {"bench", std::nullopt, std::nullopt, *stamp};
      if (!fixture.open->addNote(target, "Комментарий", "x", {"b", 0}).ok()) {
        qFatal("note not added");
      }
    }
    fixture.open.reset();
    SetJournalFilePath(QString::fromStdString(fixture.journal));
    const auto& events = fixture.device.events();
    for (std::size_t i = 1; days.size() < 10; ++i) {
      const auto stamp = veks::EventTimestamp(events[i * events.size() / 12]);
      if (stamp)
        days.push_back(
            QDate::fromString(QString::fromStdString(stamp->substr(0, 10)), Qt::ISODate));
    }
  }
};

MillionJournal& Million() {
  static MillionJournal journal;
  return journal;
}

// The million-event journal as the program's journal (a benchmark before
// may have chosen another).
void UseMillionJournal() { SetJournalFilePath(QString::fromStdString(Million().fixture.journal)); }

// Shows the window and paints it whole, as the screen would.
bool ShowPainted(QWidget* window) {
  window->show();
  QApplication::processEvents();
  if (!window->windowHandle()->isExposed()) return false;
  window->repaint();
  return true;
}

struct JournalScreen {
  SilentServices services;
  std::unique_ptr<JournalWindow> window;

  JournalScreen() {
    Million();
    window = std::make_unique<JournalWindow>(services);
    if (!ShowPainted(window.get())) qFatal("journal window not shown");
  }
  template <typename T>
  T* find(const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
  }
  [[nodiscard]] int rows() const { return window->historyModel()->rowCount(); }
};

// From the command to the window's first painted page of a million events:
// opening the journal, the devices, the view and the table's first rows.
void BM_JournalWindowOpen(benchmark::State& state) {
  Million();
  SilentServices services;
  for (auto _ : state) {
    auto window = std::make_unique<JournalWindow>(services);
    if (!ShowPainted(window.get()) || window->historyModel()->rowCount() < 1'000'000) {
      state.SkipWithError("the window shows no million events");
      break;
    }
    state.PauseTiming();
    window.reset();
    QApplication::processEvents();
    state.ResumeTiming();
  }
  if (services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_JournalWindowOpen)->Unit(benchmark::kMillisecond);

// The input filter set to another input, to the repainted first page.
void BM_JournalInputFilter(benchmark::State& state) {
  JournalScreen screen;
  auto* input = screen.find<QSpinBox>("InputBox");
  int next = 1;
  for (auto _ : state) {
    next = next % 24 + 1;
    input->setValue(next);
    screen.window->repaint();
    if (screen.rows() == 0) {
      state.SkipWithError("no events of the input");
      break;
    }
  }
  if (screen.services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_JournalInputFilter)->Unit(benchmark::kMillisecond);

// A two-day range narrowed to one day (a change of the "по" date), to the
// repainted first page.
void BM_JournalOneDayRange(benchmark::State& state) {
  JournalScreen screen;
  auto* from = screen.find<QDateEdit>("FromDate");
  auto* to = screen.find<QDateEdit>("ToDate");
  screen.find<QCheckBox>("FromCheck")->setChecked(true);
  screen.find<QCheckBox>("ToCheck")->setChecked(true);
  std::size_t at = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const QDate day = Million().days[at++ % Million().days.size()];
    from->setDate(day);
    to->setDate(day.addDays(1));
    state.ResumeTiming();
    to->setDate(day);
    screen.window->repaint();
    if (screen.rows() == 0) {
      state.SkipWithError("no events that day");
      break;
    }
  }
  if (screen.services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_JournalOneDayRange)->Unit(benchmark::kMillisecond);

// "только с примечаниями" checked, to the repainted first page of the noted
// events and entries.
void BM_JournalNotedOnly(benchmark::State& state) {
  JournalScreen screen;
  auto* noted = screen.find<QCheckBox>("NotesOnlyCheck");
  for (auto _ : state) {
    state.PauseTiming();
    noted->setChecked(false);
    screen.window->repaint();
    state.ResumeTiming();
    noted->setChecked(true);
    screen.window->repaint();
    if (screen.rows() < 9'000) {
      state.SkipWithError("the noted events are not shown");
      break;
    }
  }
  if (screen.services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_JournalNotedOnly)->Unit(benchmark::kMillisecond);

// Ctrl+End on a fresh view: the oldest page read and painted.
void BM_JournalJumpToOldest(benchmark::State& state) {
  JournalScreen screen;
  auto* oldest = screen.find<QAction>("AOldest");
  for (auto _ : state) {
    state.PauseTiming();
    screen.window->reload();
    screen.window->repaint();
    state.ResumeTiming();
    oldest->trigger();
    screen.window->repaint();
  }
  if (screen.services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_JournalJumpToOldest)->Unit(benchmark::kMillisecond);

// The overview of the million events, as the window's loader reads it off
// the GUI thread; read once.
const veks::JournalOverview& MillionOverview() {
  static const veks::JournalOverview overview = [] {
    auto opened = veks::Journal::Open(Million().fixture.journal, veks::Journal::Access::kRead);
    if (!opened.ok()) qFatal("journal not opened");
    auto read = opened.value()->overview({std::string("bench"), {}, {}});
    if (!read.ok()) qFatal("overview not read");
    return std::move(read.value());
  }();
  return overview;
}

// What the GUI thread does with an overview read (its timeline's data made
// on the loader's thread): the timeline and the tables filled, to the
// painted overview.
void BM_JournalOverviewShown(benchmark::State& state) {
  const veks::JournalOverview& overview = MillionOverview();
  TimelineChart timeline;
  StatsTables tables;
  DueTable due;
  timeline.resize(900, 500);
  if (!ShowPainted(&timeline)) state.SkipWithError("timeline not shown");
  const TimelineData prepared = PrepareTimeline(overview.hours, overview.gaps, overview.imports);
  for (auto _ : state) {
    timeline.setData(prepared);
    tables.setStats(overview.stats);
    due.setDue(overview.due, QDateTime::currentDateTime());
    QApplication::processEvents();
    timeline.repaint();
  }
  state.counters["hourly_counts"] = double(overview.hours.size());
}
BENCHMARK(BM_JournalOverviewShown)->Unit(benchmark::kMillisecond);

// A zoom of the timeline of a million events (a wheel step or a key), to
// the chart painted anew: halving the range from the whole history (years,
// by month) down to hours, then the whole history again.
void BM_JournalTimelineZoom(benchmark::State& state) {
  const veks::JournalOverview& overview = MillionOverview();
  TimelineChart timeline;
  timeline.resize(900, 500);
  timeline.setData(PrepareTimeline(overview.hours, overview.gaps, overview.imports));
  if (!ShowPainted(&timeline)) state.SkipWithError("timeline not shown");
  for (auto _ : state) {
    if (timeline.shownTo() - timeline.shownFrom() <= TimelineChart::kMinSpan) {
      timeline.showAll();
    } else {
      timeline.zoom(0.5, 0.4);
    }
    QApplication::processEvents();
    timeline.repaint();
  }
}
BENCHMARK(BM_JournalTimelineZoom)->Unit(benchmark::kMillisecond);

// The journal's write-ahead log while the journal window stays open and
// `veks12-journal import` adds 500 copies (about 100 events each) to the
// device it shows, the table paging now and then: the log stays bounded
// when the window keeps no read transaction between pages, so checkpoints
// pass. Counters: the largest log seen and the journal's size at the end.
void BM_JournalWindowLogDuringImports(benchmark::State& state) {
  veks::TempDir dir;
  veks::JournalFixture fixture(dir.file("j.sqlite"), dir.file("copy.dat"), 20'000);
  fixture.open.reset();
  std::vector<std::string> args = {"--journal", fixture.journal, "import", "--device", "bench"};
  for (int i = 0; i < 500; ++i) {
    fixture.device.run(100);
    args.push_back(dir.file("copy" + std::to_string(i) + ".dat"));
    fixture.device.archive().writeTo(args.back());
  }
  SetJournalFilePath(QString::fromStdString(fixture.journal));
  SilentServices services;
  JournalWindow window(services);
  if (!ShowPainted(&window)) state.SkipWithError("journal window not shown");
  auto* table = window.findChild<QTableView*>(QStringLiteral("EventView"));
  const std::string log = fixture.journal + "-wal";
  std::mt19937 random(1);
  double peak = 0;
  for (auto _ : state) {
    const pid_t child = veks::SpawnQuietly(VEKS_JOURNAL_TOOL, args);
    if (child == -1) {
      state.SkipWithError("the journal tool did not start");
      break;
    }
    int status = -1;
    while (waitpid(child, &status, WNOHANG) == 0) {
      const int rows = window.historyModel()->rowCount();
      if (rows > 0) table->scrollTo(window.historyModel()->index(int(random() % rows), 0));
      window.repaint();
      QApplication::processEvents();
      std::error_code error;
      peak = std::max(peak, double(std::filesystem::file_size(log, error)) / (1 << 20));
      QThread::msleep(20);
    }
    if (status != 0) state.SkipWithError("import failed");
  }
  state.counters["log_peak_MiB"] = peak;
  state.counters["journal_MiB"] = double(std::filesystem::file_size(fixture.journal)) / (1 << 20);
  if (services.messages != 0) state.SkipWithError("a message was shown");
}
BENCHMARK(BM_JournalWindowLogDuringImports)->Unit(benchmark::kMillisecond)->Iterations(1);

// "Отчет" on a million events: the longest stall of the event loop while the
// report is made and its beginning shown, the peak memory meanwhile, and
// the memory held once the window is closed.
void BM_JournalReportStall(benchmark::State& state) {
  UseMillionJournal();
  double stall = 0, peak = 0, after = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto screen = std::make_unique<JournalScreen>();
    auto* report = screen->find<QAction>("AReport");
    auto* box = screen->find<QPlainTextEdit>("ReportBox");
    ResetPeakMemory();
    state.ResumeTiming();
    {
      StallMeter meter;
      report->trigger();
      stall = std::max(stall, meter.longestMs());
    }
    state.PauseTiming();
    peak = std::max(peak, StatusMiB("VmHWM"));
    if (box->blockCount() < 1000) state.SkipWithError("no report shown");
    if (screen->services.messages != 0) state.SkipWithError("a message was shown");
    screen.reset();
    QApplication::processEvents();
    after = StatusMiB("VmRSS");
    state.ResumeTiming();
  }
  state.counters["stall_ms"] = stall;
  state.counters["peak_rss_MiB"] = peak;
  state.counters["rss_after_close_MiB"] = after;
}
BENCHMARK(BM_JournalReportStall)->Unit(benchmark::kMillisecond)->Iterations(1);

// Printing the report of a million events to a PDF file from the journal
// window (the report made first): the longest stall, the peak memory.
void BM_JournalPrintPdfStall(benchmark::State& state) {
  UseMillionJournal();
  double stall = 0, peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    JournalScreen screen;
    screen.services.printToPdf = QString::fromStdString(Million().dir.file("million.pdf"));
    ResetPeakMemory();
    state.ResumeTiming();
    {
      StallMeter meter;
      screen.find<QAction>("APrintReport")->trigger();
      stall = std::max(stall, meter.longestMs());
    }
    state.PauseTiming();
    peak = std::max(peak, StatusMiB("VmHWM"));
    if (QFileInfo(screen.services.printToPdf).size() == 0) state.SkipWithError("no PDF");
    if (screen.services.messages != 0) state.SkipWithError("a message was shown");
    state.counters["pdf_MiB"] = double(QFileInfo(screen.services.printToPdf).size()) / (1 << 20);
    state.ResumeTiming();
  }
  state.counters["stall_ms"] = stall;
  state.counters["peak_rss_MiB"] = peak;
}
BENCHMARK(BM_JournalPrintPdfStall)->Unit(benchmark::kMillisecond)->Iterations(1);

// Ctrl+J into the million-event journal while another process holds its
// write lock for a second: the window waits without stalling, then imports.
void BM_JournalImportWhileLocked(benchmark::State& state) {
  UseMillionJournal();
  Window window;
  const std::string copy = window.dir.file("next.dat");
  Million().fixture.device.run(500);
  Million().fixture.device.archive().writeTo(copy);
  window.state.ArchiveName = copy;
  window.services.deviceAnswer = QStringLiteral("bench");
  auto* add = window.form->findChild<QAction*>(QStringLiteral("AJournalAdd"));
  double stall = 0, peak = 0;
  for (auto _ : state) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) {
      state.SkipWithError("no pipe");
      break;
    }
    const pid_t holder = fork();
    if (holder == 0) {
      // The other process: takes the write lock, says so, and keeps it until
      // told to let go.
      close(ready[0]);
      close(release[1]);
      sqlite3* db = nullptr;
      sqlite3_open(Million().fixture.journal.c_str(), &db);
      const bool locked = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == 0;
      char byte = locked ? 'L' : 'F';
      if (write(ready[1], &byte, 1) != 1 || !locked) _exit(1);
      while (read(release[0], &byte, 1) > 0) {
      }
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char byte = 0;
    if (holder == -1 || read(ready[0], &byte, 1) != 1 || byte != 'L') {
      state.SkipWithError("the lock was not taken");
      break;
    }
    QTimer::singleShot(1000, [&] { close(release[1]); });
    ResetPeakMemory();
    {
      StallMeter meter;
      add->trigger();
      stall = std::max(stall, meter.longestMs());
    }
    peak = std::max(peak, StatusMiB("VmHWM"));
    int status = -1;
    waitpid(holder, &status, 0);
    close(ready[0]);
  }
  state.counters["stall_ms"] = stall;
  state.counters["peak_rss_MiB"] = peak;
  if (window.services.messages != 1) state.SkipWithError("the import was not told");
}
BENCHMARK(BM_JournalImportWhileLocked)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  // The settings and journal of the person running the benchmark stay untouched.
  const veks::TempDir home;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.file("config")));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home.file("data")));
  QStandardPaths::setTestModeEnabled(true);
  // Test mode alone would put every test run's settings in one shared
  // ~/.qttest folder, where runs at the same time overwrite each other's.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(home.file("config")));
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
