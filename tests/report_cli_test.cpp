#include "cli/report_cli.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "cli/descriptor_output.h"
#include "tests/file_snapshot.h"
#include "tools/archive_builder.h"

namespace veks {
namespace {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

CliRun RunCli(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = RunReportCli(args, out, err);
  return {code, out.str(), err.str()};
}

std::size_t LineCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class ReportCliTest : public testing::Test {
 protected:
  void SetUp() override {
    builder_.fillNumbered()
        .setRecord(40, MakeRecord(1, 7, 8, 30, 0, 9, 10, 11))
        .setRecord(30, MakeRecord(0, 255, 12, 0, 0, 31, 12, 0))  // the highest input, year 00
        .setRecord(98, MakeRecord(0, 0, 0, 0, 0, 0, 0, 13))      // an empty slot, year byte set
        .setWriteOffset(800);
    builder_.writeTo(path_);
  }
  TempDir dir_;
  std::string path_ = dir_.file("a.dat");
  ArchiveBuilder builder_;
};

TEST_F(ReportCliTest, WholeArchiveReport) {
  const FileSnapshot before(path_);
  const CliRun run = RunCli({path_});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(LineCount(run.out), 1058u);
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "Архив: файл " + path_);
  EXPECT_EQ(run.out.substr(run.out.size() - 9), "\t\t\t\t\t\t\t\t\n");
  EXPECT_EQ(FileSnapshot(path_), before);
}

struct ModeCase {
  std::vector<std::string> options;
  std::string titleSuffix;
  std::size_t lines;
  std::string firstRow;
};

class ReportCliModeTest : public ReportCliTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(ReportCliModeTest, PrintsTheBlockReportOfTheView) {
  std::vector<std::string> args = GetParam().options;
  args.push_back(path_);
  const CliRun run = RunCli(args);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(LineCount(run.out), GetParam().lines);
  std::istringstream lines(run.out);
  std::string title, empty1, empty2, header, first;
  std::getline(lines, title);
  std::getline(lines, empty1);
  std::getline(lines, empty2);
  std::getline(lines, header);
  std::getline(lines, first);
  EXPECT_EQ(title, "Архив: файл " + path_ + GetParam().titleSuffix);
  EXPECT_EQ(empty1 + empty2, "");
  EXPECT_EQ(header, "Событие\t\t\t  Номер входа\t\t Время\t\tДата");
  EXPECT_EQ(first, GetParam().firstRow);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ReportCliModeTest,
    testing::Values(
        ModeCase{{"--block", "1"}, "", 21, "Питание  вкл\t\t\t\t\t00:01:39\t\t16.04.20"},
        ModeCase{{"--block", "62"}, "", 21, "Питание  вкл\t\t\t\t\t00:01:55\t\t04.05.20"},
        ModeCase{{"--block", "0000000001"}, "", 21, "Питание  вкл\t\t\t\t\t00:01:39\t\t16.04.20"},
        ModeCase{{"--format", "text", "--block", "1"},
                 "",
                 21,
                 "Питание  вкл\t\t\t\t\t00:01:39\t\t16.04.20"},
        ModeCase{{"--input", "0000000007"},
                 " вход № 7",
                 6,
                 "клапан ОТКРЫТ\t\t   МУК 2 вх 1\t\t08:30:00\t\t09.10.11"},
        ModeCase{{"--input", "7"},
                 " вход № 7",
                 6,
                 "клапан ОТКРЫТ\t\t   МУК 2 вх 1\t\t08:30:00\t\t09.10.11"},
        ModeCase{{"--date", "09.10.11", "--format", "text"},
                 "  09.10.11",
                 21,
                 "клапан ОТКРЫТ\t\t   МУК 2 вх 1\t\t08:30:00\t\t09.10.11"},
        ModeCase{{"--input", "255"},
                 " вход № 255",
                 6,
                 "нет авт.дист.упр.\t\t   МУК 43 вх 3\t\t12:00:00\t\t31.12.00"},
        ModeCase{{"--date", "31.12.00"},
                 "  31.12.00",
                 21,
                 "нет авт.дист.упр.\t\t   МУК 43 вх 3\t\t12:00:00\t\t31.12.00"}));

// The exports hold one line per record of the report, in its order.
struct FormatCase {
  std::vector<std::string> options;
  std::size_t lines;
  std::size_t lineIndex;
  std::string line;
};

class ReportCliFormatTest : public ReportCliTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(ReportCliFormatTest, WritesOneLinePerRecordOfTheReport) {
  std::vector<std::string> args = GetParam().options;
  args.push_back(path_);
  const CliRun run = RunCli(args);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(LineCount(run.out), GetParam().lines);
  std::istringstream lines(run.out);
  std::string line;
  for (std::size_t i = 0; i <= GetParam().lineIndex; ++i) std::getline(lines, line);
  EXPECT_EQ(line, GetParam().line);
}

const std::string kCsvHeader = "timestamp,date,time,event,input,code,argument,raw\r";
const std::string kNewestCsv =
    "2020-04-16T00:01:39,16.04.20,00:01:39,Питание  вкл,,7,0,0700270100100414\r";

INSTANTIATE_TEST_SUITE_P(
    Formats, ReportCliFormatTest,
    testing::Values(FormatCase{{"--format", "csv"}, 1 + 992, 0, kCsvHeader},
                    // The empty slot among the records is a line of its own, with its bytes.
                    FormatCase{{"--format", "csv"}, 1 + 992, 2, ",,,,,0,0,000000000000000d\r"},
                    FormatCase{{"--block", "1", "--format", "csv"}, 1 + 16, 1, kNewestCsv},
                    FormatCase{
                        {"--format", "jsonl", "--input", "7"},
                        1,
                        0,
                        R"({"timestamp":"2011-10-09T08:30:00","date":"09.10.11","time":"08:30:00",)"
                        R"("event":"клапан ОТКРЫТ","input":"МУК 2 вх 1","code":1,"argument":7,)"
                        R"("raw":"0107001e08090a0b"})"}));

TEST_F(ReportCliTest, FailuresPrintTheMessageAloneAndExitOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{dir_.file("missing.dat")}, "Архив не удается открыть"},
      {{dir_.path().string()}, "Архив не удается открыть"},
      {{""}, "Не задано имя файла архива"},
      {{"--block", "3", ""}, "Не задано имя файла архива"},
      {{"--input", "200", path_}, "нет событий"},
      {{"--date", "31.02.13", path_}, "Указанная дата не найдена"},
      {{"--format", "csv", dir_.file("missing.dat")}, "Архив не удается открыть"},
  };
  for (const auto& [args, message] : cases) {
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.code, 1) << message;
    EXPECT_EQ(run.out, "") << message;
    EXPECT_EQ(run.err, message + "\n");
  }
}

