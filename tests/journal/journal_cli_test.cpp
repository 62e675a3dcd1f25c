#include "cli/journal_cli.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "archive/event_decoder.h"
#include "journal/journal.h"
#include "report/report_text.h"
#include "tests/file_snapshot.h"
#include "tests/journal/history_expectation.h"
#include "tests/journal/test_engines.h"
#include "tools/archive_builder.h"
#include "tools/device_simulator.h"

namespace veks {
namespace {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

// Whether a journal is at `location`: its file, or its schema on the server.
bool JournalExists(const std::string& location) {
  if (!IsServerLocation(location)) return std::filesystem::exists(location);
  const std::string schema = location.substr(location.rfind("%3D") + 3);
  return FirstValue(location, "SELECT count(*) FROM pg_namespace WHERE nspname = '" + schema + "'",
                    true) == "1";
}

class JournalCliTest : public BothEngines {
 protected:
  void SetUp() override {
    BothEngines::SetUp();
    if (IsSkipped()) return;
    WriteSmallArchive(archive_);
  }
  CliRun run(std::vector<std::string> args, JournalCliEnvironment env = {}) {
    if (env.home == nullptr && env.xdgDataHome == nullptr) {
      args.insert(args.begin(), {"--journal", journal_});
    }
    std::ostringstream out, err;
    const int code = RunJournalCli(args, env, out, err);
    return {code, out.str(), err.str()};
  }

  std::string journal_ = location("j.sqlite");
  std::string archive_ = dir_.file("Котельная.dat");
};

// What only a journal file has: its pages, its name, its folder.
class JournalFileCliTest : public JournalCliTest {};

TEST_P(JournalCliTest, ImportSaysWhatEachCopyBrought) {
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

TEST_P(JournalCliTest, ReportAndExportWriteTheHistory) {
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

TEST_P(JournalCliTest, StatsAndDueWriteTheirRows) {
  ASSERT_EQ(run({"import", "--device", "Цех, 2", archive_}).code, 0);
  CliRun r = run({"stats"});
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string device = "\"Цех, 2\",";
  EXPECT_EQ(r.out, "device,measure,key,value\r\n" + device + "events,,5\r\n" + device +
                       "segments,,1\r\n" + device + "kind,**НЕКОРР ЗАП.**,1\r\n" + device +
                       "kind,Отключение реле,1\r\n" + device + "kind,Питание  вкл,1\r\n" + device +
                       "kind,клапан ОТКРЫТ,1\r\n" + device + "kind,нет сиг.клап.откр,1\r\n" +
                       device + "input,МУК 2 вх 1,2\r\n" + device + "input_on,МУК 2 вх 1,1\r\n" +
                       device + "input_off,МУК 2 вх 1,1\r\n" + device + "valve_opened,МУК 2,1\r\n" +
                       device + "day,2013-11-28,2\r\n" + device + "day,2013-11-29,2\r\n");
  r = run({"stats", "--format", "jsonl", "--from", "29.11.13"});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
            "{\"device\":\"Цех, 2\",\"measure\":\"events\",\"key\":\"\",\"value\":2}\n");
  EXPECT_EQ(r.out.substr(r.out.rfind('{')),
            "{\"device\":\"Цех, 2\",\"measure\":\"day\",\"key\":\"2013-11-29\",\"value\":2}\n");
  r = run({"stats", "--format", "text", "--to", "28.11.13"});
  EXPECT_EQ(r.out.substr(0, r.out.find("Частые")),
            "Статистика: устройство Цех, 2  по 28.11.13\n\nСобытий: 2, участков: 1\n"
            "Дней с событиями: 1 (28.11.13 - 28.11.13), больше всего за день: 2 (28.11.13)\n\n");
  // |W| 4 in S 26 hours: 3.692 a day, T + 268 days 16 hours.
  EXPECT_EQ(run({"due"}).out, "Цех, 2\t2013-11-29T10:00:00\t3.692\t2014-08-25T02:00\n");
}

TEST_P(JournalCliTest, FailuresPrintAMessageAndNothingElse) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"devices"},
           {"check"},
           {"backup", dir_.file("b.sqlite")},
           {"rename", "a", "b"},
           {"notes"},
           {"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "--author", "a", "t"}}) {
    const CliRun r = run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "veks12-journal: " + journal_ + ": Журнал не найден\n");
  }
  // An import whose archives all fail makes no journal.
  EXPECT_EQ(run({"import", dir_.file("none.dat")}).code, 1);
  EXPECT_FALSE(JournalExists(journal_));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("b.sqlite")));
  ASSERT_EQ(run({"import", archive_}).code, 0);
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"report", "--device", "нет"}, "Нет такого устройства в журнале"},
           {{"rename", "нет", "Котельная"}, "Нет такого устройства в журнале"},
           {{"export", "--to", "31.02.13"}, "нет событий"},
           {{"report", "--input", "200"}, "нет событий"},
           {{"stats", "--device", "нет"}, "Нет такого устройства в журнале"},
           {{"stats", "--from", "01.01.14"}, "нет событий"},
           {{"due", "--device", "нет"}, "Нет такого устройства в журнале"}}) {
    const CliRun r = run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "veks12-journal: " + message + "\n");
  }
  // The default journal is a file under the home folder.
  if (onServer()) return;
  const CliRun noHome = run({"devices"}, {nullptr, "relative/home"});
  EXPECT_EQ(noHome.code, 1);
  EXPECT_NE(noHome.err.find("--journal"), std::string::npos);
}

