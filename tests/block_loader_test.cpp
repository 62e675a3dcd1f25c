#include "archive/block_loader.h"

#include <gtest/gtest.h>

#include <vector>

#include "archive/archive_file.h"
#include "report/report_text.h"
#include "tests/file_snapshot.h"
#include "tools/archive_builder.h"

namespace veks {
namespace {

class BlockLoaderTest : public testing::Test {
 protected:
  // A full ring of numbered records; WriteOffset 800 makes slot 99 the newest.
  void SetUp() override {
    builder_.fillNumbered().setWriteOffset(800);
    Write();
    state_.ArchiveName = path_;
  }
  void Write() { builder_.writeTo(path_); }

  LoadOutcome Run() { return RunBlockLoader(state_, table_, host_); }

  // Raises a request as the window's handlers do: 'n' newest block, 'o' oldest
  // block, 'b' one back, 'f' one forward, 'i' input 3, 'd' the date of slot 50.
  void Request(char request) {
    switch (request) {
      case 'n':
        state_.BlockDepth = 1;
        break;
      case 'o':
        state_.BlockDepth = 62;
        break;
      case 'b':
        state_.StepBack = 1;
        break;
      case 'f':
        state_.StepForward = 1;
        break;
      case 'i':
        state_.InputNumber = 3;
        state_.InputFilter = 1;
        break;
      case 'd':
        state_.SearchDate = "23.02.20";
        state_.DateSearch = 1;
        break;
    }
  }

  // The slots that rows 1 to 16 show, read back from their numbered times.
  std::vector<int> ShownSlots() const {
    std::vector<int> slots;
    for (int row = 1; row <= 16; ++row) {
      const std::string& time = table_.cell(2, row);
      slots.push_back(
          time.size() == 8 ? std::stoi(time.substr(3, 2)) * 60 + std::stoi(time.substr(6, 2)) : -1);
    }
    return slots;
  }

  static std::vector<int> SlotsDown(int from) {
    std::vector<int> slots;
    for (int i = 0; i < 16; ++i) slots.push_back((from - i + kSlotCount) % kSlotCount);
    return slots;
  }

