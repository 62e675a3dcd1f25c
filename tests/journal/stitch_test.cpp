#include "journal/stitch.h"

#include <gtest/gtest.h>

#include "tests/journal/history_expectation.h"

namespace veks {
namespace {

// Events named by a letter, to write small histories by hand.
EventRecord E(char name) {
  return MakeRecord(7, static_cast<std::uint8_t>(name), 0, 0, 0, 1, 1, 13);
}

std::vector<EventRecord> Events(std::string_view names) {
  std::vector<EventRecord> events;
  for (const char c : names) events.push_back(E(c));
  return events;
}

std::vector<std::string> Names(const MemoryHistory& history) {
  std::vector<std::string> segments;
  for (const Segment& s : history.segments()) {
    std::string names;
    for (const EventRecord& e : s.events) names += static_cast<char>(e[kArgumentByte]);
    segments.push_back(names);
  }
  return segments;
}

struct StitchCase {
  const char* name;
  std::vector<std::string> copies;    // imported in this order
  std::vector<std::string> segments;  // in the order they were made
  StitchPlan::Kind lastKind;
};

class StitchRulesTest : public testing::TestWithParam<StitchCase> {};

TEST_P(StitchRulesTest, GivesTheExpectedSegments) {
  MemoryHistory history;
  StitchPlan plan;
  for (const std::string& copy : GetParam().copies) plan = history.import(Events(copy));
  EXPECT_EQ(Names(history), GetParam().segments);
  EXPECT_EQ(plan.kind, GetParam().lastKind);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StitchRulesTest,
    testing::Values(
        StitchCase{"HeldInside", {"abcdef", "bcd"}, {"abcdef"}, StitchPlan::Kind::kAlreadyHeld},
        StitchCase{"Continues", {"abcd", "cdef"}, {"abcdef"}, StitchPlan::Kind::kJoined},
        StitchCase{"Precedes", {"cdef", "abcd"}, {"abcdef"}, StitchPlan::Kind::kJoined},
        StitchCase{"HoldsWhole", {"cd", "abcdef"}, {"abcdef"}, StitchPlan::Kind::kJoined},
        StitchCase{"AfterAGap", {"abc", "def"}, {"abc", "def"}, StitchPlan::Kind::kNewSegment},
        StitchCase{"BridgesTwo", {"abc", "fgh", "bcdefg"}, {"abcdefgh"}, StitchPlan::Kind::kJoined},
        StitchCase{"BridgesAndSwallows",
                   {"ab", "ghi", "de", "bcdefgh"},
                   {"abcdefghi"},
                   StitchPlan::Kind::kJoined},
        StitchCase{"InteriorSharedOnly",
                   {"abcde", "xcy"},
                   {"abcde", "xcy"},
                   StitchPlan::Kind::kNewSegment},
        StitchCase{"EmptyCopy", {"abc", ""}, {"abc"}, StitchPlan::Kind::kEmptyCopy},
        // Repeats: the longest overlap wins, on equal length the copy
        // continues the segment rather than preceding it.
        StitchCase{"RepeatsLongestOverlap", {"abab", "babx"}, {"ababx"}, StitchPlan::Kind::kJoined},
        StitchCase{
            "RepeatsContinueBeforePrecede", {"xa", "ax"}, {"xax"}, StitchPlan::Kind::kJoined}),
    [](const auto& info) { return info.param.name; });

// The property: whatever the order, with copies imported twice, the history
// is the stream's events that the copies cover, split exactly where copies
// do not overlap, and a second round of imports changes nothing.
TEST(StitchPropertyTest, HistoryIsTheCoveredStreamWhateverTheImportOrder) {
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    SimulatedCopies copies(seed, 2 + static_cast<int>(seed % 12), seed % 3 == 0 ? 2500 : 900);
    const auto expected = copies.expectedSegments();
    for (int round = 0; round < 3; ++round) {
      MemoryHistory history;
      for (const std::size_t copy : copies.importOrder()) history.import(copies.events(copy));
      std::vector<std::vector<EventRecord>> segments;
      for (const Segment& s : history.segments()) segments.push_back(s.events);
      // The simulated clock only moves on, so the year-to-second bytes
      // (7 down to 2) of a segment's first event order the segments in time.
      std::sort(segments.begin(), segments.end(), [](const auto& a, const auto& b) {
        return std::lexicographical_compare(a.front().rbegin(), a.front().rbegin() + 6,
                                            b.front().rbegin(), b.front().rbegin() + 6);
      });
      ASSERT_EQ(segments, expected) << "seed " << seed << " round " << round;
      for (std::size_t copy = 0; copy < copies.windows.size(); ++copy) {
        const auto again = history.import(copies.events(copy)).kind;
        ASSERT_TRUE(again == StitchPlan::Kind::kAlreadyHeld ||
                    again == StitchPlan::Kind::kEmptyCopy);
      }
    }
  }
}

}  // namespace
}  // namespace veks