// A read that fails after its first lines says that what it printed is
// incomplete; one that fails before printing anything says only why. The
// journal's last page of events is damaged: device "b"'s newest events, which
// export reaches last and b's report first.
TEST_P(JournalFileCliTest, AFailureAfterOutputBeganSaysTheOutputIsIncomplete) {
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

TEST_P(JournalCliTest, CheckAndBackupSayWhatTheyFound) {
  ASSERT_EQ(run({"import", archive_}).code, 0);
  CliRun r = run({"check"});
  EXPECT_EQ(std::tie(r.code, r.out, r.err),
            std::make_tuple(0, std::string("журнал исправен\n"), std::string()));
  const std::string target = dir_.file("-копия.sqlite");
  r = run({"backup", "--", target});
  EXPECT_EQ(std::tie(r.code, r.out), std::make_tuple(0, target + ": событий 5\n"));
  r = run({"backup", "--", target});
  EXPECT_EQ(std::tie(r.code, r.out), std::make_tuple(1, std::string()));
  EXPECT_EQ(r.err, "veks12-journal: " + target + ": Копия не записана: файл уже существует\n");
  const JournalCliEnvironment named{nullptr, "/"};  // --journal names the journal
  EXPECT_EQ(run({"--journal", target, "export"}, named).out, run({"export"}).out);

  // A count that disagrees with the events, in the journal and in its copy.
  for (const std::string& journal : {journal_, target}) {
    ExecAt(journal, "UPDATE segments SET event_count = 9");
    r = run({"--journal", journal, "check"}, named);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "устройство Котельная, участок 1: записано событий 9, а их 5\n");
  }
}

// The journal's name is a file name: "file:..." is no SQLite URI.
TEST_P(JournalFileCliTest, JournalNameIsNeverAUri) {
  const auto home = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const JournalCliEnvironment named{nullptr, "/"};
  const CliRun imported =
      run({"--journal", "file:x.sqlite?mode=memory", "import", archive_}, named);
  const CliRun listed = run({"--journal", "file:x.sqlite?mode=memory", "devices"}, named);
  std::filesystem::current_path(home);
  EXPECT_EQ(imported.code, 0) << imported.err;
  EXPECT_EQ(listed.out, "Котельная\t5\t1\t2013-11-28T08:00:00\t2013-11-29T10:00:00\n");
  EXPECT_TRUE(std::filesystem::exists(dir_.file("file:x.sqlite?mode=memory")));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("x.sqlite")));
}

