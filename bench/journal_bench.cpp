// Speed of the event journal. Run:
//   build/release/bench/journal_bench --benchmark_repetitions=10
//   --benchmark_report_aggregates_only=true
// The million-event journal is built once (about a minute) and shared.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "bench/journal_fixture.h"
#include "journal/journal_report.h"

extern char** environ;

namespace veks {
namespace {

class NullSink : public ReportSink {
 public:
  void clear() override {}
  void appendLine(const std::string& text) override { benchmark::DoNotOptimize(text.data()); }
};

// Runs the journal tool with its output thrown away; the child's peak memory
// in MiB, or a negative value when it failed.
double RunTool(std::vector<std::string> args) {
  args.insert(args.begin(), VEKS_JOURNAL_TOOL);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int status = -1;
  rusage usage{};
  const bool ran = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
                   wait4(pid, &status, 0, &usage) == pid;
  posix_spawn_file_actions_destroy(&actions);
  return ran && status == 0 ? static_cast<double>(usage.ru_maxrss) / 1024.0 : -1.0;
}

JournalFixture& MillionEvents() {
  static TempDir dir;
  static JournalFixture fixture(dir.file("million.sqlite"), dir.file("copy.dat"), 1'000'000);
  return fixture;
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
    if (RunTool(args) < 0) state.SkipWithError("import failed");
  }
}
BENCHMARK(BM_ImportThousandCopiesCommand)->Unit(benchmark::kMillisecond)->Iterations(1);

// `veks12-journal export` of 1,000,000 events as CSV, to /dev/null.
void BM_ExportMillionCsvCommand(benchmark::State& state) {
  const std::string journal = MillionEvents().journal;
  double peak = 0;
  for (auto _ : state) peak = RunTool({"--journal", journal, "export"});
  if (peak < 0) state.SkipWithError("export failed");
  state.counters["peak_MiB"] = peak;
}
BENCHMARK(BM_ExportMillionCsvCommand)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same query for one day: the peak memory of a small export, to compare.
void BM_ExportOneDayCommand(benchmark::State& state) {
  const std::string journal = MillionEvents().journal;
  double peak = 0;
  for (auto _ : state) {
    peak = RunTool({"--journal", journal, "export", "--from", "15.06.14", "--to", "15.06.14"});
  }
  if (peak < 0) state.SkipWithError("export failed");
  state.counters["peak_MiB"] = peak;
}
BENCHMARK(BM_ExportOneDayCommand)->Unit(benchmark::kMillisecond);

// The report of one day out of 1,000,000 events, in the journal's own process.
void BM_ReportOneDay(benchmark::State& state) {
  auto opened = Journal::Open(MillionEvents().journal, Journal::Access::kRead);
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
BENCHMARK(BM_ReportOneDay)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veks

BENCHMARK_MAIN();
