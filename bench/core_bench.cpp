// Speed of the core and the command-line tool. Run:
//   build/release/bench/core_bench --benchmark_repetitions=10
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "archive/block_loader.h"
#include "report/report_text.h"
#include "tools/archive_builder.h"

extern char** environ;

namespace veks {
namespace {

class NullSink : public ReportSink {
 public:
  void clear() override { lines = 0; }
  void appendLine(const std::string& text) override {
    benchmark::DoNotOptimize(text.data());
    ++lines;
  }
  int lines = 0;
};

struct Archive {
  TempDir dir;
  std::string path = dir.file("bench.dat");
};

// An archive written to a file and a fresh view state with it chosen.
struct Browsing {
  explicit Browsing(const ArchiveBuilder& builder) {
    builder.writeTo(archive.path);
    view.ArchiveName = archive.path;
  }
  LoadOutcome run() { return RunBlockLoader(view, table, host); }

  Archive archive;
  ViewState view;
  EventTable table;
  HeadlessHost host;
};

void BM_LoaderRunPlainView(benchmark::State& state) {
  Browsing browsing(ArchiveBuilder().fillNumbered().setWriteOffset(800));
  for (auto _ : state) {
    browsing.view.BlockDepth = 1;
    benchmark::DoNotOptimize(browsing.run());
  }
}
BENCHMARK(BM_LoaderRunPlainView)->Unit(benchmark::kMicrosecond);

void BM_InputFilterAllMatch(benchmark::State& state) {
  Browsing browsing(ArchiveBuilder().fillNumbered(1, 9).setWriteOffset(800));
  browsing.view.InputNumber = 9;
  for (auto _ : state) {
    browsing.view.InputFilter = 1;
    benchmark::DoNotOptimize(browsing.run());
  }
}
BENCHMARK(BM_InputFilterAllMatch)->Unit(benchmark::kMicrosecond);

void BM_DateSearchWholeRing(benchmark::State& state) {
  // Only the oldest record (slot 100) has the date: the search passes every other.
  Browsing browsing(ArchiveBuilder()
                        .fillNumbered()
                        .setRecord(100, MakeRecord(7, 0, 1, 2, 3, 9, 9, 99))
                        .setWriteOffset(800));
  browsing.view.SearchDate = "09.09.99";
  for (auto _ : state) {
    browsing.view.DateSearch = 1;
    if (browsing.run() != LoadOutcome::kFilled) state.SkipWithError("not found");
  }
}
BENCHMARK(BM_DateSearchWholeRing)->Unit(benchmark::kMicrosecond);

void BM_WholeReportHeadless(benchmark::State& state) {
  Archive archive;
  ArchiveBuilder().fillNumbered().setWriteOffset(800).writeTo(archive.path);
  EventTable table;
  HeadlessHost host;
  NullSink sink;
  for (auto _ : state) {
    ViewState view;
    view.ArchiveName = archive.path;
    if (ComposeWholeArchiveReport(view, table, host, sink) != WholeReportOutcome::kComplete) {
      state.SkipWithError("report failed");
    }
  }
}
BENCHMARK(BM_WholeReportHeadless)->Unit(benchmark::kMicrosecond);

// The whole report printed by the command-line tool, as a process of its own.
void BM_CliWholeReportProcess(benchmark::State& state) {
  Archive archive;
  ArchiveBuilder().fillNumbered().setWriteOffset(800).writeTo(archive.path);
  std::string tool = VEKS_REPORT_TOOL;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    char* argv[] = {tool.data(), archive.path.data(), nullptr};
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ) != 0 ||
        waitpid(pid, &status, 0) != pid || status != 0) {
      state.SkipWithError("veks12-report failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK(BM_CliWholeReportProcess)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veks

BENCHMARK_MAIN();