// Without --device a copy that continues two devices' histories goes to
// neither; rename joins them, by the import rules, into one history.
TEST_P(JournalCliTest, CopyOfTwoDevicesIsRefusedAndRenameJoinsThem) {
  const auto copy = [&](const std::string& name, std::int64_t first, std::int64_t last) {
    const std::string path = dir_.file(name + ".dat");
    ArchiveOf(SecondEvents(first, last)).writeTo(path);
    return path;
  };
  const std::string c1 = copy("c1", 1000, 1990), c2 = copy("c2", 2600, 3590),
                    c3 = copy("c3", 1800, 2790), c4 = copy("c4", 100, 200);
  CliRun r = run({"import", c1, c2, c3});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, c1 + ": c1: новых событий: 990\n" + c2 + ": c2: новых событий: 990\n");
  EXPECT_EQ(r.err, c3 + ": Копия продолжает историю нескольких устройств: c1, c2; укажите "
                        "устройство (--device)\n");
  // The window hears of the devices before it asks for one.
  {
    auto journal = Journal::Open(journal_, Journal::Access::kRead);
    const auto proposed = journal.value()->proposedDevice(c3);
    ASSERT_FALSE(proposed.ok());
    EXPECT_EQ(proposed.error().kind, JournalError::Kind::kManyDevices);
    EXPECT_EQ(proposed.error().devices, (std::vector<std::string>{"c1", "c2"}));
  }
  // A copy that two devices hold is refused as well.
  ASSERT_EQ(run({"import", "--device", "c2", c1}).code, 0);
  EXPECT_EQ(run({"import", c1}).err, c1 + ": Копия продолжает историю нескольких устройств: c1, "
                                          "c2; укажите устройство (--device)\n");
  ASSERT_EQ(run({"import", "--device", "Б", c3, c4}).code, 0);
  EXPECT_EQ(run({"devices"}).out,
            "c1\t990\t1\t2013-01-01T00:16:40\t2013-01-01T00:33:09\n"
            "c2\t1980\t2\t2013-01-01T00:16:40\t2013-01-01T00:59:49\n"
            "Б\t1090\t2\t2013-01-01T00:01:40\t2013-01-01T00:46:29\n");
  for (const auto& [args, out] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"rename", "c1", "c2"}, "c1: объединено с c2; новых событий: 0; участки объединены\n"},
           {{"rename", "c2", "Б"}, "c2: объединено с Б; новых событий: 1600; участки объединены\n"},
           {{"rename", "--", "Б", "-Б"}, "Б: переименовано в -Б\n"}}) {
    r = run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, out);
  }
  EXPECT_EQ(run({"devices"}).out, "-Б\t2690\t2\t2013-01-01T00:01:40\t2013-01-01T00:59:49\n");
  EXPECT_EQ(run({"import", c3}).out, c3 + ": -Б: уже в журнале\n");
}

