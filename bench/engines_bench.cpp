// The journal's speed on both engines side by side: the file (argument
// server:0) and a schema of its own on the PostgreSQL server that
// VEKS_TEST_PG names (server:1; skipped with a message when it is unset).
// Run, beside a throw-away server:
//   scripts/with-test-pg.sh build/release/bench/engines_bench --benchmark_repetitions=3
//   --benchmark_report_aggregates_only=true
// That server runs without fsync; VEKS_TEST_PG_FSYNC=on gives it its usual
// durability (a journal file syncs its write-ahead log at checkpoints only).
// The million-event journals are built once per engine and shared (a minute
// or two each); the schemas made on the server are dropped at the end.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_tools.h"
#include "bench/journal_fixture.h"
#include "journal/journal_report.h"
#include "journal/pg_connection.h"
#include "tools/spawn_quietly.h"

namespace veks {
namespace {

const char* TestServer() {
  const char* uri = std::getenv("VEKS_TEST_PG");
  return uri != nullptr && *uri != '\0' ? uri : nullptr;
}

// Journal locations on the server, each a schema of its own, dropped when
// the process ends unless dropped before.
class ServerSchemas {
 public:
  ~ServerSchemas() {
    for (const auto& schema : made_) Drop(schema);
  }

  // A new schema's name.
  std::string make(const std::string& tag) {
    made_.push_back("bench_" + std::to_string(::getpid()) + "_" + tag + "_" +
                    std::to_string(++count_));
    return made_.back();
  }

  void drop(const std::string& schema) {
    Drop(schema);
    std::erase(made_, schema);
  }

  // The journal location of `schema`.
  static std::string Location(const std::string& schema) {
    const std::string uri = TestServer();
    return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" +
           schema;
  }

 private:
  static void Drop(const std::string& schema) {
    try {
      PgConnection server(TestServer());
      server.exec("DROP SCHEMA IF EXISTS " + server.identifier(schema) + " CASCADE");
    } catch (const std::exception&) {
      // A schema left behind on a throw-away server harms nothing.
    }
  }

  std::vector<std::string> made_;
  int count_ = 0;
};

ServerSchemas& Schemas() {
  static ServerSchemas schemas;
  return schemas;
}

bool OnServer(const benchmark::State& state) { return state.range(0) != 0; }

// False, with the benchmark skipped, when the run's engine is the server
// and no server was given.
bool EngineHere(benchmark::State& state) {
  if (OnServer(state) && TestServer() == nullptr) {
    state.SkipWithError("VEKS_TEST_PG is not set: no server to measure");
    return false;
  }
  return true;
}

// A journal of one device holding 1,000,000 events in one segment, on the
// engine asked for; closed and opened again once built, as a journal is
// between two commands.
JournalFixture& MillionEvents(bool server) {
  // Made first, so that its schemas are dropped after the journals close.
  ServerSchemas& schemas = Schemas();
  static TempDir dir;
  static std::unique_ptr<JournalFixture> made[2];
  std::unique_ptr<JournalFixture>& fixture = made[server ? 1 : 0];
  if (!fixture) {
    const std::string journal =
        server ? ServerSchemas::Location(schemas.make("million")) : dir.file("million.sqlite");
    fixture = std::make_unique<JournalFixture>(journal, dir.file("copy.dat"), 1'000'000);
    fixture->open.reset();
    fixture->open = std::move(Journal::Open(journal, Journal::Access::kImport).value());
  }
  return *fixture;
}

// `veks12-journal import` of 1,000 overlapping copies of one device into a
// new journal.
void BM_EnginesImportThousandCopies(benchmark::State& state) {
  if (!EngineHere(state)) return;
  TempDir dir;
  DeviceSimulator device(2u, JournalFixture::BusyDevice());
  std::vector<std::string> copies;
  for (int i = 0; i < 1000; ++i) {
    device.run(100);
    copies.push_back(dir.file("copy" + std::to_string(i) + ".dat"));
    device.archive().writeTo(copies.back());
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(dir.file("j.sqlite"));
    const std::string schema = OnServer(state) ? Schemas().make("import") : "";
    std::vector<std::string> args = {
        "--journal", OnServer(state) ? ServerSchemas::Location(schema) : dir.file("j.sqlite"),
        "import", "--device", "d"};
    args.insert(args.end(), copies.begin(), copies.end());
    state.ResumeTiming();
    if (!RunTool(args)) state.SkipWithError("import failed");
    state.PauseTiming();
    if (OnServer(state)) Schemas().drop(schema);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_EnginesImportThousandCopies)
    ->ArgName("server")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// `veks12-journal export` of 1,000,000 events as CSV, to /dev/null.
void BM_EnginesExportMillionCsv(benchmark::State& state) {
  if (!EngineHere(state)) return;
  const std::string journal = MillionEvents(OnServer(state)).journal;
  for (auto _ : state) {
    if (!RunTool({"--journal", journal, "export"})) state.SkipWithError("export failed");
  }
}
BENCHMARK(BM_EnginesExportMillionCsv)
    ->ArgName("server")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// `veks12-journal report --from D --to D` of one day out of 1,000,000
// events, as a process of its own (connecting included).
void BM_EnginesReportOneDayCommand(benchmark::State& state) {
  if (!EngineHere(state)) return;
  const std::string journal = MillionEvents(OnServer(state)).journal;
  for (auto _ : state) {
    if (!RunTool({"--journal", journal, "report", "--from", "15.06.14", "--to", "15.06.14"})) {
      state.SkipWithError("report failed");
    }
  }
}
BENCHMARK(BM_EnginesReportOneDayCommand)
    ->ArgName("server")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// The report of one day out of 1,000,000 events, in the journal's own
// process, on a journal already open.
void BM_EnginesReportOneDay(benchmark::State& state) {
  if (!EngineHere(state)) return;
  auto opened = Journal::Open(MillionEvents(OnServer(state)).journal, Journal::Access::kRead);
  if (!opened.ok()) {
    state.SkipWithError(opened.error().message.c_str());
    return;
  }
  NullSink sink;
  EventFilter filter;
  filter.fromDate = filter.toDate = "2014-06-15";
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
BENCHMARK(BM_EnginesReportOneDay)->ArgName("server")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veks

BENCHMARK_MAIN();
