// Speed of the event journal. Run:
//   build/release/bench/journal_bench --benchmark_repetitions=10
//   --benchmark_report_aggregates_only=true
// The million-event journals are built once (about a minute, and two for the
// one in 1,001 segments) and shared.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <fstream>

#include "bench/bench_tools.h"
#include "bench/journal_fixture.h"
#include "journal/journal_report.h"
#include "report/event_export.h"
#include "tools/spawn_quietly.h"

namespace veks {
namespace {

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS").
double StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1));
  }
  return 0;
}

// Forgets the process's peak memory, so that the next VmHWM is the peak from now on.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

JournalFixture& MillionEvents() {
  static TempDir dir;
  static JournalFixture& fixture = []() -> JournalFixture& {
    static JournalFixture made(dir.file("million.sqlite"), dir.file("copy.dat"), 1'000'000);
    // Closed and opened again, as a journal is between two commands: closing
    // checkpoints its write-ahead log, which the importing connection left
    // holding the whole history.
    made.open.reset();
    made.open = std::move(Journal::Open(made.journal, Journal::Access::kImport).value());
    return made;
  }();
  return fixture;
}

// The same million events in 1,001 segments (about two minutes to build),
// closed and opened again as the one above.
JournalFixture& MillionEventsInSegments() {
  static TempDir dir;
  static JournalFixture& fixture = []() -> JournalFixture& {
    static JournalFixture made(dir.file("segments.sqlite"), dir.file("copy.dat"), 1'000'000, 900,
                               1001);
    made.open.reset();
    made.open = std::move(Journal::Open(made.journal, Journal::Access::kImport).value());
    return made;
  }();
  return fixture;
}

// The million-event journal of the benchmark's argument: 0 one segment, 1 1,001 segments.
const std::string& MillionJournal(std::int64_t segmented) {
  return segmented != 0 ? MillionEventsInSegments().journal : MillionEvents().journal;
}

