#include "report/report_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "archive/block_loader.h"
#include "tests/file_snapshot.h"
#include "tools/archive_builder.h"

namespace veks {
namespace {

// Keeps the lines as the report box shows them: a line feed starts a new line.
class LineSink : public ReportSink {
 public:
  void clear() override {
    lines.clear();
    ++clears;
  }
  void appendLine(const std::string& text) override {
    std::istringstream in(text + "\n");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  std::vector<std::string> lines;
  int clears = 0;
};

struct GapCase {
  const char* event;
  const char* input;
  const char* expected;
};

class ReportRowLineTest : public testing::TestWithParam<GapCase> {};

TEST_P(ReportRowLineTest, ChoosesGapsByCharacterCount) {
  EventTable table;
  table.setRow(1, {GetParam().event, GetParam().input, "T", "D"});
  EXPECT_EQ(ReportRowLine(table, 1), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, ReportRowLineTest,
    testing::Values(
        GapCase{"", "", "\t\t\t\t\t\tT\t\tD"},
        GapCase{"ЖЖЖЖЖЖ", "", "ЖЖЖЖЖЖ\t\t\t\t\t\tT\t\tD"},                      // 6: three
        GapCase{"ЖЖЖЖЖЖЖ", "", "ЖЖЖЖЖЖЖ\t\t\t\t\tT\t\tD"},                      // 7: two
        GapCase{"ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ", "", "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ\t\t\t\t\tT\t\tD"},  // 17: two
        GapCase{"ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ", "", "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ\t\t\t\tT\t\tD"},  // 18: one
        GapCase{"", "   МУК 1 вх", "\t\t\t   МУК 1 вх\t\t\tT\t\tD"},            // 11: three
        GapCase{"", "   МУК 12 вх", "\t\t\t   МУК 12 вх\t\t\tT\t\tD"},          // 12: three
        GapCase{"", "   МУК 1 вх 6", "\t\t\t   МУК 1 вх 6\t\tT\t\tD"},          // 13: two
        GapCase{"Пред. сигн.", "   МУК 12 вх 6", "Пред. сигн.\t\t   МУК 12 вх 6\t\tT\t\tD"}));

TEST(ReportRowLineTest, BlankRowIsEightTabsAndInvalidRecordEndsInSeven) {
  EventTable table;
  table.setRow(1, DecodeEventRow(EventRecord{}));
  table.setRow(2, DecodeEventRow(EventRecord{0xFF, 0, 0, 0, 0, 0, 0, 0}));
  table.setRow(3, DecodeEventRow(MakeRecord(6, 0, 0xFF, 0xFF, 0xFF, 1, 2, 3)));
  EXPECT_EQ(ReportRowLine(table, 1), "\t\t\t\t\t\t\t\t");
  EXPECT_EQ(ReportRowLine(table, 2), "**НЕКОРР ЗАП.**\t\t\t\t\t\t\t");
  EXPECT_EQ(ReportRowLine(table, 3), "Питание выкл\t\t\t\t\t \t\t01.02.03");
  EXPECT_EQ(ReportRowLine(table, 4), "\t\t\t\t\t\t\t\t");  // never written
}

TEST(ReportHeadTest, HeaderLineKeepsFixedGaps) {
  EventTable table;
  EXPECT_EQ(ReportHeaderLine(table), "\t\t\t\t\t\t\t");
  table.setRow(0, {"Событие", "  Номер входа", " Время", "Дата"});
  EXPECT_EQ(ReportHeaderLine(table), "Событие\t\t\t  Номер входа\t\t Время\t\tДата");
}

TEST(BlockReportTest, BeforeAnyLoadIsTitleTwoEmptyLinesAndTabs) {
  EventTable table;
  LineSink sink;
  sink.lines = {"old report"};
  ComposeBlockReport(table, "Документирование", 0, sink);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"Документирование", "", "", "\t\t\t\t\t\t\t"}));
}

class ReportWithArchiveTest : public testing::Test {
 protected:
  void SetUp() override {
    builder_.fillNumbered().setWriteOffset(800);
    builder_.writeTo(path_);
    state_.ArchiveName = path_;
  }
  TempDir dir_;
  std::string path_ = dir_.file("a.dat");
  ArchiveBuilder builder_;
  ViewState state_;
  EventTable table_;
  HeadlessHost host_;
  LineSink sink_;
};

TEST_F(ReportWithArchiveTest, BlockReportOfPlainViewHasTwentyOneLines) {
  state_.BlockDepth = 1;
  ASSERT_EQ(RunBlockLoader(state_, table_, host_), LoadOutcome::kFilled);
  ComposeBlockReport(table_, host_.statusLine(), state_.RowsShown, sink_);
  ASSERT_EQ(sink_.lines.size(), 4u + 17u);
  EXPECT_EQ(sink_.lines[0], "Архив: файл " + path_);
  EXPECT_EQ(sink_.lines[3], "Событие\t\t\t  Номер входа\t\t Время\t\tДата");
  EXPECT_EQ(sink_.lines[4], "Питание  вкл\t\t\t\t\t" + NumberedTimeText(99) + "\t\t" +
                                DecodeEventRow(NumberedRecord(99))[3]);
  EXPECT_EQ(sink_.lines[20], "\t\t\t\t\t\t\t\t");
}

TEST_F(ReportWithArchiveTest, BlockReportOfInputFilterWithFiveMatches) {
  for (int slot : {10, 20, 30, 40, 50})
    builder_.setRecord(slot, MakeRecord(2, 8, 1, 2, 3, 4, 5, 6));
  builder_.writeTo(path_);
  state_.InputNumber = 8;
  state_.InputFilter = 1;
  ASSERT_EQ(RunBlockLoader(state_, table_, host_), LoadOutcome::kFilled);
  ComposeBlockReport(table_, host_.statusLine(), state_.RowsShown, sink_);
  ASSERT_EQ(sink_.lines.size(), 4u + 6u);
  EXPECT_EQ(sink_.lines[0], "Архив: файл " + path_ + " вход № 8");
  EXPECT_EQ(sink_.lines[4], "клапан ЗАКРЫТ\t\t   МУК 2 вх 2\t\t01:02:03\t\t04.05.06");
}

TEST_F(ReportWithArchiveTest, WholeArchiveListsEveryBlockNewestFirst) {
  state_.BlockDepth = 62;
  state_.InputFilter = 1;
  const FileSnapshot before(path_);
  ASSERT_EQ(ComposeWholeArchiveReport(state_, table_, host_, sink_), WholeReportOutcome::kComplete);
  ASSERT_EQ(sink_.lines.size(), 1058u);
  EXPECT_EQ(sink_.lines[0], "Архив: файл " + path_);
  for (int block = 0; block < 62; ++block) {
    for (int i = 0; i < 16; ++i) {
      const int slot = ((99 - 16 * block - i) % kSlotCount + kSlotCount) % kSlotCount;
      const std::string& line = sink_.lines[static_cast<std::size_t>(4 + 17 * block + i)];
      ASSERT_NE(line.find(NumberedTimeText(slot)), std::string::npos) << block << " " << i;
    }
    EXPECT_EQ(sink_.lines[static_cast<std::size_t>(4 + 17 * block + 16)], "\t\t\t\t\t\t\t\t");
  }
  // Afterwards the table shows the newest block again, as after "newest".
  EXPECT_EQ(table_.cell(2, 1), NumberedTimeText(99));
  EXPECT_EQ(state_.BlockDepth, 1);
  EXPECT_EQ(state_.StepBack, 0);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(FileSnapshot(path_), before);
}

TEST_F(ReportWithArchiveTest, WholeArchiveWithoutNameKeepsTheBox) {
  state_.ArchiveName.clear();
  sink_.lines = {"previous"};
  EXPECT_EQ(ComposeWholeArchiveReport(state_, table_, host_, sink_),
            WholeReportOutcome::kNoArchiveName);
  EXPECT_EQ(host_.messages, std::vector<std::string>{"Не задано имя файла архива"});
  EXPECT_EQ(sink_.lines, std::vector<std::string>{"previous"});
}

// A load that fails part-way stops the report with one message and an empty
// box, instead of 62 passes of stale rows under the whole archive's title.
class FailingLoadHost : public HeadlessHost {
 public:
  FailingLoadHost(std::string path, int failAfterLoads)
      : path_(std::move(path)), left_(failAfterLoads) {}
  void tableRewritten() override {
    if (--left_ == 0) std::filesystem::remove(path_);
  }

 private:
  std::string path_;
  int left_;
};

TEST_F(ReportWithArchiveTest, WholeArchiveStopsAtTheFirstFailedLoad) {
  for (int failAfter : {1, 10, 62}) {
    builder_.writeTo(path_);
    FailingLoadHost host(path_, failAfter);
    sink_.lines = {"previous"};
    EXPECT_EQ(ComposeWholeArchiveReport(state_, table_, host, sink_),
              WholeReportOutcome::kLoadFailed);
    EXPECT_EQ(host.messages, std::vector<std::string>{"Архив не удается открыть"}) << failAfter;
    EXPECT_TRUE(sink_.lines.empty()) << failAfter;
  }
}

TEST_F(ReportWithArchiveTest, WholeArchiveOfAnEmptyArchiveIsOneMessage) {
  builder_.setWriteOffset(255).writeTo(path_);
  EXPECT_EQ(ComposeWholeArchiveReport(state_, table_, host_, sink_),
            WholeReportOutcome::kLoadFailed);
  EXPECT_EQ(host_.messages, std::vector<std::string>{"архив пуст"});
  EXPECT_TRUE(sink_.lines.empty());
}

}  // namespace
}  // namespace veks
