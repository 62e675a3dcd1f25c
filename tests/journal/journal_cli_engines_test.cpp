// veks12-journal says the same of a journal on the server as of a file that
// holds the same history, and never shows a password.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <tuple>

#include "cli/journal_cli.h"
#include "tests/journal/history_expectation.h"
#include "tests/journal/test_engines.h"
#include "tools/archive_builder.h"
#include "tools/device_simulator.h"

namespace veks {
namespace {

struct Said {
  int code;
  std::string out;
  std::string err;
};

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
}

// A run at a fixed moment, by a fixed author, three hours east of UTC.
Said Cli(std::vector<std::string> args) {
  JournalCliEnvironment env;
  env.logname = "ivanov";
  env.now = [] { return std::int64_t{1'700'000'000}; };
  env.localTime = [](std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds + 3 * 3600);
    std::tm tm{};
    gmtime_r(&time, &tm);
    return tm;
  };
  std::ostringstream out, err;
  const int code = RunJournalCli(args, env, out, err);
  return {code, out.str(), err.str()};
}

class JournalCliEnginesTest : public testing::Test {
 protected:
  void SetUp() override {
    if (TestServer() == nullptr) GTEST_SKIP() << "VEKS_TEST_PG is not set: no test server";
    WriteSmallArchive(archive_);
  }

  TempDir dir_;
  std::string archive_ = dir_.file("Котельная.dat");
};

// Each command runs on a file and on the server in turn, building the same
// history step by step; each gives the same exit status and the same bytes,
// where "<journal>" stands for this side's location, "<out>" for a folder of
// its own and "<other>" for the other side's journal.
TEST_F(JournalCliEnginesTest, EveryCommandSaysTheSameOnBothEngines) {
  const std::string later = dir_.file("later.dat"), bridge = dir_.file("bridge.dat"),
                    empty = dir_.file("empty.dat"), twice = dir_.file("twice.dat"),
                    other = dir_.file("Печь.dat"), source = dir_.file("source.sqlite");
  ArchiveBuilder()
      .setRecord(0, MakeRecord(6, 0, 7, 0, 0, 1, 12, 13))
      .setWriteOffset(8)
      .writeTo(later);
  ArchiveBuilder()
      .setRecord(0, MakeRecord(0, 7, 10, 0, 0, 29, 11, 13))
      .setRecord(1, MakeRecord(0xFF, 9, 1, 2, 3, 4, 5, 6))
      .setRecord(2, MakeRecord(6, 0, 7, 0, 0, 1, 12, 13))
      .setWriteOffset(24)
      .writeTo(bridge);
  ArchiveBuilder().setWriteOffset(255).writeTo(empty);
  ArchiveBuilder()
      .setRecord(0, MakeRecord(7, 0, 8, 0, 0, 28, 11, 13))
      .setRecord(1, MakeRecord(6, 0, 9, 0, 0, 28, 11, 13))
      .setRecord(2, MakeRecord(7, 0, 8, 0, 0, 28, 11, 13))
      .setWriteOffset(24)
      .writeTo(twice);
  ArchiveOf(SecondEvents(0, 30)).writeTo(other);
  // The journal merged into both: a device of its own, and one that meets
  // theirs, with a note in two versions.
  ASSERT_EQ(Cli({"--journal", source, "import", "--device", "Печь", other}).code, 0);
  ASSERT_EQ(Cli({"--journal", source, "import", "--device", "Цех, 2", later}).code, 0);
  ASSERT_EQ(Cli({"--journal", source, "note", "add", "--device", "Печь", "--at",
                 "2013-01-01T00:00:10", "с ноутбука"})
                .code,
            0);
  ASSERT_EQ(Cli({"--journal", source, "note", "edit", "1", "исправлено"}).code, 0);

  struct Side {
    std::string journal, folder;
  };
  const Side sides[] = {{dir_.file("j.sqlite"), dir_.file("file")},
                        {JournalLocation(Engine::kServer, dir_, ""), dir_.file("server")}};
  for (const Side& side : sides) std::filesystem::create_directory(side.folder);
  const auto run = [&](const Side& side, const Side& otherSide, std::vector<std::string> args) {
    for (std::string& arg : args) {
      ReplaceAll(arg, "<out>", side.folder);
      ReplaceAll(arg, "<other>", otherSide.journal);
    }
    args.insert(args.begin(), {"--journal", side.journal});
    Said said = Cli(args);
    for (std::string* text : {&said.out, &said.err}) {
      ReplaceAll(*text, otherSide.journal, "<other>");
      ReplaceAll(*text, side.journal, "<journal>");
      ReplaceAll(*text, side.folder, "<out>");
    }
    return said;
  };
  const std::string d = "Цех, 2", at = "2013-11-29T09:30:00";
  const std::string missing = dir_.file("none.dat"), gone = dir_.file("нет.sqlite");
  using Args = std::vector<std::string>;
  for (const auto& [args, code] : std::vector<std::pair<Args, int>>{
           // No journal yet: read and write commands find none; an import
           // whose archives all fail makes none.
           {{"devices"}, 1},
           {{"report"}, 1},
           {{"export"}, 1},
           {{"stats"}, 1},
           {{"due"}, 1},
           {{"notes"}, 1},
           {{"check"}, 1},
           {{"backup", "<out>/b.sqlite"}, 1},
           {{"rename", "a", "b"}, 1},
           {{"note", "add", "--device", d, "--at", at, "x"}, 1},
           {{"note", "delete", "1"}, 1},
           {{"import", missing}, 1},
           {{"devices"}, 1},
           {{"import", "--device", d, archive_, archive_, empty, missing}, 1},
           {{"import", "--device", d, later}, 0},
           {{"import", bridge}, 0},
           {{"import", "--device", "twice", twice}, 0},
           {{"import", other}, 0},
           // Names and texts that sort and quote differently.
           {{"import", "--device", "a", other}, 0},
           {{"import", "--device", "Z 'б' \"1\"", other}, 0},
           {{"note", "add", "--device", "Z 'б' \"1\"", "--at", "2013-01-01T00:00:05",
             "таб\tи 😀 'x' \"y\" \\"},
            0},
           {{"devices"}, 0},
           {{"report"}, 0},
           {{"report", "--device", d, "--from", "29.11.13", "--input", "7"}, 0},
           {{"report", "--device", "нет"}, 1},
           {{"report", "--input", "200"}, 1},
           {{"export"}, 0},
           {{"export", "--format", "jsonl", "--to", "29.11.13"}, 0},
           {{"export", "--to", "31.12.12"}, 1},
           {{"stats"}, 0},
           {{"stats", "--format", "text", "--device", d}, 0},
           {{"stats", "--format", "jsonl", "--from", "29.11.13"}, 0},
           {{"stats", "--from", "01.01.20"}, 1},
           {{"stats", "--device", "нет"}, 1},
           {{"due"}, 0},
           {{"due", "--device", "нет"}, 1},
           // Notes, their versions and their failures.
           {{"note", "add", "--device", d, "--event", "2013-11-28T08:30:00/0107001e081c0b0d",
             "--kind", "Проверено", "ложное"},
            0},
           {{"note", "add", "--device", d, "--event", "/ff09030201040506", "--", "-минус"}, 0},
           {{"note", "--author", "Петров", "add", "--device", d, "--at", at, "обход\nвторая"}, 0},
           {{"note", "add", "--device", "twice", "--at", "2013-11-28T08:00:00", "у дубля"}, 0},
           {{"note", "edit", "1", "исправлено"}, 0},
           {{"note", "delete", "4"}, 0},
           {{"note", "delete", "4"}, 1},
           {{"note", "edit", "9", "x"}, 1},
           {{"note", "delete", "99999999999999999999"}, 1},
           {{"note", "add", "--device", "нет", "--at", at, "x"}, 1},
           {{"note", "add", "--device", d, "--event", "2013-11-28T09:00:00/06000000091c0b0d", "x"},
            1},
           {{"note", "add", "--device", "twice", "--event", "2013-11-28T08:00:00/07000000081c0b0d",
             "x"},
            1},
           {{"notes"}, 0},
           {{"notes", "--history", "--format", "jsonl"}, 0},
           {{"notes", "--from", "29.11.13", "--device", d}, 0},
           {{"notes", "--device", "нет"}, 1},
           {{"report"}, 0},
           // Renames, plain and joining, and a merge, twice; each side then
           // merges the other, which brings nothing.
           {{"rename", "нет", "x"}, 1},
           {{"rename", "Печь", "Цех, 2"}, 0},
           {{"rename", "Цех, 2", "Котельная"}, 0},
           {{"rename", "twice", "Котельная"}, 0},
           {{"merge", source}, 0},
           {{"merge", source}, 0},
           {{"merge", gone}, 1},
           {{"merge", archive_}, 1},
           {{"merge", "<other>"}, 0},
           {{"devices"}, 0},
           {{"export", "--format", "jsonl"}, 0},
           {{"notes", "--history"}, 0},
           {{"report", "--device", "Печь"}, 0},
           {{"stats", "--format", "text"}, 0},
           {{"due"}, 0},
           {{"check"}, 0},
           {{"backup", "<out>/b.sqlite"}, 0},
           {{"backup", "<out>/b.sqlite"}, 1}}) {
    const Said file = run(sides[0], sides[1], args);
    const Said server = run(sides[1], sides[0], args);
    const std::string context = testing::PrintToString(args) + "\n" + file.err;
    EXPECT_EQ(file.code, code) << context;
    EXPECT_EQ(std::tie(server.code, server.out, server.err),
              std::tie(file.code, file.out, file.err))
        << context;
  }
  // Both backups are files holding the same history.
  for (const Args& args : {Args{"export"}, Args{"notes", "--history"}, Args{"check"}}) {
    Args onFile = {"--journal", sides[0].folder + "/b.sqlite"}, onServer = onFile;
    onServer[1] = sides[1].folder + "/b.sqlite";
    onFile.insert(onFile.end(), args.begin(), args.end());
    onServer.insert(onServer.end(), args.begin(), args.end());
    const Said file = Cli(onFile), server = Cli(onServer);
    EXPECT_EQ(file.code, 0) << file.err;
    EXPECT_EQ(std::tie(server.code, server.out), std::tie(file.code, file.out)) << args.front();
  }
}

// Wherever a location is told, its password is not: in the user part or as
// a parameter, of the journal and of a merge's source, when a command fails
// and when it succeeds.
TEST_F(JournalCliEnginesTest, NoMessageShowsThePassword) {
  const std::string server = TestServer();
  const std::size_t prefix = server.find("://") + 3;
  const auto withPassword = [&](const std::string& uri, int form) {
    return form == 0 ? uri.substr(0, prefix) + "postgres:secret@" + uri.substr(prefix)
                     : uri + "&password=secret";
  };
  for (int form = 0; form < 2; ++form) {
    const std::string journal = withPassword(JournalLocation(Engine::kServer, dir_, ""), form);
    const std::string absent = withPassword(JournalLocation(Engine::kServer, dir_, ""), form);
    std::string noDatabase = withPassword(server, form);
    ReplaceAll(noDatabase, "/postgres?", "/nodb?");
    const std::string noHost =
        withPassword(server.substr(0, server.find('?')) + "?host=/nonexistent", form);
    // Each command, its exit status, and the location its output names.
    const std::string none;
    for (const auto& [args, code, named] :
         std::vector<std::tuple<std::vector<std::string>, int, const std::string&>>{
             {{"--journal", journal, "devices"}, 1, journal},
             {{"--journal", journal, "report"}, 1, journal},
             {{"--journal", journal, "note", "delete", "1"}, 1, journal},
             {{"--journal", journal, "merge", absent}, 1, absent},
             {{"--journal", journal, "import", archive_}, 0, none},
             {{"--journal", journal, "merge", journal}, 1, journal},
             {{"--journal", absent, "merge", journal}, 0, journal},
             {{"--journal", journal, "backup", "/nonexistent/b.sqlite"}, 1, none},
             {{"--journal", noDatabase, "devices"}, 1, noDatabase},
             {{"--journal", noDatabase, "import", archive_}, 1, noDatabase},
             {{"--journal", noHost, "devices"}, 1, noHost},
             {{"--journal", dir_.file("j.sqlite"), "merge", noHost}, 1, noHost}}) {
      const Said said = Cli(args);
      const std::string context = testing::PrintToString(args) + "\n" + said.out + said.err;
      EXPECT_EQ(said.code, code) << context;
      EXPECT_EQ(said.code == 0, said.err.empty()) << context;
      if (!named.empty()) {
        EXPECT_NE((said.out + said.err).find(ShownServerLocation(named)), std::string::npos)
            << context;
      }
      EXPECT_EQ((said.out + said.err).find("secret"), std::string::npos) << context;
    }
  }
}

// Output that, as its first bytes arrive, has the server end the
// connections named `application`: the journal's connection is lost while
// the rest of its rows are still to come.
class CuttingOutput : public std::stringbuf {
 public:
  explicit CuttingOutput(std::string application) : application_(std::move(application)) {}

 protected:
  int_type overflow(int_type c) override {
    if (!cut_) {
      cut_ = true;
      // Waits until the server has ended them.
      ExecAt(TestServer(),
             "SELECT pg_terminate_backend(pid, 60000) FROM pg_stat_activity "
             "WHERE application_name = '" +
                 application_ + "'");
    }
    return std::stringbuf::overflow(c);
  }

 private:
  std::string application_;
  bool cut_ = false;
};

// A read whose connection is lost after its first lines, with more rows of
// the history still to come, says that what it printed is incomplete.
TEST_F(JournalCliEnginesTest, ALostConnectionSaysTheOutputIsIncomplete) {
  const std::string application = "veks-cut-" + std::to_string(::getpid());
  const std::string journal =
      JournalLocation(Engine::kServer, dir_, "") + "&application_name=" + application;
  // Two successive copies: a history longer than one batch of rows.
  DeviceSimulator simulator(1);
  for (int copy = 0; copy < 2; ++copy) {
    simulator.run(900);
    simulator.archive().writeTo(archive_);
    ASSERT_EQ(Cli({"--journal", journal, "import", "--device", "a", archive_}).code, 0);
  }
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"export"}, {"export", "--format", "jsonl", "--device", "a"}, {"report"}}) {
    std::vector<std::string> all = {"--journal", journal};
    all.insert(all.end(), args.begin(), args.end());
    CuttingOutput cutting(application);
    std::ostream out(&cutting);
    std::ostringstream err;
    EXPECT_EQ(RunJournalCli(all, {}, out, err), 1) << args.front();
    EXPECT_FALSE(cutting.str().empty()) << args.front();
    EXPECT_EQ(err.str().rfind("veks12-journal: Связь с сервером журнала потеряна: ", 0), 0u)
        << err.str();
    EXPECT_TRUE(err.str().ends_with("; вывод неполон\n")) << err.str();
  }
}

}  // namespace
}  // namespace veks