// Each device of the source joins the device of its name, notes with it;
// merging again brings nothing; the source is never touched. Source and
// target are on this run's engine, but for a file that is no journal.
TEST_P(JournalCliTest, MergeSaysWhatEachDeviceBrought) {
  const std::string source = location("-другой.sqlite"), later = dir_.file("later.dat");
  ArchiveOf(SecondEvents(0, 1)).writeTo(later);
  const JournalCliEnvironment named{nullptr, "/"};  // --journal names the journal
  const auto in = [&](const std::string& journal, std::vector<std::string> args) {
    args.insert(args.begin(), {"--journal", journal});
    return run(args, named);
  };
  // What a journal holds, and for a file its bytes too.
  const auto contents = [&](const std::string& journal) {
    std::string held = in(journal, {"export"}).out + in(journal, {"notes", "--history"}).out;
    if (!onServer()) {
      const FileSnapshot file(journal);
      held.append(file.bytes.begin(), file.bytes.end());
      held += std::to_string(file.modified.time_since_epoch().count());
    }
    return held;
  };
  ASSERT_EQ(in(source, {"import", "--device", "Котельная", archive_}).code, 0);
  ASSERT_EQ(in(source, {"import", "--device", "Печь", later}).code, 0);
  ASSERT_EQ(in(source, {"note", "add", "--device", "Котельная", "--event",
                        "2013-11-28T08:30:00/0107001e081c0b0d", "--author", "a", "проверено"})
                .code,
            0);
  ASSERT_EQ(in(source, {"note", "edit", "1", "--author", "b", "исправлено"}).code, 0);
  ASSERT_EQ(run({"import", "--device", "Котельная", later}).code, 0);
  const std::string untouched = contents(source);
  const std::string fresh = location("новый/j.sqlite");
  const std::string boiler = source + ": Котельная: новых событий: ",
                    oven = source + ": Печь: новых событий: ";
  for (const auto& [journal, out] : std::vector<std::pair<std::string, std::string>>{
           {journal_,
            boiler + "5; новый участок, возможен пропуск событий; примечаний: 1\n" + oven + "1\n"},
           {journal_, boiler + "0\n" + oven + "0\n"},
           {fresh, boiler + "5; примечаний: 1\n" + oven + "1\n"}}) {
    const CliRun r = in(journal, {"merge", "--", source});
    EXPECT_EQ(std::tie(r.code, r.out, r.err), std::make_tuple(0, out, std::string()));
  }
  EXPECT_EQ(contents(source), untouched);
  EXPECT_EQ(in(fresh, {"notes", "--history"}).out, in(source, {"notes", "--history"}).out);
  EXPECT_EQ(in(fresh, {"export"}).out, in(source, {"export"}).out);

  // Another name of the same journal: a link to its file, another URI of
  // its schema.
  std::string alias = journal_ + "&application_name=veks";
  if (!onServer()) {
    alias = dir_.file("link.sqlite");
    std::filesystem::create_symlink(journal_, alias);
  }
  const std::string target = contents(journal_);
  for (const auto& [journal, from, message] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {journal_, alias, "Журнал нельзя объединить с самим собой"},
           {journal_, location("нет.sqlite"), "Журнал не найден"},
           {journal_, archive_, "Файл не является журналом событий"},
           {archive_, source, "Файл не является журналом событий"}}) {
    const CliRun r = in(journal, {"merge", from});
    const std::string& failed = journal == archive_ ? journal : from;
    EXPECT_EQ(std::tie(r.code, r.out), std::make_tuple(1, std::string())) << message;
    EXPECT_EQ(r.err, "veks12-journal: " + failed + ": " + message + "\n");
  }
  EXPECT_EQ(contents(journal_), target);
  EXPECT_EQ(contents(source), untouched);
}

// The journal report line of an event.
std::string Row(const EventRecord& event) { return ReportRowLine(DecodeEventRow(event)); }