TEST_F(ReportCliTest, DamagedArchivesFailWithTheirMessage) {
  for (const auto& [offset, message] : std::vector<std::pair<std::int32_t, std::string>>{
           {255, "архив пуст"}, {3, "Архив поврежден: неверный указатель записи"}}) {
    builder_.setWriteOffset(offset).writeTo(path_);
    for (const std::vector<std::string>& args : {std::vector<std::string>{path_},
                                                 {"--block", "2", path_},
                                                 {"--date", "01.01.20", path_}}) {
      const CliRun run = RunCli(args);
      EXPECT_EQ(run.code, 1);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, message + "\n");
    }
  }
}

// Files an operator may hand over: short, long, not a file at all.
TEST_F(ReportCliTest, OddFilesGiveAReportOrTheOpenFailure) {
  for (const std::size_t size : {0u, 100u, 7936u, 7938u, 7940u, 8500u}) {
    builder_.writeTo(path_, size);
    const FileSnapshot before(path_);
    const CliRun run = RunCli({"--block", "1", path_});
    EXPECT_EQ(run.code, 0) << size;
    EXPECT_EQ(LineCount(run.out), 21u) << size;
    EXPECT_EQ(FileSnapshot(path_), before) << size;
  }
  const std::string fifo = dir_.file("pipe.dat");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir_.path().string(), std::string("/proc/self/mem")}) {
    const CliRun run = RunCli({path});
    EXPECT_EQ(run.code, 1) << path;
    EXPECT_EQ(run.err, "Архив не удается открыть\n") << path;
  }
}

