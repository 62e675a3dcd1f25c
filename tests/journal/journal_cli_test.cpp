#include "cli/journal_cli.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <sstream>

#include "journal/journal.h"
#include "tools/archive_builder.h"
#include "tools/device_simulator.h"

namespace veks {
namespace {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

class JournalCliTest : public testing::Test {
 protected:
  void SetUp() override {
    // Five events, an erased slot among them; the last has no timestamp.
    ArchiveBuilder()
        .setRecord(0, MakeRecord(7, 0, 8, 0, 0, 28, 11, 13))
        .setRecord(1, MakeRecord(1, 7, 8, 30, 0, 28, 11, 13))
        .setRecord(2, MakeRecord(50, 3, 9, 0, 5, 29, 11, 13))
        .setRecord(3, EventRecord{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
        .setRecord(4, MakeRecord(0, 7, 10, 0, 0, 29, 11, 13))
        .setRecord(5, MakeRecord(0xFF, 9, 1, 2, 3, 4, 5, 6))
        .setWriteOffset(48)
        .writeTo(archive_);
  }
  CliRun run(std::vector<std::string> args, JournalCliEnvironment env = {}) {
    if (env.home == nullptr && env.xdgDataHome == nullptr) {
      args.insert(args.begin(), {"--journal", journal_});
    }
    std::ostringstream out, err;
    const int code = RunJournalCli(args, env, out, err);
    return {code, out.str(), err.str()};
  }

  TempDir dir_;
  std::string journal_ = dir_.file("j.sqlite");
  std::string archive_ = dir_.file("Котельная.dat");
};

TEST_F(JournalCliTest, ImportSaysWhatEachCopyBrought) {
  const std::string later = dir_.file("later.dat");
  ArchiveBuilder()
      .setRecord(0, MakeRecord(6, 0, 7, 0, 0, 1, 12, 13))
      .setWriteOffset(8)
      .writeTo(later);
  const std::string bridge = dir_.file("bridge.dat");
  ArchiveBuilder()
      .setRecord(0, MakeRecord(0, 7, 10, 0, 0, 29, 11, 13))
      .setRecord(1, MakeRecord(0xFF, 9, 1, 2, 3, 4, 5, 6))
      .setRecord(2, MakeRecord(6, 0, 7, 0, 0, 1, 12, 13))
      .setWriteOffset(24)
      .writeTo(bridge);
  const std::string empty = dir_.file("empty.dat");
  ArchiveBuilder().setWriteOffset(255).writeTo(empty);

  CliRun r = run({"import", archive_, archive_, empty, dir_.file("none.dat")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, archive_ + ": Котельная: новых событий: 5\n" + archive_ +
                       ": Котельная: уже в журнале\n" + empty + ": архив пуст\n");
  EXPECT_EQ(r.err, dir_.file("none.dat") + ": Архив не удается открыть\n");

  r = run({"import", "--device", "Котельная", later});
  EXPECT_EQ(r.out,
            later + ": Котельная: новых событий: 1; новый участок, возможен пропуск событий\n");
  r = run({"import", bridge});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, bridge + ": Котельная: новых событий: 0; участки объединены\n");
  // Without --device, a copy that overlaps no device starts one named after its file.
  r = run({"import", later});
  EXPECT_EQ(r.out, later + ": Котельная: уже в журнале\n");
  ArchiveBuilder()
      .setRecord(0, MakeRecord(6, 0, 7, 0, 0, 1, 1, 14))
      .setWriteOffset(8)
      .writeTo(later);
  r = run({"import", later, "--", archive_});
  EXPECT_EQ(r.out,
            later + ": later: новых событий: 1\n" + archive_ + ": Котельная: уже в журнале\n");
  EXPECT_EQ(run({"devices"}).out,
            "later\t1\t1\t2014-01-01T07:00:00\t2014-01-01T07:00:00\n"
            "Котельная\t6\t1\t2013-11-28T08:00:00\t2013-12-01T07:00:00\n");
}

TEST_F(JournalCliTest, ReportAndExportWriteTheHistory) {
  ASSERT_EQ(run({"import", "--device", "Цех, 2", archive_}).code, 0);
  CliRun r = run({"report", "--from", "29.11.13", "--input", "007"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Журнал: устройство Цех, 2  с 29.11.13 вход № 7\n\n\n"
            "Событие\t\t\t  Номер входа\t\t Время\t\tДата\n"
            "нет сиг.клап.откр\t\t   МУК 2 вх 1\t\t10:00:00\t\t29.11.13\n");
  r = run({"export"});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
            "device,segment,timestamp,date,time,event,input,code,argument,raw\r\n");
  EXPECT_NE(r.out.find("\"Цех, 2\",1,2013-11-28T08:30:00,28.11.13,08:30:00,клапан ОТКРЫТ,МУК 2 вх "
                       "1,1,7,0107001e081c0b0d\r\n"),
            std::string::npos);
  r = run({"export", "--format", "jsonl", "--device", "Цех, 2"});
  EXPECT_EQ(r.out.substr(r.out.rfind('{')),
            "{\"device\":\"Цех, 2\",\"segment\":1,\"timestamp\":null,\"date\":\"\","
            "\"time\":\"\",\"event\":\"**НЕКОРР ЗАП.**\",\"input\":\"\",\"code\":255,"
            "\"argument\":9,\"raw\":\"ff09030201040506\"}\n");
}

TEST_F(JournalCliTest, FailuresPrintAMessageAndNothingElse) {
  EXPECT_EQ(run({"devices"}).err, "veks12-journal: " + journal_ + ": Журнал не найден\n");
  EXPECT_FALSE(std::filesystem::exists(journal_));
  ASSERT_EQ(run({"import", archive_}).code, 0);
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"report", "--device", "нет"}, "Нет такого устройства в журнале"},
           {{"export", "--to", "31.02.13"}, "нет событий"},
           {{"report", "--input", "200"}, "нет событий"}}) {
    const CliRun r = run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "veks12-journal: " + message + "\n");
  }
  const CliRun noHome = run({"devices"}, {nullptr, "relative/home"});
  EXPECT_EQ(noHome.code, 1);
  EXPECT_NE(noHome.err.find("--journal"), std::string::npos);
}