// Notes, entries and their versions as `note` writes them and `notes` and the
// report show them; every failure is a message and exit 1, writing nothing.
TEST_P(JournalCliTest, NotesAreWrittenListedAndReported) {
  JournalCliEnvironment env;
  env.logname = "ivanov";
  env.now = [] { return std::int64_t{1'700'000'000}; };  // 2023-11-14T22:13:20Z
  env.localTime = [](std::int64_t seconds) {             // three hours east
    const auto time = static_cast<std::time_t>(seconds + 3 * 3600);
    std::tm tm{};
    gmtime_r(&time, &tm);
    return tm;
  };
  ASSERT_EQ(run({"import", "--device", "Цех, 2", archive_}).code, 0);
  const std::string twice = dir_.file("twice.dat");
  ArchiveBuilder()
      .setRecord(0, MakeRecord(7, 0, 8, 0, 0, 28, 11, 13))
      .setRecord(1, MakeRecord(6, 0, 9, 0, 0, 28, 11, 13))
      .setRecord(2, MakeRecord(7, 0, 8, 0, 0, 28, 11, 13))
      .setWriteOffset(24)
      .writeTo(twice);
  ASSERT_EQ(run({"import", "--device", "б", twice}).code, 0);
  const std::string d = "Цех, 2";
  for (const auto& [args, code, out, err] :
       std::vector<std::tuple<std::vector<std::string>, int, std::string, std::string>>{
           {{"note", "add", "--device", d, "--event", "2013-11-28T08:30:00/0107001e081c0b0d",
             "--kind", "Проверено", "ложное"},
            0,
            "примечание 1\n",
            ""},
           {{"note", "add", "--device", d, "--event", "/ff09030201040506", "--", "-минус"},
            0,
            "примечание 2\n",
            ""},
           {{"note", "--author", "Петров", "add", "--device", d, "--at", "2013-11-29T09:30:00",
             "обход\nвторая строка"},
            0,
            "примечание 3\n",
            ""},
           {{"note", "add", "--device", d, "--at", "2013-11-01T00:00:00", "до всех"},
            0,
            "примечание 4\n",
            ""},
           {{"note", "edit", "1", "исправлено"}, 0, "примечание 1\n", ""},
           {{"note", "delete", "4"}, 0, "примечание 4\n", ""},
           {{"note", "delete", "4"}, 1, "", "Примечание удалено"},
           {{"note", "edit", "4", "x"}, 1, "", "Примечание удалено"},
           {{"note", "edit", "9", "x"}, 1, "", "Нет такого примечания"},
           {{"note", "delete", "99999999999999999999"}, 1, "", "Нет такого примечания"},
           {{"note", "add", "--device", "нет", "--at", "2013-11-01T00:00:00", "x"},
            1,
            "",
            "Нет такого устройства в журнале"},
           {{"note", "add", "--device", d, "--event", "2013-11-28T09:00:00/0600090000 1c0b0d", "x"},
            2,
            "",
            ""},
           {{"note", "add", "--device", d, "--event", "2013-11-28T09:00:00/060009000 01c0b0d", "x"},
            2,
            "",
            ""},
           {{"note", "add", "--device", "б", "--event", "2013-11-28T09:00:00/0600000009 1c0b0d",
             "x"},
            2,
            "",
            ""},
           {{"note", "add", "--device", d, "--event", "2013-11-28T09:00:00/060000000 91c0b0d", "x"},
            2,
            "",
            ""},
           {{"note", "add", "--device", d, "--event", "2013-11-28T09:00:00/06000000091c0b0d", "x"},
            1,
            "",
            "Нет такого события"},
           {{"note", "add", "--device", "б", "--event", "2013-11-28T08:00:00/07000000081c0b0d",
             "x"},
            1,
            "",
            "Событие неоднозначно: 2 одинаковых событий"},
           {{"notes", "--device", "нет"}, 1, "", "Нет такого устройства в журнале"},
       }) {
    const CliRun r = run(args, env);
    EXPECT_EQ(std::tie(r.code, r.out), std::tie(code, out)) << testing::PrintToString(args);
    if (!err.empty()) {
      EXPECT_EQ(r.err, "veks12-journal: " + err + "\n");
    }
  }
  const std::string header =
      "number,version,device,event_timestamp,event_raw,at,kind,text,author,written,"
      "deleted\r\n";
  const std::string written = "2023-11-14T22:13:20Z";
  const std::string n1 = "\"Цех, 2\",2013-11-28T08:30:00,0107001e081c0b0d,,Проверено,";
  const std::string n2 = "2,1,\"Цех, 2\",,ff09030201040506,,Комментарий,-минус,ivanov," + written;
  const std::string n3 =
      "3,1,\"Цех, 2\",,,2013-11-29T09:30:00,Комментарий,\"обход\nвторая "
      "строка\",Петров," +
      written;
  const std::string n4 = "\"Цех, 2\",,,2013-11-01T00:00:00,Комментарий,до всех,ivanov," + written;
  EXPECT_EQ(run({"notes"}).out, header + "1,2," + n1 + "исправлено,ivanov," + written + ",0\r\n" +
                                    n3 + ",0\r\n" + n2 + ",0\r\n");
  EXPECT_EQ(run({"notes", "--history", "--device", d}).out,
            header + "4,1," + n4 + ",0\r\n4,2," + n4 + ",1\r\n1,1," + n1 + "ложное,ivanov," +
                written + ",0\r\n1,2," + n1 + "исправлено,ivanov," + written + ",0\r\n" + n3 +
                ",0\r\n" + n2 + ",0\r\n");
  EXPECT_EQ(run({"notes", "--from", "29.11.13", "--format", "jsonl"}).out,
            "{\"number\":3,\"version\":1,\"device\":\"Цех, 2\",\"event_timestamp\":null,"
            "\"event_raw\":null,\"at\":\"2013-11-29T09:30:00\",\"kind\":\"Комментарий\","
            "\"text\":\"обход\\u000aвторая строка\",\"author\":\"Петров\",\"written\":\"" +
                written + "\",\"deleted\":0}\n");
  EXPECT_EQ(run({"notes", "--to", "01.01.13"}).out, header);
  EXPECT_EQ(run({"notes", "--format", "jsonl", "--device", "б"}).out, "");

  // Under each event its notes, entries at their places; the note's time is
  // local, the entry's the device's own.
  const CliRun report = run({"report", "--device", d}, env);
  EXPECT_EQ(report.out,
            "Журнал: устройство Цех, 2\n\n\n" + ReportHeaderLine(EventTable::HeaderRow()) + "\n" +
                Row(MakeRecord(0xFF, 9, 1, 2, 3, 4, 5, 6)) + "\n" +
                "    примечание 2 (Комментарий, ivanov, 15.11.23 01:13): -минус\n" +
                Row(MakeRecord(0, 7, 10, 0, 0, 29, 11, 13)) + "\n" +
                "    запись оператора 3 (Комментарий, Петров, 29.11.13 09:30:00): обход\n" +
                "        вторая строка\n" + Row(MakeRecord(50, 3, 9, 0, 5, 29, 11, 13)) + "\n" +
                Row(MakeRecord(1, 7, 8, 30, 0, 28, 11, 13)) + "\n" +
                "    примечание 1 (Проверено, ivanov, 15.11.23 01:13): исправлено\n" +
                Row(MakeRecord(7, 0, 8, 0, 0, 28, 11, 13)) + "\n");
  // The input filter leaves entries out; dates keep those of their days.
  EXPECT_EQ(run({"report", "--input", "7"}, env).out.find("запись"), std::string::npos);
  const CliRun entryOnly =
      run({"report", "--from", "29.11.13", "--to", "29.11.13", "--device", d, "--input", "3"}, env);
  EXPECT_EQ(entryOnly.out.find("запись"), std::string::npos);
  EXPECT_NE(run({"report", "--from", "29.11.13"}, env).out.find("запись оператора 3"),
            std::string::npos);
}

// Without --author the author is $LOGNAME, $USER or the account's name, the
// first that names someone; with none: a message, and nothing written.
TEST_P(JournalCliTest, TheAuthorComesFromTheEnvironment) {
  ASSERT_EQ(run({"import", "--device", "d", archive_}).code, 0);
  const auto account = [](const char* name) {
    return std::function<std::string()>([name] { return std::string(name); });
  };
  const std::vector<std::string> add = {
      "note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "t"};
  for (const auto& [logname, user, name, author] :
       std::vector<std::tuple<const char*, const char*, const char*, std::string>>{
           {"l", "u", "a", "l"},
           {nullptr, "u", "a", "u"},
           {"", "u", "a", "u"},
           {nullptr, "", "a", "a"},
           {"l\tx", nullptr, "a", "a"},
           {nullptr, nullptr, "", ""}}) {
    JournalCliEnvironment env;
    env.logname = logname;
    env.user = user;
    env.accountName = account(name);
    const CliRun r = run(add, env);
    if (author.empty()) {
      EXPECT_EQ(std::tie(r.code, r.out, r.err),
                std::make_tuple(1, std::string(),
                                std::string("veks12-journal: Не задан автор "
                                            "(--author)\n")));
      continue;
    }
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string notes = run({"notes", "--format", "jsonl"}).out;
    const std::string last = notes.substr(notes.rfind('{'));
    EXPECT_NE(last.find("\"author\":\"" + author + "\""), std::string::npos) << last;
  }
}

class JournalCliUsageTest : public testing::TestWithParam<std::vector<std::string>> {};

// Refused before the journal or an archive is opened: no journal appears.
TEST_P(JournalCliUsageTest, IsRefusedBeforeAnythingOpens) {
  const TempDir dir;
  const std::string journal = dir.file("j.sqlite");
  std::vector<std::string> args = GetParam();
  args.insert(args.begin(), {"--journal", journal});
  std::ostringstream out, err;
  EXPECT_EQ(RunJournalCli(args, {}, out, err), 2);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str().rfind("veks12-journal: ", 0), 0u);
  EXPECT_NE(err.str().find("Usage: veks12-journal"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(journal));
}

using Args = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    BadUsage, JournalCliUsageTest,
    testing::Values(
        Args{}, Args{"import"}, Args{"import", "--device", "x"}, Args{"frobnicate"},
        Args{"devices", "extra"}, Args{"devices", "--device", "x"},
        Args{"report", "--format", "csv"}, Args{"import", "--from", "01.01.13", "a.dat"},
        Args{"report", "--input", "0"}, Args{"report", "--input", "256"},
        Args{"report", "--from", "32.01.13"}, Args{"report", "--to", "01.13.13"},
        Args{"report", "--to", "1.1.13"}, Args{"--journal", "", "devices"},
        Args{"report", "--device", ""}, Args{"report", "--device", "a\tb"},
        Args{"export", "--format", "xml"}, Args{"report", "--device=x"},
        Args{"report", "--input", "5", "--input", "6"}, Args{"report", "--input"},
        Args{"check", "extra"}, Args{"backup"}, Args{"backup", "a", "b"},
        Args{"backup", "--device", "x", "t"}, Args{"backup", "-t"},
        Args{"check", "--format", "csv"}, Args{"rename", "a"}, Args{"rename", "a", "b", "c"},
        Args{"rename", "a", "a"}, Args{"rename", "a", ""}, Args{"rename", "a\nb", "c"},
        Args{"rename", "--device", "a", "b", "c"}, Args{"rename", "a", "-b"},
        Args{"stats", "--input", "3"}, Args{"stats", "--format", "xml"},
        Args{"export", "--format", "text"}, Args{"due", "--from", "01.01.13"},
        Args{"due", "--format", "csv"}, Args{"note"}, Args{"note", "append", "t"},
        Args{"note", "--", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00"},
        Args{"note", "add", "--device", "d", "t"},
        Args{"note", "add", "--at", "2013-01-01T00:00:00", "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "--event",
             "/ff00000000000000", "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-02-29T00:00:00", "t"},
        Args{"note", "add", "--device", "d", "--at", "2100-01-01T00:00:00", "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01 00:00:00", "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T24:00:00", "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00", "t"},
        Args{"note", "add", "--device", "d", "--event", "ff00000000000000", "t"},
        Args{"note", "add", "--device", "d", "--event", "/FF00000000000000", "t"},
        Args{"note", "add", "--device", "d", "--event", "/070000000001010d", "t"},
        Args{"note", "add", "--device", "d", "--event", "2013-01-01T00:00:01/070000000001010d",
             "t"},
        Args{"note", "add", "--device", "d", "--event", "/ff000000000000", "t"},
        Args{"note", "add", "--device", "", "--at", "2013-01-01T00:00:00", "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "a", "b"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "-t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "-"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "--"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", " \n\t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "a\rb"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "\xff"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "--kind", "", "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "--kind",
             std::string(101, 'k'), "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "--author", "a\x1b",
             "t"},
        Args{"note", "add", "--device", "d", "--at", "2013-01-01T00:00:00", "--author", "a\xc2\x85",
             "t"},
        Args{"note", "edit", "0", "t"}, Args{"note", "edit", "+1", "t"},
        Args{"note", "edit", "-1", "t"}, Args{"note", "edit", "1"}, Args{"note", "edit", "t"},
        Args{"note", "edit", "1", "--", "a", "b"}, Args{"note", "edit", "1", "--device", "d", "t"},
        Args{"note", "delete"}, Args{"note", "delete", "1", "x"},
        Args{"note", "delete", "1", "--", "x"}, Args{"note", "delete", "1", "--kind", "k"},
        Args{"notes", "--history", "--history"}, Args{"notes", "extra"},
        Args{"notes", "--format", "text"}, Args{"notes", "--input", "3"}, Args{"merge"},
        Args{"merge", "a", "b"}, Args{"merge", "--device", "d", "a"}, Args{"merge", "-a"},
        Args{"merge", ""}, Args{"report", "--history"}, Args{"notes", "--author", "a"}));

INSTANTIATE_TEST_SUITE_P(Engines, JournalCliTest, testing::Values(Engine::kFile, Engine::kServer),
                         EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, JournalFileCliTest, testing::Values(Engine::kFile), EngineName);

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