  TempDir dir_;
  std::string path_ = dir_.file("archive.dat");
  ArchiveBuilder builder_;
  ViewState state_;
  EventTable table_;
  HeadlessHost host_;
};

TEST_F(BlockLoaderTest, NewestBlockFillsHeaderSixteenRowsAndBlankRow) {
  state_.BlockDepth = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(ShownSlots(), SlotsDown(99));
  EXPECT_EQ(state_.Cursor, 83 * 8);
  EXPECT_EQ(table_.cell(0, 0), "Событие");
  EXPECT_EQ(table_.cell(1, 0), "  Номер входа");
  EXPECT_EQ(table_.cell(2, 0), " Время");
  EXPECT_EQ(table_.cell(3, 0), "Дата");
  EXPECT_EQ(table_.rowCount(), 17);
  EXPECT_EQ(state_.RowsShown, 17);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(table_.cell(c, 17), "");
  // The rows keep the records they show; the header and the blank row have none.
  EXPECT_EQ(table_.record(1), NumberedRecord(99));
  EXPECT_EQ(table_.record(16), NumberedRecord(84));
  EXPECT_EQ(table_.record(0), std::nullopt);
  EXPECT_EQ(table_.record(17), std::nullopt);
  EXPECT_EQ(host_.status, "Архив: файл " + path_);
  EXPECT_EQ(host_.newestStamp, RecordStampText(NumberedRecord(99)));
  EXPECT_TRUE(host_.stepButtonsEnabled);
  EXPECT_TRUE(host_.messages.empty());
}

struct DepthCase {
  std::int32_t depth;
  int firstSlot;
  std::int32_t writeOffset = 800;
};

class PlainViewDepthTest : public BlockLoaderTest, public testing::WithParamInterface<DepthCase> {};

TEST_P(PlainViewDepthTest, ShowsTheBlockCountedFromTheNewest) {
  builder_.setWriteOffset(GetParam().writeOffset);
  Write();
  state_.BlockDepth = GetParam().depth;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(ShownSlots(), SlotsDown(GetParam().firstSlot));
}

// Depth 0 acts as 1; 62 is the oldest block, whose last slot is where the
// device writes next; deeper requests go round the ring again. WriteOffset 8
// makes slot 0 the newest, 0 and 7,936 both make slot 991 the newest.
INSTANTIATE_TEST_SUITE_P(Depths, PlainViewDepthTest,
                         testing::Values(DepthCase{0, 99}, DepthCase{1, 99}, DepthCase{2, 83},
                                         DepthCase{62, 115}, DepthCase{63, 99}, DepthCase{-5, 99},
                                         DepthCase{1, 0, 8}, DepthCase{62, 16, 8},
                                         DepthCase{1, 991, 0}, DepthCase{1, 991, 7936},
                                         DepthCase{62, 15, 7936}));

struct StepCase {
  const char* name;
  std::vector<char> moves;  // 'n' newest, 'o' oldest, 'b' back, 'f' forward, 'i' input filter
  int firstSlot;
};

class StepTest : public BlockLoaderTest, public testing::WithParamInterface<StepCase> {};

TEST_P(StepTest, EndsOnTheExpectedBlock) {
  builder_.setRecord(500, MakeRecord(0, 3, 1, 2, 3, 4, 5, 6));  // the input filter's one match
  Write();
  for (char move : GetParam().moves) {
    Request(move);
    ASSERT_EQ(Run(), LoadOutcome::kFilled) << move;
  }
  EXPECT_EQ(ShownSlots(), SlotsDown(GetParam().firstSlot));
}

INSTANTIATE_TEST_SUITE_P(
    Moves, StepTest,
    testing::Values(StepCase{"BackFromNewest", {'n', 'b'}, 83},
                    StepCase{"TwoBack", {'n', 'b', 'b'}, 67},
                    StepCase{"ForwardFromNewestIsOldest", {'n', 'f'}, 115},
                    StepCase{"BackFromOldestIsNewest", {'o', 'b'}, 99},
                    StepCase{"TwoBackTwoForwardReturns", {'n', 'b', 'b', 'f', 'f'}, 99},
                    StepCase{"TwiceForwardFromOldest", {'o', 'f', 'f'}, 147},
                    StepCase{"BackAfterInputFilterIsNewest", {'n', 'i', 'b'}, 99},
                    StepCase{"ForwardAfterInputFilter", {'n', 'i', 'f'}, 131}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BlockLoaderTest, StepStatusLineEndsWithTheFirstRecordsStamp) {
  state_.BlockDepth = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  state_.StepBack = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(host_.status,
            "Архив: файл " + path_ + "  время: " + RecordStampText(NumberedRecord(83)));
  EXPECT_EQ(state_.StepBack, 0);
}

TEST_F(BlockLoaderTest, StepStatusLineLeavesOutTheTimeOfAnUndatedRecord) {
  for (const auto& [day, month] :
       std::vector<std::pair<int, int>>{{0, 5}, {255, 5}, {5, 0}, {5, 255}}) {
    builder_.setRecord(83, MakeRecord(7, 0, 1, 2, 3, static_cast<std::uint8_t>(day),
                                      static_cast<std::uint8_t>(month), 20));
    Write();
    state_.BlockDepth = 1;
    ASSERT_EQ(Run(), LoadOutcome::kFilled);
    state_.StepBack = 1;
    ASSERT_EQ(Run(), LoadOutcome::kFilled);
    EXPECT_EQ(host_.status, "Архив: файл " + path_) << day << "." << month;
  }
}

// A cursor off the slot grid (a state set by hand) restarts from the newest
// record instead of reading outside the ring or across two slots.
TEST_F(BlockLoaderTest, StepFromAStrayCursorStartsAtTheNewestRecord) {
  for (const std::int32_t cursor : {3, -8, 7936, 100000}) {
    state_.Cursor = cursor;
    state_.StepBack = 1;
    ASSERT_EQ(Run(), LoadOutcome::kFilled);
    EXPECT_EQ(ShownSlots(), SlotsDown(99)) << cursor;
  }
}

TEST(EventTableTest, ReadsOutsideWhatWasWrittenAreEmpty) {
  EventTable table;
  table.setRow(2, {"a", "b", "c", "d"});
  table.setRow(-1, {"x", "x", "x", "x"});
  table.setRow(3, {"", "", "", ""}, EventRecord{});
  table.setRow(4, {"", "", "", ""}, EventRecord{});
  table.setRow(4, {"", "", "", ""});  // rewritten as texts only: no record left
  EXPECT_EQ(table.rowCount(), 17);
  EXPECT_EQ(table.record(3), EventRecord{});
  for (int row : {-1, 2, 4, 5000}) EXPECT_EQ(table.record(row), std::nullopt) << row;
  EXPECT_EQ(table.cell(3, 2), "d");
  for (const auto& [column, row] :
       std::vector<std::pair<int, int>>{{0, 0}, {-1, 2}, {4, 2}, {0, -1}, {0, 5}, {0, 5000}}) {
    EXPECT_EQ(table.cell(column, row), "") << column << "," << row;
  }
  table.setRowCount(-4);
  EXPECT_EQ(table.rowCount(), 0);
  EXPECT_EQ(table.cell(0, 2), "a");  // rows past the count keep their texts
}

TEST_F(BlockLoaderTest, StepsDoNotEnableTheStepButtons) {
  state_.StepBack = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_FALSE(host_.stepButtonsEnabled);
}

// ---- requests that end early ----

struct EarlyEndCase {
  const char* name;
  char request;  // ends early: 'b' step back, 'f' step forward, 'i' input filter, 'd' date search
  char next;     // the operator's next request: 'n' newest block, 'd' date search, 'w' whole report
};

class EarlyEndTest : public BlockLoaderTest, public testing::WithParamInterface<EarlyEndCase> {
 protected:
  struct Lines : ReportSink {
    void clear() override { lines.clear(); }
    void appendLine(const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
  };
};

// A request that ends with a message (no archive name, or the file cannot be
// opened) leaves no request behind: the next request does exactly what it says.
TEST_P(EarlyEndTest, LeavesNoRequestForTheNextOne) {
  builder_.setRecord(500, MakeRecord(0, 3, 1, 2, 3, 4, 5, 6));  // input 3's one record
  Write();
  for (const bool noName : {true, false}) {
    SCOPED_TRACE(noName ? "no archive name" : "file cannot be opened");
    state_ = ViewState{};
    state_.ArchiveName = path_;
    state_.BlockDepth = 1;
    ASSERT_EQ(Run(), LoadOutcome::kFilled);  // the cursor now rests on slot 83
    host_.messages.clear();

    state_.ArchiveName = noName ? "" : dir_.file("unplugged.dat");
    Request(GetParam().request);
    EXPECT_EQ(Run(), noName ? LoadOutcome::kNoArchiveName : LoadOutcome::kCannotOpen);
    EXPECT_EQ(host_.messages, std::vector<std::string>{noName ? "Не задано имя файла архива"
                                                              : "Архив не удается открыть"});
    EXPECT_EQ(state_.StepForward + state_.StepBack + state_.InputFilter + state_.DateSearch, 0);

    state_.ArchiveName = path_;
    switch (GetParam().next) {
      case 'n':
        state_.InputFilter = 0;
        state_.BlockDepth = 1;
        ASSERT_EQ(Run(), LoadOutcome::kFilled);
        EXPECT_EQ(ShownSlots(), SlotsDown(99));
        EXPECT_EQ(host_.status, "Архив: файл " + path_);
        break;
      case 'd':
        state_.SearchDate = "07.04.20";  // slot 90
        state_.DateSearch = 1;
        ASSERT_EQ(Run(), LoadOutcome::kFilled);
        EXPECT_EQ(ShownSlots(), SlotsDown(90));
        EXPECT_EQ(host_.status, "Архив: файл " + path_ + "  07.04.20");
        break;
      case 'w': {
        Lines report;
        ASSERT_EQ(ComposeWholeArchiveReport(state_, table_, host_, report),
                  WholeReportOutcome::kComplete);
        EXPECT_EQ(report.lines[0], "Архив: файл " + path_);
        // Title, the line-feed line, the header, then the first row.
        EXPECT_NE(report.lines[3].find(NumberedTimeText(99)), std::string::npos);
        break;
      }
    }
    EXPECT_EQ(host_.messages.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Flows, EarlyEndTest,
                         testing::Values(EarlyEndCase{"StepBackThenNewest", 'b', 'n'},
                                         EarlyEndCase{"StepForwardThenNewest", 'f', 'n'},
                                         EarlyEndCase{"InputFilterThenDateSearch", 'i', 'd'},
                                         EarlyEndCase{"DateSearchThenNewest", 'd', 'n'},
                                         EarlyEndCase{"StepBackThenWholeReport", 'b', 'w'},
                                         EarlyEndCase{"DateSearchThenWholeReport", 'd', 'w'}),
                         [](const auto& info) { return std::string(info.param.name); });

class UnusableArchiveTest
    : public BlockLoaderTest,
      public testing::WithParamInterface<std::pair<std::int32_t, const char*>> {};

// An empty or damaged archive leaves the table, status line and stamp as they
// were and clears the requests.
TEST_P(UnusableArchiveTest, KeepsTheViewAndClearsRequests) {
  state_.BlockDepth = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  const std::string status = host_.status, stamp = host_.newestStamp;
  const std::string firstCell = table_.cell(2, 1);

  builder_.setWriteOffset(GetParam().first);
  Write();
  state_.StepForward = state_.StepBack = state_.InputFilter = state_.DateSearch = 1;
  EXPECT_NE(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(host_.messages, std::vector<std::string>{GetParam().second});
  EXPECT_EQ(state_.StepForward + state_.StepBack + state_.InputFilter + state_.DateSearch, 0);
  EXPECT_EQ(host_.status, status);
  EXPECT_EQ(host_.newestStamp, stamp);
  EXPECT_EQ(table_.cell(2, 1), firstCell);
  EXPECT_EQ(state_.RowsShown, 17);
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, UnusableArchiveTest,
    testing::Values(std::pair{255, "архив пуст"},
                    std::pair{-1, "Архив поврежден: неверный указатель записи"},
                    std::pair{7937, "Архив поврежден: неверный указатель записи"},
                    std::pair{12, "Архив поврежден: неверный указатель записи"}));

// Only a record without time and without date gives an empty stamp; single
// 255 bytes are shown as they stand.
TEST_F(BlockLoaderTest, NewestStampOfPartlyUndatedRecords) {
  const std::vector<std::pair<EventRecord, std::string>> cases = {
      {MakeRecord(7, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF), ""},
      {MakeRecord(7, 0, 0xFF, 0xFF, 0xFF, 4, 5, 6), "255:255:255 04.05.06"},
      {MakeRecord(7, 0, 1, 2, 3, 0xFF, 0xFF, 0xFF), "01:02:03 255.255.255"},
      {MakeRecord(7, 0, 0xFF, 2, 3, 4, 5, 6), "255:02:03 04.05.06"},
      {MakeRecord(7, 0, 1, 2, 3, 4, 5, 0xFF), "01:02:03 04.05.255"},
      {MakeRecord(7, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 20), "255:255:255 255.255.20"},
  };
  for (const auto& [record, stamp] : cases) {
    builder_.setRecord(99, record);
    Write();
    ASSERT_EQ(Run(), LoadOutcome::kFilled);
    EXPECT_EQ(host_.newestStamp, stamp);
  }
}

TEST_F(BlockLoaderTest, ShortFileShowsTheLastSlotAsNewest) {
  builder_.writeTo(path_, 7938);  // WriteOffset bytes cut to 20 03 00 00 -> 800 survives
  ArchiveBuilder().setRecord(991, NumberedRecord(991)).writeTo(path_, 7936);
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(table_.cell(2, 1), NumberedTimeText(991));
  EXPECT_EQ(table_.cell(0, 2), "");  // slot 990 is empty
}

// ---- input filter ----

TEST_F(BlockLoaderTest, InputFilterTakesCodesZeroToFourOfThatInputOnly) {
  ArchiveBuilder b;
  const std::uint8_t codes[] = {0, 1, 2, 3, 4, 5, 6, 50, 52, 255};
  for (int i = 0; i < 10; ++i)
    b.setRecord(i, MakeRecord(codes[i], 5, 1, 0, static_cast<std::uint8_t>(i), 1, 1, 20));
  b.setRecord(10, MakeRecord(0, 6, 1, 0, 10, 1, 1, 20));  // another input
  b.setWriteOffset(11 * 8).writeTo(path_);
  state_.InputNumber = 5;
  state_.InputFilter = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(state_.RowsShown, 6);
  EXPECT_EQ(table_.rowCount(), 6);
  const char* expectedSeconds[] = {"04", "03", "02", "01", "00"};  // newest first
  for (int row = 1; row <= 5; ++row)
    EXPECT_EQ(table_.cell(2, row).substr(6), expectedSeconds[row - 1]);
  EXPECT_EQ(table_.cell(0, 6), "");
  EXPECT_EQ(host_.status, "Архив: файл " + path_ + " вход № 5");
  EXPECT_FALSE(host_.stepButtonsEnabled);
  EXPECT_EQ(state_.Cursor, 10 * 8);  // a full turn from the newest record
  EXPECT_EQ(state_.InputFilter, 0);
}

TEST_F(BlockLoaderTest, InputFilterNeverTakesEmptySlots) {
  ArchiveBuilder b;  // all slots empty, their input byte 0
  b.setRecord(3, MakeRecord(0, 0, 0, 0, 0, 0, 1, 0)).setWriteOffset(8).writeTo(path_);
  state_.InputNumber = 0;
  state_.InputFilter = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(state_.RowsShown, 2);
}

TEST_F(BlockLoaderTest, InputFilterListsAllRecordsWhenAllMatch) {
  ArchiveBuilder().fillNumbered(1, 200).setWriteOffset(800).writeTo(path_);
  state_.InputNumber = 200;
  state_.InputFilter = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(state_.RowsShown, 993);
  EXPECT_EQ(table_.rowCount(), 993);
  EXPECT_EQ(table_.cell(2, 1), NumberedTimeText(99));
  EXPECT_EQ(table_.cell(2, 992), NumberedTimeText(100));
  for (int c = 0; c < 4; ++c) EXPECT_EQ(table_.cell(c, 993), "");
}

TEST_F(BlockLoaderTest, InputFilterWithoutMatchKeepsTheTable) {
  state_.BlockDepth = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  state_.InputNumber = 9;  // numbered records all have code 7
  state_.InputFilter = 1;
  EXPECT_EQ(Run(), LoadOutcome::kNoEvents);
  EXPECT_EQ(host_.messages, std::vector<std::string>{"нет событий"});
  EXPECT_EQ(ShownSlots(), SlotsDown(99));
  EXPECT_EQ(state_.RowsShown, 17);
  EXPECT_EQ(host_.status, "Архив: файл " + path_);
  EXPECT_EQ(state_.InputFilter, 0);
}

// ---- date search ----

class DateSearchTest : public BlockLoaderTest {
 protected:
  LoadOutcome Search(const std::string& date) {
    state_.SearchDate = date;
    state_.DateSearch = 1;
    return Run();
  }
};

TEST_F(DateSearchTest, StartsTheBlockAtTheNewestRecordOfTheDate) {
  // The records of 07.07.07 lie in the newest block, the middle, and among the
  // oldest; each time the match and the slot before it.
  for (const int slot : {99, 98 - 300, 100 + 3}) {
    const int at = (slot + kSlotCount) % kSlotCount;
    ArchiveBuilder b;
    b.fillNumbered();
    b.setRecord(at, MakeRecord(7, 0, 1, 1, 1, 7, 7, 7));
    b.setRecord((at + kSlotCount - 1) % kSlotCount, MakeRecord(6, 0, 1, 1, 0, 7, 7, 7));
    b.setWriteOffset(800).writeTo(path_);
    ASSERT_EQ(Search("07.07.07"), LoadOutcome::kFilled) << at;
    EXPECT_EQ(table_.cell(0, 1), "Питание  вкл");
    EXPECT_EQ(table_.cell(0, 2), "Питание выкл");
    EXPECT_EQ(host_.status, "Архив: файл " + path_ + "  07.07.07");
    EXPECT_TRUE(host_.stepButtonsEnabled);
    EXPECT_EQ(state_.DateSearch, 0);
  }
}

TEST_F(DateSearchTest, MatchAmongTheOldestWrapsToTheNewestRecords) {
  builder_.setRecord(103, MakeRecord(7, 0, 1, 1, 1, 7, 7, 7));  // 4th oldest
  Write();
  ASSERT_EQ(Search("07.07.07"), LoadOutcome::kFilled);
  std::vector<int> expected = {61, 102, 101, 100, 99, 98, 97, 96, 95, 94, 93, 92, 91, 90, 89, 88};
  EXPECT_EQ(ShownSlots(), expected);
}

struct OldestMatchCase {
  std::int32_t writeOffset;
  int oldestSlot;
  int newestSlot;
};

class OldestMatchTest : public DateSearchTest,
                        public testing::WithParamInterface<OldestMatchCase> {};

// The search reaches the last of the 992 records, and a year of 99 is a date
// like any other; the block then goes on with the newest records.
TEST_P(OldestMatchTest, FindsTheOnlyMatchInTheOldestRecord) {
  EventRecord oldest = NumberedRecord(GetParam().oldestSlot);
  oldest[kDayByte] = 31;
  oldest[kMonthByte] = 12;
  oldest[kYearByte] = 99;
  builder_.setRecord(GetParam().oldestSlot, oldest).setWriteOffset(GetParam().writeOffset);
  Write();
  ASSERT_EQ(Search("31.12.99"), LoadOutcome::kFilled);
  std::vector<int> expected = SlotsDown(GetParam().newestSlot);
  expected.insert(expected.begin(), GetParam().oldestSlot);
  expected.pop_back();
  EXPECT_EQ(ShownSlots(), expected);
  EXPECT_EQ(table_.cell(3, 1), "31.12.99");
}

INSTANTIATE_TEST_SUITE_P(Offsets, OldestMatchTest,
                         testing::Values(OldestMatchCase{0, 0, 991}, OldestMatchCase{8, 1, 0},
                                         OldestMatchCase{7936, 0, 991},
                                         OldestMatchCase{800, 100, 99}));

TEST_F(DateSearchTest, AbsentDateKeepsTheTable) {
  state_.BlockDepth = 1;
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(Search("31.12.99"), LoadOutcome::kDateNotFound);
  EXPECT_EQ(host_.messages, std::vector<std::string>{"Указанная дата не найдена"});
  EXPECT_EQ(ShownSlots(), SlotsDown(99));
  EXPECT_EQ(host_.status, "Архив: файл " + path_);
  EXPECT_EQ(state_.Cursor, 99 * 8);
  EXPECT_EQ(state_.DateSearch, 0);
}

TEST_F(DateSearchTest, MatchesOnlyTheRecordsOwnDate) {
  ArchiveBuilder b;
  b.setRecord(5, MakeRecord(7, 0, 1, 2, 3, 105, 7, 7));   // day 105 is not "05"
  b.setRecord(4, MakeRecord(7, 0, 1, 2, 3, 5, 7, 0xFF));  // undated year
  b.setRecord(3, MakeRecord(6, 0, 1, 2, 3, 0xFF, 0xFF, 0xFF));
  b.setRecord(2, MakeRecord(0xFF, 0, 1, 2, 3, 5, 7, 7));  // invalid record, right date
  b.setWriteOffset(6 * 8).writeTo(path_);
  const FileSnapshot before(path_);
  ASSERT_EQ(Search("05.07.07"), LoadOutcome::kFilled);
  EXPECT_EQ(table_.cell(0, 1), "**НЕКОРР ЗАП.**");
  EXPECT_EQ(FileSnapshot(path_), before);

  // Records passed by the search keep their real bytes when the block wraps to them.
  b.setRecord(0, MakeRecord(7, 0, 9, 9, 9, 5, 7, 7)).setRecord(2, {}).writeTo(path_);
  ASSERT_EQ(Search("05.07.07"), LoadOutcome::kFilled);
  EXPECT_EQ(table_.cell(2, 1), "09:09:09");
  EXPECT_EQ(table_.cell(3, 1), "05.07.07");
}

TEST_F(DateSearchTest, UndatedRecordsKeepTheirBytesInTheBlock) {
  ArchiveBuilder b;
  b.setRecord(0, MakeRecord(7, 0, 1, 2, 3, 4, 5, 6));
  b.setRecord(5, MakeRecord(6, 0, 9, 8, 7, 0xFF, 0xFF, 0xFF));
  b.setRecord(4, MakeRecord(6, 0, 9, 8, 7, 1, 0xFF, 3));
  b.setWriteOffset(6 * 8).writeTo(path_);
  ASSERT_EQ(Search("04.05.06"), LoadOutcome::kFilled);
  // The block is slot 0, then 991 down to 977 (empty): passed records are not in it.
  EXPECT_EQ(table_.cell(2, 1), "01:02:03");
  state_.StepForward = 1;  // the next newer block holds slots 16 down to 1
  ASSERT_EQ(Run(), LoadOutcome::kFilled);
  EXPECT_EQ(table_.cell(2, 12), "09:08:07");  // slot 5
  EXPECT_EQ(table_.cell(3, 12), "");
  EXPECT_EQ(table_.cell(2, 13), "09:08:07");  // slot 4
  EXPECT_EQ(table_.cell(3, 13), "01.255.03");
}

TEST_F(DateSearchTest, OnlyFullStopDatesMatch) {
  builder_.setRecord(50, MakeRecord(7, 0, 1, 1, 1, 7, 7, 7));
  Write();
  EXPECT_EQ(Search("07/07/07"), LoadOutcome::kDateNotFound);
  EXPECT_EQ(Search(""), LoadOutcome::kDateNotFound);
  EXPECT_EQ(Search("07.07.07"), LoadOutcome::kFilled);
}

TEST_F(DateSearchTest, ArchiveIsUntouchedByEveryView) {
  const FileSnapshot before(path_);
  Search("01.01.20");
  state_.InputNumber = 0;
  state_.InputFilter = 1;
  Run();
  state_.StepBack = 1;
  Run();
  state_.StepForward = 1;
  Run();
  EXPECT_EQ(FileSnapshot(path_), before);
}

}  // namespace
}  // namespace veks