class ReportCliUsageTest : public testing::TestWithParam<std::vector<std::string>> {};

// The archive named here does not exist: exit 2 rather than 1 shows the usage
// was refused before any file was opened.
TEST_P(ReportCliUsageTest, IsRefusedBeforeOpeningAnything) {
  const CliRun run = RunCli(GetParam());
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("veks12-report: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("Usage: veks12-report"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    BadUsage, ReportCliUsageTest,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"x.dat", "y.dat"},
                    std::vector<std::string>{"--block", "1", "--input", "2", "x.dat"},
                    std::vector<std::string>{"--block", "1", "--block", "2", "x.dat"},
                    std::vector<std::string>{"--verbose", "x.dat"},
                    std::vector<std::string>{"--block", "0", "x.dat"},
                    std::vector<std::string>{"--block", "63", "x.dat"},
                    std::vector<std::string>{"--block", "x.dat"},
                    std::vector<std::string>{"--input", "256", "x.dat"},
                    std::vector<std::string>{"--input", "4294967297", "x.dat"},
                    std::vector<std::string>{"--input", "000000000000000000000256", "x.dat"},
                    std::vector<std::string>{"--block", "00000000000000000000000", "x.dat"},
                    std::vector<std::string>{"--input", "+5", "x.dat"},
                    std::vector<std::string>{"--input", " 5", "x.dat"},
                    std::vector<std::string>{"--input", "٥", "x.dat"},
                    std::vector<std::string>{"--date", "32.01.13", "x.dat"},
                    std::vector<std::string>{"--date", "00.01.13", "x.dat"},
                    std::vector<std::string>{"--date", "01.13.13", "x.dat"},
                    std::vector<std::string>{"--date", "01.00.13", "x.dat"},
                    std::vector<std::string>{"--date", "1.1.13", "x.dat"},
                    std::vector<std::string>{"--date", "01/01/13", "x.dat"},
                    std::vector<std::string>{"--date", "01.01.2013", "x.dat"},
                    std::vector<std::string>{"--date"}, std::vector<std::string>{"--"},
                    std::vector<std::string>{"--format", "csv", "--format", "jsonl", "x.dat"},
                    std::vector<std::string>{"--format", "CSV", "x.dat"},
                    std::vector<std::string>{"x.dat", "--format"},
                    std::vector<std::string>{"--format", "csv", "--block", "0", "x.dat"}));

TEST(ReportCliHelpTest, PrintsUsageOnStandardOutput) {
  const CliRun run = RunCli({"--help"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind("Usage: veks12-report", 0), 0u);
}

// Names as an operator types them, relative to the working folder.
TEST(ReportCliDashTest, AfterDoubleDashEveryArgumentIsAnArchive) {
  TempDir dir;
  struct Cwd {
    std::filesystem::path saved = std::filesystem::current_path();
    ~Cwd() { std::filesystem::current_path(saved); }
  } restore;
  std::filesystem::current_path(dir.path());
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--block", "1", "--", "-odd.dat"}, "-odd.dat"},
      {{"--", "--help"}, "--help"},
  };
  for (const auto& [args, name] : cases) {
    ArchiveBuilder().fillNumbered().setWriteOffset(8).writeTo(name);
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.code, 0) << name << ": " << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "Архив: файл " + name);
  }
}

// What cannot be written is said on stderr, in the system's words.
TEST_F(ReportCliTest, WriteErrorOnStandardOutputIsNamed) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{path_},
                                               {"--block", "1", path_},
                                               {"--format", "jsonl", path_},
                                               {"--help"}}) {
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    std::ostringstream err;
    int code = 0;
    {
      DescriptorBuffer full(fd);
      std::ostream out(&full);
      code = RunReportCli(args, out, err);
    }
    ::close(fd);
    EXPECT_EQ(code, 1) << args.front();
    EXPECT_EQ(err.str(), std::string("veks12-report: ") + std::strerror(ENOSPC) + "\n");
  }
}

}  // namespace
}  // namespace veks
