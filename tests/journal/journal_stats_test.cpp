#include "journal/journal_stats.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>

#include "journal/journal.h"
#include "journal/stats_output.h"
#include "report/event_export.h"
#include "tests/journal/history_expectation.h"
#include "tests/journal/test_engines.h"

namespace veks {
namespace {

using Segments = std::vector<std::vector<EventRecord>>;

std::int64_t SecondsOf(const std::string& stamp) {
  std::tm tm{};
  strptime(stamp.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
  return timegm(&tm);
}

// The statistics of one device's segments, counted event by event from the
// records themselves.
std::vector<StatRow> CountedStats(const std::string& device, const Segments& segments,
                                  const StatsFilter& filter) {
  std::map<StatMeasure, std::map<std::string, std::int64_t>> counts;
  std::int64_t events = 0, held = 0;
  for (const auto& segment : segments) {
    std::map<std::string, std::vector<std::optional<std::string>>> inputStamps;
    bool holds = false;
    for (const EventRecord& e : segment) {
      const std::optional<std::string> stamp = EventTimestamp(e);
      if ((filter.fromDate || filter.toDate) &&
          (!stamp || stamp->substr(0, 10) < filter.fromDate.value_or("") ||
           stamp->substr(0, 10) > filter.toDate.value_or("9"))) {
        continue;
      }
      holds = true;
      ++events;
      const auto texts = TrimmedEventTexts(e);
      ++counts[StatMeasure::kKind][texts[0]];
      if (e[kCodeByte] <= 3) {
        ++counts[StatMeasure::kInput][texts[1]];
        ++counts[e[kCodeByte] == 0 ? StatMeasure::kInputOff : StatMeasure::kInputOn][texts[1]];
        inputStamps[texts[1]].push_back(stamp);
      }
      const std::string module = texts[1].substr(0, texts[1].find(" вх "));
      if (texts[0] == "клапан ОТКРЫТ") ++counts[StatMeasure::kValveOpened][module];
      if (texts[0] == "клапан ЗАКРЫТ") ++counts[StatMeasure::kValveClosed][module];
      if (stamp) {
        ++counts[StatMeasure::kDay][stamp->substr(0, 10)];
        ++counts[StatMeasure::kFloodSlot][stamp->substr(0, 15) + "0"];
      }
    }
    held += holds ? 1 : 0;
    for (const auto& [input, stamps] : inputStamps) {
      for (std::size_t i = 2; i < stamps.size(); ++i) {
        if (!stamps[i] || !stamps[i - 2]) continue;
        const std::int64_t gap = SecondsOf(*stamps[i]) - SecondsOf(*stamps[i - 2]);
        if (gap >= 0 && gap <= 60) ++counts[StatMeasure::kChatter][input];
      }
    }
  }
  if (events == 0) return {};
  std::vector<StatRow> rows = {{device, StatMeasure::kEvents, "", events},
                               {device, StatMeasure::kSegments, "", held}};
  for (const auto& [measure, byKey] : counts) {
    for (const auto& [key, n] : byKey) {
      if (measure != StatMeasure::kFloodSlot || n > 10) rows.push_back({device, measure, key, n});
    }
  }
  return rows;
}

EventRecord At(std::uint8_t code, std::uint8_t argument, const char* hhmmss, int day = 10) {
  const auto two = [&](int at) { return static_cast<std::uint8_t>(std::atoi(hhmmss + at)); };
  return MakeRecord(code, argument, two(0), two(3), two(6), static_cast<std::uint8_t>(day), 5, 14);
}

// Two segments of a test stand, built for the edges: chatter at exactly 60 s
// and at 61 s, among other inputs' events, across an event without a
// timestamp and across a clock set back; slots of exactly 10 and 11 events;
// an input's run and a slot that the gap between the segments splits.
Segments StandSegments() {
  const EventRecord noClock = MakeRecord(0, 7, 25, 0, 0, 10, 5, 14);
  Segments segments(2);
  // clang-format off
  segments[0] = {
      At(1, 1, "10:00:00"), At(1, 2, "10:00:00"), At(0, 3, "10:00:10"), At(2, 1, "10:00:30"),
      At(2, 2, "10:00:30"), At(1, 1, "10:01:00"), At(3, 2, "10:01:01"), At(7, 0, "10:05:00"),
      At(6, 0, "10:06:00"), At(7, 0, "10:09:59"), At(52, 1, "10:10:00"), At(52, 2, "10:10:50"),
      At(52, 3, "10:11:40"), At(52, 4, "10:12:30"), At(52, 5, "10:13:20"), At(52, 6, "10:14:10"),
      At(52, 7, "10:15:00"), At(52, 8, "10:15:50"), At(52, 1, "10:16:40"), At(52, 2, "10:17:30"),
      At(52, 3, "10:18:20"), At(1, 7, "10:20:00"), noClock, At(0, 7, "10:20:10"),
      At(1, 8, "10:21:00"), At(1, 8, "10:21:05"), At(0xFF, 8, "10:21:06"), At(1, 9, "10:30:00"),
      At(2, 9, "10:29:30"), At(3, 9, "10:29:00"), At(1, 61, "10:35:00"), At(0, 13, "10:36:00"),
      At(1, 5, "10:40:00"), At(0, 5, "10:40:10"), At(7, 0, "10:41:00"), At(6, 0, "10:42:00"),
      At(7, 0, "10:43:00"), At(6, 0, "10:44:00")};
  segments[1] = {
      At(1, 5, "10:40:20"), At(24, 0, "10:45:00"), At(25, 0, "10:46:00"), At(24, 0, "10:47:00"),
      At(25, 0, "10:48:00"), At(24, 0, "10:49:00"), At(50, 1, "09:00:00", 11),
      At(51, 1, "09:00:30", 11)};
  // clang-format on
  return segments;
}

class JournalStatsTest : public BothEngines {
 protected:
  std::unique_ptr<Journal> openJournal() {
    auto opened = Journal::Open(journal_, Journal::Access::kImport);
    EXPECT_TRUE(opened.ok());
    return opened.ok() ? std::move(opened.value()) : nullptr;
  }
  // Imports each list as a copy of its own into `device`.
  void importCopies(Journal& journal, const std::string& device, const Segments& copies) {
    for (const auto& events : copies) {
      ArchiveBuilder archive;
      for (std::size_t i = 0; i < events.size(); ++i)
        archive.setRecord(static_cast<int>(i), events[i]);
      archive.setWriteOffset(static_cast<std::int32_t>(events.size() * kRecordSize));
      archive.writeTo(copy_);
      ASSERT_TRUE(journal.importArchive(copy_, device).ok());
    }
  }

  std::string journal_ = location("j.sqlite");
  std::string copy_ = dir_.file("copy.dat");
};

// Whatever the filter, the statistics are those counted event by event from
// the stream the copies hold, and the timeline's periods add up to its days.
TEST_P(JournalStatsTest, StatsAreTheCountsOfTheHeldStream) {
  std::mt19937 random(7);
  // The server's imports are slower; its run takes one seed of each pace.
  const std::uint32_t seeds = onServer() ? 3 : 6;
  for (std::uint32_t seed = 1; seed <= seeds; ++seed) {
    DeviceSimulator::Options options;
    options.maxSecondsBetween = seed % 3 == 0 ? 25 : seed % 3 == 1 ? 90 : 1200;
    const SimulatedCopies copies(seed, 5, 1600, options);
    journal_ = location("j" + std::to_string(seed) + ".sqlite");
    auto journal = openJournal();
    for (std::size_t i = 0; i < copies.archives.size(); ++i) {
      copies.archives[i].writeTo(copy_);
      ASSERT_TRUE(journal->importArchive(copy_, std::string("котёл")).ok());
    }
    importCopies(*journal, "стенд", StandSegments());
    const Segments boiler = copies.expectedSegments();
    const auto& stream = copies.device.events();
    const std::string first = EventTimestamp(stream.front()).value_or("2013-01-01").substr(0, 10);
    const std::string last = EventTimestamp(stream.back()).value_or("2014-01-01").substr(0, 10);
    const std::string dates[] = {first, last, "2014-05-10", "2014-05-11", "2013-02-01"};
    for (int round = 0; round < 12; ++round) {
      StatsFilter filter;
      if (round % 3 == 1) filter.device = "котёл";
      if (round % 3 == 2) filter.device = "стенд";
      if (random() % 2) filter.fromDate = dates[random() % 5];
      if (random() % 2) filter.toDate = dates[random() % 5];
      std::vector<StatRow> expected;
      if (filter.device != "стенд") expected = CountedStats("котёл", boiler, filter);
      if (filter.device != "котёл") {
        for (StatRow& row : CountedStats("стенд", StandSegments(), filter)) expected.push_back(row);
      }
      const auto rows = journal->stats(filter);
      const std::string context = "seed " + std::to_string(seed) + " round " +
                                  std::to_string(round) + " from " + filter.fromDate.value_or("-") +
                                  " to " + filter.toDate.value_or("-");
      if (expected.empty()) {
        ASSERT_FALSE(rows.ok()) << context;
        EXPECT_EQ(rows.error().kind, JournalError::Kind::kNoEvents);
        continue;
      }
      ASSERT_TRUE(rows.ok()) << context << ": " << rows.error().message;
      ASSERT_EQ(rows.value(), expected) << context;
      if (!filter.device) continue;
      // The timeline's periods, summed over kinds, give the day rows.
      for (const SeriesPeriod period :
           {SeriesPeriod::kHour, SeriesPeriod::kDay, SeriesPeriod::kMonth}) {
        std::map<std::string, std::int64_t> perDay;
        const auto series = journal->series(filter, period);
        ASSERT_TRUE(series.ok());
        for (const SeriesPoint& point : series.value())
          perDay[point.period.substr(0, 10)] += point.count;
        std::map<std::string, std::int64_t> days;
        for (const StatRow& row : expected) {
          if (row.measure == StatMeasure::kDay)
            days[row.key.substr(0, period == SeriesPeriod::kMonth ? 7 : 10)] += row.value;
        }
        EXPECT_EQ(perDay, days) << context;
      }
    }
  }
}

// The stand's edges, read off the rows: the counting above must see them as
// the operator does.
TEST_P(JournalStatsTest, ChatterAndFloodsStopAtTheirBounds) {
  auto journal = openJournal();
  importCopies(*journal, "стенд", StandSegments());
  const auto rows = journal->stats({});
  ASSERT_TRUE(rows.ok());
  std::map<std::pair<StatMeasure, std::string>, std::int64_t> value;
  for (const StatRow& row : rows.value()) value[{row.measure, row.key}] = row.value;
  const std::map<std::pair<StatMeasure, std::string>, std::int64_t> expected = {
      {{StatMeasure::kChatter, "МУК 1 вх 1"}, 1},           // 60 s
      {{StatMeasure::kChatter, "МУК 2 вх 1"}, 1},           // across an event without a clock
      {{StatMeasure::kFloodSlot, "2014-05-10T10:10"}, 11},  // 11 events
      {{StatMeasure::kFloodSlot, "2014-05-10T10:40"}, 12},  // both sides of the gap
      {{StatMeasure::kSegments, ""}, 2},
      {{StatMeasure::kValveOpened, "МУК 11"}, 1},
  };
  for (const auto& [key, n] : expected) EXPECT_EQ(value[key], n) << key.second;
  // 61 s, the clock set back, a run the gap splits, a slot of exactly 10.
  for (const auto& key : std::vector<std::pair<StatMeasure, std::string>>{
           {StatMeasure::kChatter, "МУК 1 вх 2"},
           {StatMeasure::kChatter, "МУК 2 вх 3"},
           {StatMeasure::kChatter, "МУК 1 вх 5"},
           {StatMeasure::kFloodSlot, "2014-05-10T10:00"}}) {
    EXPECT_FALSE(value.contains(key)) << key.second;
  }
}

// T, the rate and the due moment of devices with a short history, a single
// event, no timestamp, a long one (the 30 days' first second counts, the one
// before it does not) and a clock set back, worked out by hand.
TEST_P(JournalStatsTest, DueIsWorkedOutFromTheLastThirtyDays) {
  const auto at = [](const char* iso) {
    const auto n = [&](int pos) { return static_cast<std::uint8_t>(std::atoi(iso + pos)); };
    return MakeRecord(7, 0, n(11), n(14), n(17), n(8), n(5), n(2));
  };
  const EventRecord invalid = MakeRecord(0xFF, 1, 0, 0, 0, 1, 1, 13);
  const struct {
    const char* device;
    std::vector<EventRecord> events;
    const char* line;
  } cases[] = {
      // S 16 days, |W| 5: 0.3125 a day rounds up.
      {"a-short",
       {at("2013-01-01T00:00:00"), at("2013-01-05T00:00:00"), at("2013-01-09T00:00:00"),
        at("2013-01-13T00:00:00"), at("2013-01-17T00:00:00"), invalid},
       "a-short\t2013-01-17T00:00:00\t0.313\t2021-09-26T09:36"},
      // S is at least a day.
      {"b-single",
       {at("2013-06-15T12:34:56")},
       "b-single\t2013-06-15T12:34:56\t1.000\t2016-03-03T12:34"},
      {"c-none", {invalid, MakeRecord(1, 1, 24, 0, 0, 1, 1, 13)}, "c-none\t\t\t"},
      // S at most 30 days; |W| 3.
      {"d-long",
       {at("2013-01-01T00:00:00"), at("2013-02-28T23:59:59"), at("2013-03-01T00:00:00"),
        at("2013-03-15T08:00:00"), at("2013-03-31T00:00:00")},
       "d-long\t2013-03-31T00:00:00\t0.100\t2040-05-28T00:00"},
      // The first stamped event lies after T: S is a day, W holds T alone.
      {"e-back",
       {at("2013-05-10T00:00:00"), at("2013-05-01T00:00:00")},
       "e-back\t2013-05-01T00:00:00\t1.000\t2016-01-18T00:00"},
  };
  auto journal = openJournal();
  std::string all;
  for (const auto& c : cases) {
    importCopies(*journal, c.device, {c.events});
    const auto one = journal->due(std::string(c.device));
    ASSERT_TRUE(one.ok());
    ASSERT_EQ(one.value().size(), 1u);
    EXPECT_EQ(DueLine(one.value().front()), c.line);
    all += std::string(c.line) + "\n";
  }
  std::string lines;
  const auto every = journal->due(std::nullopt);
  for (const DueEstimate& e : every.value()) lines += DueLine(e) + "\n";
  EXPECT_EQ(lines, all);
  EXPECT_EQ(journal->due(std::string("нет")).error().kind, JournalError::Kind::kUnknownDevice);
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalStatsTest, testing::Values(Engine::kFile, Engine::kServer),
                         EngineName);

}  // namespace
}  // namespace veks