// One copy that brings 50 new events to a device that holds 100,000.
void BM_ImportFiftyIntoHundredThousand(benchmark::State& state) {
  TempDir dir;
  JournalFixture fixture(dir.file("j.sqlite"), dir.file("copy.dat"), 100'000);
  for (auto _ : state) {
    state.PauseTiming();
    fixture.device.run(50);
    fixture.device.archive().writeTo(fixture.archive);
    state.ResumeTiming();
    auto result = fixture.open->importArchive(fixture.archive, std::string("bench"));
    if (!result.ok() || result.value().newEvents < 40) state.SkipWithError("import failed");
  }
}
BENCHMARK(BM_ImportFiftyIntoHundredThousand)->Unit(benchmark::kMillisecond);

// `veks12-journal import` of 1,000 overlapping copies into a new journal.
void BM_ImportThousandCopiesCommand(benchmark::State& state) {
  TempDir dir;
  DeviceSimulator device(2u, JournalFixture::BusyDevice());
  std::vector<std::string> args = {"--journal", dir.file("j.sqlite"), "import", "--device", "d"};
  for (int i = 0; i < 1000; ++i) {
    device.run(100);
    args.push_back(dir.file("copy" + std::to_string(i) + ".dat"));
    device.archive().writeTo(args.back());
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(dir.file("j.sqlite"));
    state.ResumeTiming();
    if (!RunTool(args)) state.SkipWithError("import failed");
  }
}
BENCHMARK(BM_ImportThousandCopiesCommand)->Unit(benchmark::kMillisecond)->Iterations(1);

// `veks12-journal merge` of a journal of 100,000 events, one segment a
// hundred rings long, into a new journal (0) and into a copy of itself, which
// gains nothing (1).
void BM_MergeHundredThousandCommand(benchmark::State& state) {
  TempDir dir;
  JournalFixture fixture(dir.file("source.sqlite"), dir.file("copy.dat"), 100'000);
  fixture.open.reset();
  const std::string target = dir.file("target.sqlite");
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(target);
    if (state.range(0) == 1) std::filesystem::copy_file(fixture.journal, target);
    state.ResumeTiming();
    if (!RunTool({"--journal", target, "merge", fixture.journal})) {
      state.SkipWithError("merge failed");
    }
  }
}
BENCHMARK(BM_MergeHundredThousandCommand)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// `veks12-journal export` of 1,000,000 events as CSV, to /dev/null; the
// argument: in one segment (0) or in 1,001 (1).
void BM_ExportMillionCsvCommand(benchmark::State& state) {
  const std::string journal = MillionJournal(state.range(0));
  for (auto _ : state) {
    if (!RunTool({"--journal", journal, "export"})) state.SkipWithError("export failed");
  }
}
BENCHMARK(BM_ExportMillionCsvCommand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

// `veks12-journal report --from D --to D` of one day out of 1,000,000 events,
// as a process of its own; the argument: in one segment (0) or in 1,001 (1).
void BM_ReportOneDayCommand(benchmark::State& state) {
  const std::string journal = MillionJournal(state.range(0));
  for (auto _ : state) {
    if (!RunTool({"--journal", journal, "report", "--from", "15.06.14", "--to", "15.06.14"})) {
      state.SkipWithError("report failed");
    }
  }
}
BENCHMARK(BM_ReportOneDayCommand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Every row of the journal's `history` view, as the sqlite3 shell reads it
// (each column's text), of the million events in 1,001 segments.
void BM_HistoryViewMillionInSegments(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(MillionJournal(1).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_stmt* all = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM history", -1, &all, nullptr);
    rows = 0;
    while (sqlite3_step(all) == SQLITE_ROW) {
      for (int column = 0; column < sqlite3_column_count(all); ++column) {
        benchmark::DoNotOptimize(sqlite3_column_text(all, column));
      }
      ++rows;
    }
    sqlite3_finalize(all);
  }
  sqlite3_close(db);
  if (rows < 1'000'000) state.SkipWithError("the view lacks events");
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_HistoryViewMillionInSegments)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same export in this process, to show that its memory stays flat: the
// growth of the peak over the memory before it, for the whole history and for
// one day of it. (A spawned child cannot tell: it inherits the spawner's peak.)
void BM_ExportMemory(benchmark::State& state) {
  auto opened = Journal::Open(MillionEvents().journal, Journal::Access::kRead);
  std::ofstream null("/dev/null");
  EventFilter filter;
  if (state.range(0) == 1) filter.fromDate = filter.toDate = "2014-06-15";
  double growth = 0;
  for (auto _ : state) {
    ResetPeakMemory();
    const double before = StatusKiB("VmRSS");
    EventExporter exporter(null, ExportFormat::kCsv, true);
    auto result =
        opened.value()->forEachEvent(filter, EventOrder::kOldestFirst, [&](const JournalEvent& e) {
          exporter.write(e.raw, e.device, e.segment);
          return true;
        });
    if (!result.ok()) state.SkipWithError("export failed");
    growth = (StatusKiB("VmHWM") - before) / 1024.0;
  }
  state.counters["peak_growth_MiB"] = growth;
}
BENCHMARK(BM_ExportMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

// The report of one day out of 1,000,000 events, in the journal's own
// process; the argument: in one segment (0) or in 1,001 (1).
void BM_ReportOneDay(benchmark::State& state) {
  auto opened = Journal::Open(MillionJournal(state.range(0)), Journal::Access::kRead);
  NullSink sink;
  EventFilter filter;
  filter.fromDate = "2014-06-15";
  filter.toDate = "2014-06-15";
  std::int64_t events = 0;
  for (auto _ : state) {
    JournalReportWriter report(sink, {"15.06.14", "15.06.14", std::nullopt, std::nullopt});
    auto result =
        opened.value()->forEachEvent(filter, EventOrder::kNewestFirst, [&](const JournalEvent& e) {
          report.write(e);
          return true;
        });
    if (!result.ok()) state.SkipWithError("no events");
    events = result.ok() ? result.value() : 0;
  }
  state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_ReportOneDay)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Runs the journal tool with its output thrown away; its processor time in
// milliseconds, or -1 when it failed. On a machine shared with other work
// the processor time tells what the wall time cannot.
double RunToolCpuMs(std::vector<std::string> args) {
  const pid_t pid = SpawnQuietly(VEKS_JOURNAL_TOOL, std::move(args));
  int status = -1;
  rusage usage{};
  if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid || status != 0) return -1;
  const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// `veks12-journal stats` of 1,000,000 events (CSV), and of one day of them,
// each as a process of its own.
void BM_StatsCommand(benchmark::State& state) {
  std::vector<std::string> args = {"--journal", MillionEvents().journal, "stats"};
  if (state.range(0) == 1) args.insert(args.end(), {"--from", "15.06.14", "--to", "15.06.14"});
  double cpu = 0;
  for (auto _ : state) {
    cpu = RunToolCpuMs(args);
    if (cpu < 0) state.SkipWithError("stats failed");
  }
  state.counters["cpu_ms"] = cpu;
}
BENCHMARK(BM_StatsCommand)->ArgName("one_day")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The statistics of one day out of 1,000,000 events, in the journal's own process.
void BM_StatsOneDay(benchmark::State& state) {
  auto opened = Journal::Open(MillionEvents().journal, Journal::Access::kRead);
  StatsFilter filter;
  filter.fromDate = filter.toDate = "2014-06-15";
  for (auto _ : state) {
    auto rows = opened.value()->stats(filter);
    if (!rows.ok()) state.SkipWithError("no events");
    benchmark::DoNotOptimize(rows);
  }
}
BENCHMARK(BM_StatsOneDay)->Unit(benchmark::kMillisecond);

// A journal of 100 devices, each with a history of about 2,500 events in
// three segments.
const std::string& HundredDevices() {
  static TempDir dir;
  static const std::string journal = [] {
    const std::string path = dir.file("hundred.sqlite");
    auto opened = Journal::Open(path, Journal::Access::kImport);
    for (std::uint32_t d = 0; d < 100; ++d) {
      DeviceSimulator device(100 + d);
      for (const int slots : {900, 900, 2000, 900}) {
        device.run(slots);
        device.archive().writeTo(dir.file("copy.dat"));
        auto result =
            opened.value()->importArchive(dir.file("copy.dat"), "котёл " + std::to_string(d));
        if (!result.ok()) throw std::runtime_error(result.error().message);
      }
    }
    return path;
  }();
  return journal;
}

// `veks12-journal due` of 100 devices, as a process of its own.
void BM_DueHundredDevicesCommand(benchmark::State& state) {
  const std::vector<std::string> args = {"--journal", HundredDevices(), "due"};
  double cpu = 0;
  for (auto _ : state) {
    cpu = RunToolCpuMs(args);
    if (cpu < 0) state.SkipWithError("due failed");
  }
  state.counters["cpu_ms"] = cpu;
}
BENCHMARK(BM_DueHundredDevicesCommand)->Unit(benchmark::kMillisecond);

// The due moments of 100 devices, in the journal's own process.
void BM_DueHundredDevices(benchmark::State& state) {
  auto opened = Journal::Open(HundredDevices(), Journal::Access::kRead);
  for (auto _ : state) {
    auto estimates = opened.value()->due(std::nullopt);
    if (!estimates.ok() || estimates.value().size() != 100) state.SkipWithError("due failed");
    benchmark::DoNotOptimize(estimates);
  }
}
BENCHMARK(BM_DueHundredDevices)->Unit(benchmark::kMillisecond);

// The "TIMESTAMP/RAW" by which `note add --event` names an event.
std::string EventArgument(const EventRecord& event) {
  return EventTimestamp(event).value_or("") + "/" + RawHex(event);
}

// `veks12-journal note add` of a note on one of 1,000,000 events, as a
// process of its own, in a journal that holds more notes at each round.
void BM_NoteAddCommand(benchmark::State& state) {
  JournalFixture& fixture = MillionEvents();
  const auto& events = fixture.device.events();
  std::size_t next = 0;
  double cpu = 0;
  for (auto _ : state) {
    next = (next + 7919) % events.size();
    cpu = RunToolCpuMs({"--journal", fixture.journal, "note", "add", "--device", "bench", "--event",
                        EventArgument(events[next]), "--author", "bench", "проверено"});
    if (cpu < 0) state.SkipWithError("note add failed");
  }
  state.counters["cpu_ms"] = cpu;
}
BENCHMARK(BM_NoteAddCommand)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(20);

// The first page of "only events with notes" of 1,000,000 events that carry
// 10,000 notes: the view's count and its newest 100 rows, as the window
// shows them, and the notes of those rows. In the journal's own process.
void BM_NotedEventsFirstPage(benchmark::State& state) {
  JournalFixture& fixture = MillionEvents();
  static const bool noted = [&] {
    const auto& events = fixture.device.events();
    for (std::size_t i = 0; i < 10'000; ++i) {
      const auto added = fixture.open->addNote(
          {"bench", events[(i * 99'991) % events.size()], {}, {}}, "Комментарий", "x", {"b", 0});
      if (!added.ok()) return false;
    }
    // Closed and opened again, as between the writers and the window.
    fixture.open.reset();
    fixture.open = std::move(Journal::Open(fixture.journal, Journal::Access::kImport).value());
    return true;
  }();
  EventFilter filter;
  filter.device = "bench";
  filter.withNotes = true;
  for (auto _ : state) {
    auto view = fixture.open->view(filter);
    if (!noted || !view.ok()) {
      state.SkipWithError("no view");
      break;
    }
    const auto rows = view.value()->rows(0, 100);
    std::vector<EventPlace> places;
    for (const HistoryRow& row : rows.value()) places.push_back(row.place);
    const auto notes = fixture.open->notesAt(places, false);
    if (!notes.ok() || notes.value().size() < 100) state.SkipWithError("notes missing");
  }
}
BENCHMARK(BM_NotedEventsFirstPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veks

BENCHMARK_MAIN();