// A read that fails after its first lines says that what it printed is
// incomplete; one that fails before printing anything says only why. The
// journal's last page of events is damaged: device "b"'s newest events, which
// export reaches last and b's report first.
TEST_F(JournalCliTest, AFailureAfterOutputBeganSaysTheOutputIsIncomplete) {
  for (const char* device : {"a", "b"}) {
    DeviceSimulator simulator(device[0]);
    simulator.run(900);
    simulator.archive().writeTo(archive_);
    ASSERT_EQ(run({"import", "--device", device, archive_}).code, 0);
  }
  ASSERT_FALSE(std::filesystem::exists(journal_ + "-wal"));
  sqlite3* db = nullptr;
  sqlite3_open_v2(journal_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* page = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT (pageno - 1) * pgsize, pgsize FROM dbstat WHERE name = 'events' "
                     "AND pagetype = 'leaf' ORDER BY path DESC LIMIT 1",
                     -1, &page, nullptr);
  ASSERT_EQ(sqlite3_step(page), SQLITE_ROW);
  std::fstream(journal_, std::ios::in | std::ios::out | std::ios::binary)
      .seekp(sqlite3_column_int64(page, 0))
      .write(std::string(static_cast<std::size_t>(sqlite3_column_int(page, 1)), '\xFF').data(),
             sqlite3_column_int(page, 1));
  sqlite3_finalize(page);
  sqlite3_close(db);
  for (const auto& [args, incomplete] : std::vector<std::pair<std::vector<std::string>, bool>>{
           {{"export"}, true},
           {{"report"}, true},
           {{"export", "--device", "b"}, true},
           {{"report", "--device", "b"}, false}}) {
    const CliRun r = run(args);
    EXPECT_EQ(r.code, 1) << args.front();
    EXPECT_EQ(r.out.empty(), !incomplete) << args.front();
    EXPECT_EQ(r.err.rfind("veks12-journal: Ошибка журнала: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.ends_with("; вывод неполон\n"), incomplete) << r.err;
  }
}

class JournalCliUsageTest : public JournalCliTest,
                            public testing::WithParamInterface<std::vector<std::string>> {};

// Refused before the journal or an archive is opened: no journal appears.
TEST_P(JournalCliUsageTest, IsRefusedBeforeAnythingOpens) {
  const CliRun r = run(GetParam());
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("veks12-journal: ", 0), 0u);
  EXPECT_NE(r.err.find("Usage: veks12-journal"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(journal_));
}

using Args = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    BadUsage, JournalCliUsageTest,
    testing::Values(Args{}, Args{"import"}, Args{"import", "--device", "x"}, Args{"frobnicate"},
                    Args{"devices", "extra"}, Args{"devices", "--device", "x"},
                    Args{"report", "--format", "csv"},
                    Args{"import", "--from", "01.01.13", "a.dat"}, Args{"report", "--input", "0"},
                    Args{"report", "--input", "256"}, Args{"report", "--from", "32.01.13"},
                    Args{"report", "--to", "01.13.13"}, Args{"report", "--to", "1.1.13"},
                    Args{"--journal", "", "devices"}, Args{"report", "--device", ""},
                    Args{"report", "--device", "a\tb"}, Args{"export", "--format", "xml"},
                    Args{"report", "--device=x"}, Args{"report", "--input", "5", "--input", "6"},
                    Args{"report", "--input"}));

TEST(JournalPathTest, FollowsXdgDataHomeThenHome) {
  using P = std::optional<std::string>;
  EXPECT_EQ(DefaultJournalPath("/x", "/h"), P("/x/veks12/journal.sqlite"));
  EXPECT_EQ(DefaultJournalPath(nullptr, "/h"), P("/h/.local/share/veks12/journal.sqlite"));
  EXPECT_EQ(DefaultJournalPath("", "/h"), P("/h/.local/share/veks12/journal.sqlite"));
  EXPECT_EQ(DefaultJournalPath("rel", "/h"), P("/h/.local/share/veks12/journal.sqlite"));
  EXPECT_EQ(DefaultJournalPath(nullptr, "h"), std::nullopt);
  EXPECT_EQ(DefaultJournalPath(nullptr, nullptr), std::nullopt);
}

}  // namespace
}  // namespace veks
