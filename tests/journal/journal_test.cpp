#include "journal/journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "journal/copy_events.h"
#include "journal/journal_schema.h"
#include "journal/journal_store.h"
#include "journal/stitch.h"
#include "report/event_export.h"
#include "tests/file_snapshot.h"
#include "tests/journal/history_expectation.h"
#include "tools/device_simulator.h"
#include "tools/spawn_quietly.h"

namespace veks {
namespace {

std::unique_ptr<Journal> OpenJournal(const std::string& path, Journal::Access access) {
  auto opened = Journal::Open(path, access);
  if (!opened.ok()) ADD_FAILURE() << opened.error().message;
  return opened.ok() ? std::move(opened.value()) : nullptr;
}

// The journal's history, oldest first: one list of events per segment.
// `atSegment` is told each segment's number as the read reaches it.
std::vector<std::vector<EventRecord>> Exported(Journal& journal, const EventFilter& filter = {},
                                               const std::function<void(int)>& atSegment = {}) {
  std::vector<std::vector<EventRecord>> segments;
  int segment = 0;
  (void)journal.forEachEvent(filter, EventOrder::kOldestFirst, [&](const JournalEvent& e) {
    if (e.segment != segment && atSegment) atSegment(e.segment);
    if (e.segment != segment) segments.emplace_back();
    segment = e.segment;
    segments.back().push_back(e.raw);
    return true;
  });
  return segments;
}

std::int64_t Count(const std::string& journal, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(journal.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  const std::int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

// The first column of the first row `sql` gives, as text.
std::string Text(const std::string& journal, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(journal.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  std::string result = sqlite3_step(stmt) == SQLITE_ROW
                           ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
                           : "no answer";
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

std::string IntegrityCheck(const std::string& journal) {
  return Text(journal, "PRAGMA integrity_check");
}

pid_t SpawnJournalTool(std::vector<std::string> args) {
  return SpawnQuietly(VEKS_JOURNAL_TOOL, std::move(args));
}

class JournalTest : public testing::Test {
 protected:
  TempDir dir_;
  std::string journal_ = dir_.file("journal.sqlite");

  std::vector<std::string> writeCopies(const SimulatedCopies& copies) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < copies.archives.size(); ++i) {
      paths.push_back(dir_.file("copy" + std::to_string(i) + ".dat"));
      copies.archives[i].writeTo(paths.back());
    }
    return paths;
  }
};

// The stored history equals the stream's events that the copies cover, split
// where copies do not overlap, whatever the order; repeated imports change
// nothing, and the archives are never touched.
TEST_F(JournalTest, StoredHistoryIsTheCoveredStreamWhateverTheOrder) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    SimulatedCopies copies(seed, 6 + static_cast<int>(seed), seed % 2 ? 2500 : 700);
    const std::vector<std::string> paths = writeCopies(copies);
    std::vector<FileSnapshot> before;
    for (const std::string& path : paths) {
      before.emplace_back(path);
      ASSERT_EQ(std::get<std::vector<EventRecord>>(ReadCopyEvents(path)),
                copies.events(before.size() - 1));
    }
    const std::string journal = dir_.file("j" + std::to_string(seed) + ".sqlite");
    auto j = OpenJournal(journal, Journal::Access::kImport);
    for (const std::size_t copy : copies.importOrder()) {
      ASSERT_TRUE(j->importArchive(paths[copy], std::string("котёл")).ok());
    }
    const auto history = Exported(*j);
    EXPECT_EQ(history, copies.expectedSegments()) << "seed " << seed;
    for (const std::string& path : paths) {
      const auto again = j->importArchive(path, std::nullopt);
      ASSERT_TRUE(again.ok());
      EXPECT_NE(again.value().kind, ImportOutcome::Kind::kAdded);
    }
    EXPECT_EQ(Exported(*j), history);
    EXPECT_EQ(Count(journal, "SELECT count(*) FROM devices"), 1);
    for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(FileSnapshot(paths[i]), before[i]);
  }
}

// Any page of a view is the slice of the device's history, newest first, with
// a gap row where a segment ends and an older one begins; the counts agree.
TEST_F(JournalTest, HistoryViewPagesAreSlicesOfTheNewestFirstHistory) {
  SimulatedCopies copies(31, 14, 2600);
  const std::vector<std::string> paths = writeCopies(copies);
  auto j = OpenJournal(journal_, Journal::Access::kImport);
  for (const std::string& path : paths) ASSERT_TRUE(j->importArchive(path, std::string("d")).ok());
  const auto& all = copies.device.events();
  const auto dateOf = [&](std::size_t at) {
    return EventTimestamp(all[at]).value_or("").substr(0, 10);
  };
  // Date ranges, which look for the segments that hold their dates first,
  // against the whole history filtered here: a day, a range, either end alone.
  const auto whole = Exported(*j);
  using Range = std::pair<std::optional<std::string>, std::optional<std::string>>;
  for (const auto& [from, to] : {Range{dateOf(all.size() / 2), dateOf(all.size() / 2)},
                                 Range{dateOf(all.size() / 5), dateOf(all.size() / 4)},
                                 Range{dateOf(3 * all.size() / 4), std::nullopt},
                                 Range{std::nullopt, dateOf(all.size() / 3)}}) {
    std::vector<std::vector<EventRecord>> expected;
    for (const auto& segment : whole) {
      expected.emplace_back();
      std::copy_if(segment.begin(), segment.end(), std::back_inserter(expected.back()),
                   [&](auto& e) {
                     const std::string date = EventTimestamp(e).value_or("").substr(0, 10);
                     return !date.empty() && date >= from.value_or("") && date <= to.value_or("9");
                   });
      if (expected.back().empty()) expected.pop_back();
    }
    EXPECT_EQ(Exported(*j, {std::nullopt, from, to, std::nullopt, std::nullopt}), expected);
  }
  std::vector<EventFilter> filters(5);
  filters[1].input = 7;
  filters[2].fromDate = dateOf(all.size() / 3);
  filters[2].toDate = dateOf(2 * all.size() / 3);
  filters[3].eventText = "клапан ОТКРЫТ";
  filters[4].fromDate = filters[2].fromDate;
  filters[4].input = 3;
  std::mt19937 random(5);
  for (EventFilter& filter : filters) {
    filter.device = "d";
    std::vector<HistoryRow> expected;
    std::set<int> segments;
    (void)j->forEachEvent(filter, EventOrder::kNewestFirst, [&](const JournalEvent& e) {
      // A read of the same statement inside this one leaves this one where it was.
      if (expected.empty()) {
        (void)j->forEachEvent(filter, EventOrder::kNewestFirst, [](auto&) { return false; });
      }
      if (!expected.empty() && expected.back().segment != e.segment) {
        expected.push_back({true, e.segment, {}});
      }
      expected.push_back({false, e.segment, e.raw});
      segments.insert(e.segment);
      return true;
    });
    ASSERT_GT(expected.size(), 10u);
    auto view = j->view(filter);
    ASSERT_TRUE(view.ok());
    HistoryView& v = *view.value();
    ASSERT_EQ(v.rowCount(), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(v.segmentCount(), static_cast<std::int64_t>(segments.size()));
    EXPECT_EQ(v.eventCount(), v.rowCount() - v.segmentCount() + 1);
    // The whole view, the oldest page, then pages anywhere.
    for (int page = 0; page < 30; ++page) {
      const std::int64_t count = page == 0 ? v.rowCount() : 1 + random() % 300;
      const std::int64_t from = page == 0   ? 0
                                : page == 1 ? v.rowCount() - count
                                            : static_cast<std::int64_t>(random() % expected.size());
      const auto rows = v.rows(from, count);
      ASSERT_TRUE(rows.ok());
      const auto to = std::min<std::int64_t>(from + count, v.rowCount());
      ASSERT_EQ(rows.value().size(), static_cast<std::size_t>(to - from));
      for (std::int64_t r = from; r < to; ++r) {
        const HistoryRow& got = rows.value()[static_cast<std::size_t>(r - from)];
        const HistoryRow& want = expected[static_cast<std::size_t>(r)];
        ASSERT_EQ(std::tie(got.gap, got.segment, got.raw),
                  std::tie(want.gap, want.segment, want.raw))
            << "row " << r;
      }
    }
  }
  // The device an import would choose for a copy, without writing anything.
  EXPECT_EQ(j->proposedDevice(paths.back()).value(), "d");
  const std::string other = dir_.file("Насос 1.dat");
  ArchiveBuilder().fillNumbered().setWriteOffset(8).writeTo(other);
  EXPECT_EQ(j->proposedDevice(other).value(), "Насос 1");
}

// A journal of version 1 answers every filter when read, with the indexes it
// has and without a byte written, and the next import brings it up to date;
// so does one of version 2. The history view then numbers segments as the
// export does.
TEST_F(JournalTest, OlderJournalIsReadAsItIsAndUpdatedByTheNextImport) {
  SimulatedCopies copies(11, 6, 1500);
  const std::vector<std::string> paths = writeCopies(copies);
  std::vector<EventFilter> filters(4);
  filters[0].input = 3;
  filters[1].eventText = "клапан ОТКРЫТ";
  filters[2].input = 12;  // a sixth input: its code 0 reads "Норма"
  filters[2].eventText = "Норма";
  std::vector<std::vector<std::vector<EventRecord>>> expected;
  {
    auto j = OpenJournal(journal_, Journal::Access::kImport);
    for (const std::string& path : paths) ASSERT_TRUE(j->importArchive(path, "d").ok());
    for (const EventFilter& filter : filters) expected.push_back(Exported(*j, filter));
  }
  sqlite3* db = nullptr;
  sqlite3_open(journal_.c_str(), &db);
  // A history view that is not the real one shows whether the update makes it anew.
  const std::string oldView =
      "DROP VIEW history; CREATE VIEW history AS SELECT 1 AS segment, '' AS raw, 1 AS seq; ";
  ASSERT_EQ(
      sqlite3_exec(db,
                   (oldView + "DROP INDEX events_event; DROP INDEX events_argument; "
                              "DROP INDEX events_moment; CREATE INDEX events_raw ON events(raw); "
                              "CREATE INDEX events_argument ON events(segment_id, argument); "
                              "PRAGMA user_version = 1;")
                       .c_str(),
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  const FileSnapshot before(journal_);
  {
    auto j = OpenJournal(journal_, Journal::Access::kRead);
    for (std::size_t i = 0; i < filters.size(); ++i) {
      ASSERT_FALSE(expected[i].empty());
      EXPECT_EQ(Exported(*j, filters[i]), expected[i]);
      EventFilter one = filters[i];
      one.device = "d";
      std::int64_t events = 0;
      for (const auto& segment : expected[i]) events += static_cast<std::int64_t>(segment.size());
      EXPECT_EQ(j->view(one).value()->eventCount(), events);
    }
  }
  EXPECT_EQ(FileSnapshot(journal_), before);
  OpenJournal(journal_, Journal::Access::kImport).reset();
  EXPECT_EQ(Count(journal_, "PRAGMA user_version"), kJournalSchemaVersion);
  EXPECT_EQ(Count(journal_, "SELECT count(*) FROM sqlite_master WHERE name = 'events_event'"), 1);
  EXPECT_EQ(IntegrityCheck(journal_), "ok");
  std::string exported;
  for (std::size_t segment = 0; segment < expected.back().size(); ++segment) {
    for (const EventRecord& e : expected.back()[segment]) {
      exported += std::to_string(segment + 1) + RawHex(e) + ",";
    }
  }
  const char* const history =
      "SELECT group_concat(segment || raw || ',', '') FROM "
      "(SELECT segment, raw FROM history ORDER BY segment, seq)";
  EXPECT_EQ(Text(journal_, history), exported);
  sqlite3_open(journal_.c_str(), &db);
  ASSERT_EQ(
      sqlite3_exec(db, (oldView + "PRAGMA user_version = 2;").c_str(), nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  OpenJournal(journal_, Journal::Access::kImport).reset();
  EXPECT_EQ(Text(journal_, history), exported);
}

TEST_F(JournalTest, UnusableArchivesGiveTheLoaderMessageAndWriteNothing) {
  SimulatedCopies copies(7, 1, 500);
  const std::string good = writeCopies(copies).front();
  auto j = OpenJournal(journal_, Journal::Access::kImport);
  ASSERT_TRUE(j->importArchive(good, std::nullopt).ok());
  const std::string damaged = dir_.file("damaged.dat");
  ArchiveBuilder(copies.archives.front()).setWriteOffset(12).writeTo(damaged);
  const std::string empty = dir_.file("empty.dat");
  ArchiveBuilder().fillNumbered().setWriteOffset(255).writeTo(empty);
  const std::string missing = dir_.file("missing.dat");

  const FileSnapshot journalBefore(journal_);
  for (const auto& [archive, message] : std::vector<std::pair<std::string, std::string>>{
           {damaged, "Архив поврежден: неверный указатель записи"},
           {missing, "Архив не удается открыть"},
           {dir_.path().string(), "Архив не удается открыть"},
           {"", "Не задано имя файла архива"}}) {
    const auto result = j->importArchive(archive, std::nullopt);
    ASSERT_FALSE(result.ok()) << archive;
    EXPECT_EQ(result.error().message, message);
  }
  const auto none = j->importArchive(empty, std::nullopt);
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none.value().kind, ImportOutcome::Kind::kEmptyCopy);
  EXPECT_EQ(FileSnapshot(journal_), journalBefore);
  EXPECT_EQ(Count(journal_, "SELECT count(*) FROM imports"), 1);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// Files that are no journal of this version are refused, for reading and for
// importing, and left byte for byte as they were.
TEST_F(JournalTest, ForeignAndNewerFilesAreRefusedAndLeftAlone) {
  const std::string garbage = dir_.file("garbage.sqlite");
  WriteBytes(garbage, std::vector<std::uint8_t>(4096, 0x5A));
  const std::string empty = dir_.file("empty.sqlite");
  WriteBytes(empty, {});
  const std::string foreign = dir_.file("foreign.sqlite");
  {
    sqlite3* db = nullptr;
    sqlite3_open(foreign.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE events(x); INSERT INTO events VALUES (1);", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
  }
  const std::string newer = dir_.file("newer.sqlite");
  OpenJournal(newer, Journal::Access::kImport).reset();
  std::vector<char> bytes = FileSnapshot(newer).bytes;
  bytes[63] = kJournalSchemaVersion + 1;  // the user version, big-endian at offset 60
  WriteBytes(newer, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));

  for (const auto& [path, message] :
       std::vector<std::pair<std::string, std::string>>{{garbage, kMsgNotAJournal},
                                                        {empty, kMsgNotAJournal},
                                                        {foreign, kMsgNotAJournal},
                                                        {dir_.path().string(), kMsgNotAJournal},
                                                        {newer, kMsgNewerJournal}}) {
    const bool isFile = std::filesystem::is_regular_file(path);
    const std::optional<FileSnapshot> before =
        isFile ? std::optional<FileSnapshot>(FileSnapshot(path)) : std::nullopt;
    for (const auto access : {Journal::Access::kRead, Journal::Access::kImport}) {
      const auto opened = Journal::Open(path, access);
      ASSERT_FALSE(opened.ok()) << path;
      EXPECT_EQ(opened.error().message, message) << path;
    }
    if (isFile) {
      EXPECT_EQ(FileSnapshot(path), *before) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(path + "-wal")) << path;
  }
  const auto missing = Journal::Open(dir_.file("none.sqlite"), Journal::Access::kRead);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, JournalError::Kind::kMissing);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("none.sqlite")));
}

// An import killed at any moment leaves a sound journal that holds exactly
// the archives whose import committed, in the order they were given.
TEST_F(JournalTest, KilledImportsLeaveExactlyTheCommittedArchives) {
  SimulatedCopies copies(11, 40, 300);
  const std::vector<std::string> paths = writeCopies(copies);
  std::vector<std::string> args = {"--journal", journal_, "import", "--device", "d", "--"};
  args.insert(args.end(), paths.begin(), paths.end());
  std::mt19937 random(3);
  std::int64_t committed = 0;
  for (int round = 0; round < 25 && committed < static_cast<std::int64_t>(paths.size()); ++round) {
    const pid_t child = SpawnJournalTool(args);
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 40000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    if (!std::filesystem::exists(journal_)) continue;

    ASSERT_EQ(IntegrityCheck(journal_), "ok") << "round " << round;
    committed = Count(journal_, "SELECT count(*) FROM imports");
    MemoryHistory expected;
    for (std::int64_t i = 0; i < committed; ++i) {
      expected.import(copies.events(static_cast<std::size_t>(i)));
    }
    std::vector<std::vector<EventRecord>> segments;
    for (const Segment& s : expected.segments()) segments.push_back(s.events);
    auto j = OpenJournal(journal_, Journal::Access::kRead);
    ASSERT_EQ(Exported(*j), segments) << "round " << round << ", " << committed << " committed";
  }
  EXPECT_GT(committed, 0);
}

// Reads made while another process imports copies that join segments each
// see one committed state: the history after some number of the imports.
TEST_F(JournalTest, ReadsSeeOneStateWhileAnotherProcessImports) {
  // A copy every 600 slots: neighbours overlap, copies two apart do not. The
  // even ones come first, each a segment of its own; the odd ones join them.
  DeviceSimulator device(51u);
  std::vector<std::vector<EventRecord>> copies;
  std::vector<std::string> paths;
  for (int i = 0; i < 40; ++i) {
    device.run(600);
    const auto [first, last] = device.copyWindow();
    copies.emplace_back(device.events().begin() + static_cast<std::ptrdiff_t>(first),
                        device.events().begin() + static_cast<std::ptrdiff_t>(last));
    paths.push_back(dir_.file(std::to_string(i) + ".dat"));
    device.archive().writeTo(paths.back());
  }
  // The segments after each number of imports, in the history's order.
  std::vector<std::vector<std::vector<EventRecord>>> states;
  MemoryHistory memory;
  std::vector<std::string> args = {"--journal", journal_, "import", "--device", "d", "--"};
  for (std::size_t i = 0; i < 2 * paths.size(); i += 2) {
    const std::size_t copy = i < paths.size() ? i : i - paths.size() + 1;
    memory.import(copies[copy]);
    states.emplace_back();
    for (const Segment& s : memory.segments()) states.back().push_back(s.events);
    std::sort(states.back().begin(), states.back().end(),
              [](auto& a, auto& b) { return LastTimestamp(a) < LastTimestamp(b); });
    if (i > 0) args.push_back(paths[copy]);
  }
  ASSERT_TRUE(OpenJournal(journal_, Journal::Access::kImport)->importArchive(paths[0], "d").ok());
  const pid_t child = SpawnJournalTool(args);
  ASSERT_NE(child, -1);
  bool running = true;
  int status = -1;
  // A failed check leaves no child writing into the removed folder.
  const std::shared_ptr<void> reap(nullptr, [&](void*) {
    if (running && kill(child, SIGKILL) == 0) waitpid(child, &status, 0);
  });
  // Each read waits, within its first segment, for the next import to commit:
  // an odd copy joins the second segment to the first.
  const auto nextImport = [&] {
    const char* const imports = "SELECT count(*) FROM imports";
    for (const auto committed = Count(journal_, imports);
         running && Count(journal_, imports) == committed;) {
      if (waitpid(child, &status, WNOHANG) == child) running = false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  auto j = OpenJournal(journal_, Journal::Access::kRead);
  for (bool last = false; !last;) {
    last = !running;
    const auto segments = Exported(*j, {}, [&](int segment) {
      if (segment == 1) nextImport();
    });
    ASSERT_TRUE(std::find(states.begin(), states.end(), segments) != states.end());
    if (last) {
      EXPECT_EQ(segments, states.back());
    }
  }
  EXPECT_EQ(status, 0);
}

TEST_F(JournalTest, TwoImportsAtOnceBothLand) {
  SimulatedCopies first(21, 30, 400), second(22, 30, 400);
  std::vector<std::string> a = {"--journal", journal_, "import", "--device", "first"};
  std::vector<std::string> b = {"--journal", journal_, "import", "--device", "second"};
  for (std::size_t i = 0; i < first.archives.size(); ++i) {
    a.push_back(dir_.file("a" + std::to_string(i) + ".dat"));
    first.archives[i].writeTo(a.back());
    b.push_back(dir_.file("b" + std::to_string(i) + ".dat"));
    second.archives[i].writeTo(b.back());
  }
  const pid_t pa = SpawnJournalTool(a), pb = SpawnJournalTool(b);
  int sa = -1, sb = -1;
  waitpid(pa, &sa, 0);
  waitpid(pb, &sb, 0);
  EXPECT_EQ(sa, 0);
  EXPECT_EQ(sb, 0);
  auto j = OpenJournal(journal_, Journal::Access::kRead);
  EventFilter filter;
  filter.device = "first";
  EXPECT_EQ(Exported(*j, filter), first.expectedSegments());
  filter.device = "second";
  EXPECT_EQ(Exported(*j, filter), second.expectedSegments());
}

}  // namespace
}  // namespace veks
