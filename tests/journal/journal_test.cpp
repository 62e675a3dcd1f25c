#include "journal/journal.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "journal/copy_events.h"
#include "journal/journal_schema.h"
#include "journal/journal_store.h"
#include "journal/pg_schema.h"
#include "journal/stitch.h"
#include "report/event_export.h"
#include "tests/file_snapshot.h"
#include "tests/journal/history_expectation.h"
#include "tests/journal/test_engines.h"
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

std::int64_t Count(const std::string& journal, const std::string& sql) {
  const auto value = FirstValue(journal, sql, true);
  return value ? std::stoll(*value) : -1;
}

// The first column of the first row `sql` gives, as text.
std::string Text(const std::string& journal, const std::string& sql) {
  return FirstValue(journal, sql, false).value_or("no answer");
}

std::string IntegrityCheck(const std::string& journal) {
  return Text(journal, "PRAGMA integrity_check");
}

// The version of the journal's tables.
std::int64_t Version(const std::string& journal) {
  return Count(journal, IsServerLocation(journal) ? "SELECT version FROM journal_info"
                                                  : "PRAGMA user_version");
}

// Whether the journal at `location` has been made.
bool JournalExists(const std::string& location) {
  if (!IsServerLocation(location)) return std::filesystem::exists(location);
  auto opened = Journal::Open(location, Journal::Access::kRead);
  return opened.ok() || opened.error().kind != JournalError::Kind::kMissing;
}

// Copies the server journal `from` to the new location `to` as a superuser
// copies tables: every row of every table, the identities going on after.
void CopyServerJournal(const std::string& from, const std::string& to) {
  PgConnection server(to), source(from);
  const std::string target = JournalSchemaName(server);
  CreatePgJournal(server, target);
  std::string script =
      "SET session_replication_role = replica; DO $$ DECLARE t text; c text; BEGIN "
      "FOR t IN SELECT relname FROM pg_class WHERE relkind = 'r' AND relname <> 'journal_info' "
      "AND relnamespace = 'ORIGIN'::regnamespace LOOP "
      "EXECUTE format('INSERT INTO TARGET.%I SELECT * FROM ORIGIN.%I', t, t); END LOOP; "
      "FOR t, c IN SELECT table_name, column_name FROM information_schema.columns "
      "WHERE is_identity = 'YES' AND table_schema = 'TARGET' LOOP "
      "EXECUTE format('SELECT setval(pg_get_serial_sequence(''TARGET.%I'', %L), "
      "coalesce((SELECT max(%I) FROM TARGET.%I), 0) + 1, false)', t, c, c, t); END LOOP; END $$; "
      "RESET session_replication_role";
  // The tests' schemas are plain lower-case names: they stand in the text as they are.
  for (const auto& [name, schema] :
       {std::pair{"ORIGIN", JournalSchemaName(source)}, std::pair{"TARGET", target}}) {
    for (auto at = script.find(name); at != std::string::npos; at = script.find(name)) {
      script.replace(at, 6, schema);
    }
  }
  server.execScript(script);
}

// Waits until no transaction writes the server journal at `location`: a
// killed client's ends once the server sees it gone, committed or not.
void AwaitServerWriters(const std::string& location) {
  PgConnection server(location);
  PgTransaction transaction(server, PgTransaction::Kind::kWrite);
  HoldTransactionLock(server, "journal\n" + JournalSchemaName(server));
  transaction.commit();
}

// What the journal's own check finds wrong: nothing in a sound journal.
std::vector<std::string> Problems(const std::string& journal) {
  auto opened = Journal::Open(journal, Journal::Access::kRead);
  if (!opened.ok()) return {opened.error().message};
  auto checked = opened.value()->check();
  return checked.ok() ? checked.value() : std::vector<std::string>{checked.error().message};
}

pid_t SpawnJournalTool(std::vector<std::string> args) {
  return SpawnQuietly(VEKS_JOURNAL_TOOL, std::move(args));
}

// Runs `checks` as a user whom permission bits bind: this process when it is
// no superuser, else a child of it as "nobody". False when that cannot be.
bool AsUnprivileged(const std::function<void()>& checks) {
  if (geteuid() != 0) return checks(), true;
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(77);
    checks();
    _exit(testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  if (child == -1 || waitpid(child, &status, 0) != child || status == 77 << 8) return false;
  EXPECT_EQ(status, 0);
  return true;
}

class JournalTest : public BothEngines {
 protected:
  std::string journal_ = location("journal.sqlite");

  std::vector<std::string> writeCopies(const SimulatedCopies& copies) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < copies.archives.size(); ++i) {
      paths.push_back(dir_.file("copy" + std::to_string(i) + ".dat"));
      copies.archives[i].writeTo(paths.back());
    }
    return paths;
  }

  // How many random rounds a property runs: half as many on the server, where
  // each import costs more round trips; the file's run takes them all.
  [[nodiscard]] std::uint32_t repeats(std::uint32_t onFile) const {
    return onServer() ? (onFile + 1) / 2 : onFile;
  }

  // A journal that holds one small copy.
  void makeJournal(const std::string& path) {
    const std::string archive = dir_.file("small.dat");
    ArchiveBuilder().fillNumbered().setWriteOffset(80).writeTo(archive);
    ASSERT_TRUE(OpenJournal(path, Journal::Access::kImport)->importArchive(archive, "d").ok());
  }
};

// What only a journal file has: its -wal and -shm, permissions, SQLite's own
// pragmas, and the files older versions of the program wrote.
class JournalFileTest : public JournalTest {};

// The stored history equals the stream's events that the copies cover, split
// where copies do not overlap, whatever the order, and also when the copies
// went to two devices that rename then joins; repeated imports change
// nothing, and the archives are never touched.
TEST_P(JournalTest, StoredHistoryIsTheCoveredStreamWhateverTheOrder) {
  for (std::uint32_t seed = 1; seed <= repeats(6); ++seed) {
    SimulatedCopies copies(seed, 6 + static_cast<int>(seed), seed % 2 ? 2500 : 700);
    const std::vector<std::string> paths = writeCopies(copies);
    std::vector<FileSnapshot> before;
    for (const std::string& path : paths) {
      before.emplace_back(path);
      ASSERT_EQ(std::get<std::vector<EventRecord>>(ReadCopyEvents(path)),
                copies.events(before.size() - 1));
    }
    const std::string journal = location("j" + std::to_string(seed) + ".sqlite");
    auto j = OpenJournal(journal, Journal::Access::kImport);
    const auto order = copies.importOrder();
    for (std::size_t i = 0; i < order.size(); ++i) {
      const bool other = seed % 2 == 0 && i % 3 == 1;
      ASSERT_TRUE(j->importArchive(paths[order[i]], other ? "печь" : "котёл").ok());
    }
    const std::int64_t imports = Count(journal, "SELECT count(*) FROM imports");
    if (seed % 2 == 0) {
      ASSERT_TRUE(j->renameDevice("печь", "котёл").ok());
    }
    EXPECT_EQ(Count(journal, "SELECT count(*) FROM imports"), imports);
    EXPECT_EQ(Problems(journal), std::vector<std::string>{});
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

// A note version as a line, to compare listings.
std::string NoteLine(const NoteVersion& n) {
  return std::to_string(n.number) + "." + std::to_string(n.version) + " " + n.device + " " +
         (n.event ? RawHex(*n.event) : "@" + n.moment.value_or("")) + " " + n.kind + " " + n.text +
         " " + n.author + " " + n.written + (n.deleted ? " deleted" : "");
}

// Notes put on random events while copies arrive in random orders, some
// twice and, for even seeds, some to a second device that rename then joins,
// with operator entries, edits and deletes between: every note stays on its
// event (the same bytes, every event being distinct, at the same place of the
// device's order), none is lost or doubled, and entries stand after the last
// event not later than their moment. The journal checks sound, a backup holds
// every version alike, and "only events with notes" shows the noted events.
TEST_P(JournalTest, NotesStayOnTheirEventsWhateverHappensToTheHistory) {
  for (std::uint32_t seed = 1; seed <= repeats(6); ++seed) {
    SimulatedCopies copies(seed + 60, 6 + static_cast<int>(seed), seed % 2 ? 2500 : 700);
    const std::vector<std::string> paths = writeCopies(copies);
    const auto& stream = copies.device.events();
    const std::string journal = location("n" + std::to_string(seed) + ".sqlite");
    auto j = OpenJournal(journal, Journal::Access::kImport);
    std::mt19937 random(seed);
    struct Expected {
      std::int64_t place;  // the stream's event it is on or, for an entry, follows (-1: none)
      std::optional<std::string> moment;
      std::int64_t number;
      std::string text;
      bool deleted = false;
    };
    std::vector<Expected> notes;
    std::vector<bool> covered(stream.size());
    std::vector<std::pair<std::size_t, std::string>> imported;  // copy, device
    const auto order = copies.importOrder();
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::string device = seed % 2 == 0 && i % 3 == 1 ? "печь" : "котёл";
      ASSERT_TRUE(j->importArchive(paths[order[i]], device).ok());
      imported.emplace_back(order[i], device);
      const CopyWindow window = copies.windows[order[i]];
      std::fill(covered.begin() + static_cast<std::ptrdiff_t>(window.first),
                covered.begin() + static_cast<std::ptrdiff_t>(window.last), true);
      const NoteSignature by{"оператор " + std::to_string(i), 1'400'000'000 + std::int64_t(i)};
      // On an event that an import so far brought to its device, or at its moment.
      const auto& [copy, holder] = imported[random() % imported.size()];
      const CopyWindow w = copies.windows[copy];
      if (w.first == w.last) continue;
      const std::size_t at = w.first + random() % (w.last - w.first);
      const std::string text = "к " + std::to_string(at);
      NoteTarget target{holder, stream[at], {}, {}};
      if (i % 3 == 0 && EventTimestamp(stream[at]))
        target = {holder, {}, {}, EventTimestamp(stream[at])};
      const auto added = j->addNote(target, "Комментарий", text, by);
      ASSERT_TRUE(added.ok()) << added.error().message;
      notes.push_back({std::int64_t(at), target.moment, added.value(), text});
      Expected& changed = notes[random() % notes.size()];
      if (i % 2 == 1 && !changed.deleted) {
        changed.deleted = random() % 3 == 0;
        changed.text += changed.deleted ? "" : " и " + std::to_string(i);
        ASSERT_TRUE((changed.deleted ? j->deleteNote(changed.number, by)
                                     : j->editNote(changed.number, std::nullopt, changed.text, by))
                        .ok());
      }
    }
    if (seed % 2 == 0) {
      ASSERT_TRUE(j->renameDevice("печь", "котёл").ok());
    }

    std::vector<Expected> live;
    for (Expected n : notes) {
      if (n.deleted) continue;
      for (std::size_t k = 0; n.moment && k < stream.size(); ++k) {
        const auto stamp = EventTimestamp(stream[k]);
        if (covered[k] && stamp && *stamp <= *n.moment) n.place = std::int64_t(k);
      }
      live.push_back(n);
    }
    std::sort(live.begin(), live.end(), [](const Expected& a, const Expected& b) {
      return std::tie(a.place, a.moment, a.number) < std::tie(b.place, b.moment, b.number);
    });
    const std::vector<NoteVersion> listed = j->notes({}).value();
    ASSERT_EQ(listed.size(), live.size()) << "seed " << seed;
    std::set<EventRecord> noted;
    for (std::size_t k = 0; k < live.size(); ++k) {
      EXPECT_EQ(listed[k].number, live[k].number) << "seed " << seed << ", at " << k;
      EXPECT_EQ(listed[k].text, live[k].text);
      if (live[k].moment) {
        EXPECT_EQ(listed[k].moment, live[k].moment);
      } else {
        EXPECT_EQ(listed[k].event, stream[std::size_t(live[k].place)]);
        noted.insert(stream[std::size_t(live[k].place)]);
      }
    }
    EXPECT_EQ(j->check().value(), std::vector<std::string>{}) << "seed " << seed;

    EventFilter withNotes;
    withNotes.device = "котёл";
    withNotes.withNotes = true;
    auto view = j->view(withNotes);
    ASSERT_TRUE(view.ok());
    std::set<EventRecord> shown;
    std::vector<EventPlace> places;
    const auto rows = view.value()->rows(0, view.value()->rowCount());
    for (const HistoryRow& row : rows.value()) {
      if (!row.gap) shown.insert(row.raw), places.push_back(row.place);
    }
    EXPECT_EQ(shown, noted);
    const auto onRows = j->notesAt(places, false).value();
    EXPECT_EQ(onRows.size(), static_cast<std::size_t>(std::count_if(
                                 live.begin(), live.end(), [](auto& n) { return !n.moment; })));

    NoteFilter all;
    all.history = true;
    const std::string backup = dir_.file("n" + std::to_string(seed) + ".backup");
    ASSERT_TRUE(j->backup(backup).ok());
    std::vector<std::string> versions, backedUp;
    const auto kept = j->notes(all),
               copied = OpenJournal(backup, Journal::Access::kRead)->notes(all);
    for (const NoteVersion& n : kept.value()) versions.push_back(NoteLine(n));
    for (const NoteVersion& n : copied.value()) backedUp.push_back(NoteLine(n));
    EXPECT_EQ(backedUp, versions);
    EXPECT_GE(versions.size(), notes.size());
  }
}

// The notes as any journal reads them, sorted: without the numbers, which
// each journal gives in its own order.
std::vector<std::string> VersionLines(Journal& journal, bool history) {
  NoteFilter filter;
  filter.history = history;
  std::vector<std::string> lines;
  auto notes = journal.notes(filter);
  for (NoteVersion n : notes.value()) {
    n.number = n.version = 0;
    lines.push_back(NoteLine(n));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Merges every device of `source` into `target`; returns the events and
// notes that came.
std::int64_t Merge(const std::string& source, const std::string& target) {
  auto into = OpenJournal(target, Journal::Access::kImport);
  std::int64_t came = 0;
  EXPECT_TRUE(OpenJournal(source, Journal::Access::kRead)
                  ->forEachDeviceCopy([&](const DeviceCopy& device) {
                    const auto merged = into->mergeDevice(device, source);
                    EXPECT_TRUE(merged.ok()) << merged.error().message;
                    came += merged.value().newEvents + merged.value().notes;
                    return true;
                  })
                  .ok());
  return came;
}

// Two journals of random copies of one device, some in both, with notes,
// entries, edits and deletes, each merged into a copy of the other; then the
// two write other versions of the same notes (edits on both sides, an edit
// against a delete) and merge into each other, twice. Both end with the
// history of all the copies, segments longer than the ring included, every
// version of every note once and the same notes showing; a source is never
// touched.
TEST_P(JournalTest, MergedJournalsHoldOneHistoryAndEveryNoteOnce) {
  for (std::uint32_t seed = 1; seed <= repeats(4); ++seed) {
    SimulatedCopies copies(seed + 90, 8 + static_cast<int>(seed), seed % 2 ? 2500 : 700);
    const std::vector<std::string> paths = writeCopies(copies);
    const std::string tag = std::to_string(seed);
    // On the server, even seeds keep A and its copy in files: merges then go
    // from a file into the server and back.
    const bool mixed = onServer() && seed % 2 == 0;
    const std::array<std::string, 2> built = {mixed ? dir_.file("a" + tag) : location("a" + tag),
                                              location("b" + tag)};
    const std::array<std::string, 2> merged = {
        location("b" + tag + "+a"),
        mixed ? dir_.file("a" + tag + "+b") : location("a" + tag + "+b")};
    std::array<std::unique_ptr<Journal>, 2> j = {OpenJournal(built[0], Journal::Access::kImport),
                                                 OpenJournal(built[1], Journal::Access::kImport)};
    std::mt19937 random(seed);
    MemoryHistory all;
    std::int64_t clock = 1'500'000'000;
    std::set<std::string> written;
    // An edit or a delete; a note deleted already takes none.
    const auto edit = [&](Journal& journal, std::int64_t number, const std::string& text) {
      const NoteSignature by{"правка", ++clock};
      const auto r = text.empty() ? journal.deleteNote(number, by)
                                  : journal.editNote(number, std::nullopt, text, by);
      ASSERT_TRUE(r.ok() || r.error().kind == JournalError::Kind::kNoteDeleted);
    };
    for (std::size_t i = 0; i < paths.size(); ++i) {
      all.import(copies.events(i));
      const CopyWindow w = copies.windows[i];
      const unsigned to = 1 + random() % 3;  // A, B or both
      for (std::size_t k = 0; k < 2; ++k) {
        if ((to & (1u << k)) == 0) continue;
        ASSERT_TRUE(j[k]->importArchive(paths[i], "котёл").ok());
        if (w.first == w.last) continue;
        const EventRecord event = copies.device.events()[w.first + random() % (w.last - w.first)];
        NoteTarget target{"котёл", event, {}, {}};
        if (i % 4 == 0 && EventTimestamp(event)) target = {"котёл", {}, {}, EventTimestamp(event)};
        const auto added =
            j[k]->addNote(target, "Комментарий", "к " + tag + "." + std::to_string(i),
                          {"автор " + std::to_string(k), ++clock});
        ASSERT_TRUE(added.ok()) << added.error().message;
        if (i % 3 == 1) {
          edit(*j[k], 1 + random() % added.value(), random() % 4 ? "и " + std::to_string(i) : "");
        }
      }
    }
    for (int step = 0; step < 2; ++step) {
      for (auto& journal : j) {
        for (const std::string& line : VersionLines(*journal, true)) written.insert(line);
      }
      j = {};
      if (step == 1) break;
      std::array<std::optional<FileSnapshot>, 2> sources;
      for (std::size_t k = 0; k < 2; ++k) {
        // A server journal is copied by merging it into an empty one.
        if (IsServerLocation(merged[k])) {
          Merge(built[1 - k], merged[k]);
        } else {
          std::filesystem::copy_file(built[1 - k], merged[k]);
        }
        if (!IsServerLocation(built[k])) sources[k].emplace(built[k]);
      }
      Merge(built[0], merged[0]);
      Merge(built[1], merged[1]);
      for (std::size_t k = 0; k < 2; ++k) {
        if (!sources[k]) continue;
        EXPECT_EQ(FileSnapshot(built[k]), *sources[k]);
        EXPECT_FALSE(std::filesystem::exists(built[k] + "-wal"));
      }
      j = {OpenJournal(merged[0], Journal::Access::kWrite),
           OpenJournal(merged[1], Journal::Access::kWrite)};
      const auto live = j[0]->notes({}).value();
      for (std::size_t n = 0; n < live.size() && n < 3; ++n) {
        edit(*j[0], live[n].number, "слева " + std::to_string(n));
        const auto other = j[1]->notes({}).value();
        for (const NoteVersion& v : other) {
          if (v.text == live[n].text) edit(*j[1], v.number, n == 1 ? "" : "справа" + tag);
        }
      }
    }
    for (int round = 0; round < 2; ++round) {
      const std::int64_t came = Merge(merged[1], merged[0]) + Merge(merged[0], merged[1]);
      EXPECT_TRUE(round == 0 || came == 0) << "seed " << seed;
    }

    std::vector<std::vector<EventRecord>> expected;
    for (const Segment& segment : all.segments()) expected.push_back(segment.events);
    std::sort(expected.begin(), expected.end(),
              [](const auto& x, const auto& y) { return LastTimestamp(x) < LastTimestamp(y); });
    const auto longest = std::max_element(expected.begin(), expected.end(),
                                          [](auto& x, auto& y) { return x.size() < y.size(); });
    EXPECT_TRUE(seed % 2 == 1 || longest->size() > std::size_t{kSlotCount});
    j = {OpenJournal(merged[0], Journal::Access::kRead),
         OpenJournal(merged[1], Journal::Access::kRead)};
    for (auto& journal : j) {
      EXPECT_EQ(Exported(*journal), expected) << "seed " << seed;
      EXPECT_EQ(VersionLines(*journal, true), std::vector(written.begin(), written.end()));
      EXPECT_EQ(journal->check().value(), std::vector<std::string>{});
    }
    EXPECT_EQ(VersionLines(*j[0], false), VersionLines(*j[1], false)) << "seed " << seed;
  }
}

// Any page of a view is the slice of the device's history, newest first, with
// a gap row where a segment ends and an older one begins; the counts agree.
TEST_P(JournalTest, HistoryViewPagesAreSlicesOfTheNewestFirstHistory) {
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
TEST_P(JournalFileTest, OlderJournalIsReadAsItIsAndUpdatedByTheNextImport) {
  SimulatedCopies copies(11, 6, 1500);
  const std::vector<std::string> paths = writeCopies(copies);
  std::vector<EventFilter> filters(4);
  filters[0].input = 3;
  filters[1].eventText = "клапан ОТКРЫТ";
  filters[2].input = 12;  // a sixth input: its code 0 reads "Норма"
  filters[2].eventText = "Норма";
  std::vector<std::vector<std::vector<EventRecord>>> expected;
  // The statistics read the indexes each version has: a whole history and a
  // day range of it, for the moment and input indexes and without them.
  std::vector<StatsFilter> statsFilters(2);
  statsFilters[1].fromDate = "2013-01-01";
  statsFilters[1].toDate = "2014-05-10";
  std::vector<std::vector<StatRow>> stats;
  const auto statsOf = [&](Journal& j) {
    std::vector<std::vector<StatRow>> rows;
    for (const StatsFilter& filter : statsFilters) rows.push_back(j.stats(filter).value());
    return rows;
  };
  {
    auto j = OpenJournal(journal_, Journal::Access::kImport);
    for (const std::string& path : paths) ASSERT_TRUE(j->importArchive(path, "d").ok());
    for (const EventFilter& filter : filters) expected.push_back(Exported(*j, filter));
    stats = statsOf(*j);
  }
  // A history view that is not the real one shows whether the update makes it anew.
  const std::string oldView =
      "DROP VIEW history; CREATE VIEW history AS SELECT 1 AS segment, '' AS raw, 1 AS seq; "
      "DROP TABLE import_undo_parts; DROP TABLE import_undo; "
      "ALTER TABLE imports DROP COLUMN undone_at; ";
  ExecAt(journal_, oldView +
                       "DROP TABLE note_versions; DROP TABLE notes; "
                       "DROP INDEX events_event; DROP INDEX events_argument; "
                       "DROP INDEX events_moment; CREATE INDEX events_raw ON events(raw); "
                       "CREATE INDEX events_argument ON events(segment_id, argument); "
                       "PRAGMA user_version = 1;");
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
    EXPECT_EQ(statsOf(*j), stats);
  }
  EXPECT_EQ(FileSnapshot(journal_), before);
  OpenJournal(journal_, Journal::Access::kImport).reset();
  EXPECT_EQ(Count(journal_, "PRAGMA user_version"), kJournalSchemaVersion);
  EXPECT_EQ(Count(journal_, "SELECT count(*) FROM sqlite_master WHERE name = 'events_event'"), 1);
  // Version 5's input and kind indexes, without the timestamp: read as they
  // are, then rebuilt by the next import.
  const char* const indexed =
      "SELECT count(*) FROM pragma_index_info('events_argument') WHERE name = 'timestamp'";
  ASSERT_EQ(Count(journal_, indexed), 1);
  ExecAt(journal_,
         "DROP INDEX events_argument; DROP INDEX events_event; "
         "CREATE INDEX events_argument ON events(segment_id, argument, seq, code); "
         "CREATE INDEX events_event ON events(segment_id, event); PRAGMA user_version = 5;");
  const FileSnapshot fifth(journal_);
  EXPECT_EQ(statsOf(*OpenJournal(journal_, Journal::Access::kRead)), stats);
  EXPECT_EQ(FileSnapshot(journal_), fifth);
  EXPECT_EQ(statsOf(*OpenJournal(journal_, Journal::Access::kImport)), stats);
  EXPECT_EQ(Count(journal_, "PRAGMA user_version"), kJournalSchemaVersion);
  EXPECT_EQ(Count(journal_, indexed), 1);
  EXPECT_EQ(Count(journal_,
                  "SELECT count(*) FROM pragma_index_info('events_event') "
                  "WHERE name = 'timestamp'"),
            1);
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
  ExecAt(journal_,
         oldView + "DROP TABLE note_versions; DROP TABLE notes; PRAGMA user_version = 2;");
  OpenJournal(journal_, Journal::Access::kImport).reset();
  EXPECT_EQ(Text(journal_, history), exported);
}

// A journal made by the program of version 2, before notes (data/: import
// --device котёл of events 0-9 and 20-29 of SecondEvents, two segments)
// reads as it is, without notes and without a byte written; the first note
// brings it up to date, and the note follows its event when a later copy
// joins the two segments.
TEST_P(JournalFileTest, JournalOfTheVersionBeforeNotesTakesNotes) {
  std::filesystem::copy_file(VEKS_TEST_DATA "/journal-v2.sqlite", journal_);
  ASSERT_EQ(Count(journal_, "PRAGMA user_version"), 2);
  const std::vector<std::vector<EventRecord>> before = {SecondEvents(0, 10), SecondEvents(20, 30)};
  const FileSnapshot untouched(journal_);
  {
    auto j = OpenJournal(journal_, Journal::Access::kRead);
    EXPECT_EQ(Exported(*j), before);
    EXPECT_EQ(j->notes({}).value().size(), 0u);
    EventFilter noted;
    noted.withNotes = true;
    EXPECT_FALSE(j->forEachEvent(noted, EventOrder::kOldestFirst, [](auto&) { return true; }).ok());
  }
  EXPECT_EQ(FileSnapshot(journal_), untouched);
  auto j = OpenJournal(journal_, Journal::Access::kWrite);
  ASSERT_EQ(j->addNote({"котёл", SecondEvent(25), {}, {}}, "Проверено", "x", {"a", 0}).value(), 1);
  EXPECT_EQ(Count(journal_, "PRAGMA user_version"), kJournalSchemaVersion);
  ArchiveOf(SecondEvents(5, 25)).writeTo(dir_.file("bridge.dat"));
  ASSERT_TRUE(j->importArchive(dir_.file("bridge.dat"), std::nullopt).ok());
  EXPECT_EQ(Exported(*j), std::vector<std::vector<EventRecord>>{SecondEvents(0, 30)});
  const auto notes = j->notes({}).value();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].event, SecondEvent(25));
  EXPECT_EQ(Problems(journal_), std::vector<std::string>{});
  // The bridge is undoable, the imports before the update are not.
  const auto bridge = j->lastImport("котёл").value();
  ASSERT_TRUE(bridge);
  ASSERT_EQ(j->undoLastImport("котёл", bridge->id, false).value(), 10);
  EXPECT_EQ(Exported(*j), before);
  EXPECT_EQ(j->notes({}).value().at(0).event, SecondEvent(25));
  EXPECT_FALSE(j->lastImport("котёл").value());
}

TEST_P(JournalFileTest, UnusableArchivesGiveTheLoaderMessageAndWriteNothing) {
  SimulatedCopies copies(7, 1, 500);
  const std::string good = writeCopies(copies).front();
  auto j = OpenJournal(journal_, Journal::Access::kImport);
  ASSERT_TRUE(j->importArchive(good, std::nullopt).ok());
  const std::string damaged = dir_.file("damaged.dat");
  ArchiveBuilder(copies.archives.front()).setWriteOffset(12).writeTo(damaged);
  const std::string empty = dir_.file("empty.dat");
  ArchiveBuilder().fillNumbered().setWriteOffset(255).writeTo(empty);
  const std::string missing = dir_.file("missing.dat");
  // Interrupted transfers: their size is checked before the write offset.
  const std::string cut = dir_.file("cut.dat");
  copies.archives.front().writeTo(cut, 100);
  const std::string cutDamaged = dir_.file("cut-damaged.dat");
  ArchiveBuilder(copies.archives.front()).setWriteOffset(12).writeTo(cutDamaged, kFileBytes - 1);
  const std::string nothing = dir_.file("nothing.dat");
  WriteBytes(nothing, {});

  const FileSnapshot journalBefore(journal_);
  for (const auto& [archive, message] : std::vector<std::pair<std::string, std::string>>{
           {damaged, "Архив поврежден: неверный указатель записи"},
           {missing, "Архив не удается открыть"},
           {dir_.path().string(), "Архив не удается открыть"},
           {"", "Не задано имя файла архива"},
           {cut, "Архив неполон: 100 байт из 7940"},
           {cutDamaged, "Архив неполон: 7939 байт из 7940"},
           {nothing, "Архив неполон: 0 байт из 7940"}}) {
    const auto result = j->importArchive(archive, std::nullopt);
    ASSERT_FALSE(result.ok()) << archive;
    EXPECT_EQ(result.error().message, message);
  }
  const auto none = j->importArchive(empty, std::nullopt);
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none.value().kind, ImportOutcome::Kind::kEmptyCopy);
  EXPECT_EQ(FileSnapshot(journal_), journalBefore);
  EXPECT_EQ(Count(journal_, "SELECT count(*) FROM imports"), 1);
  // Bytes past an archive's end are not read.
  const std::string longer = dir_.file("longer.dat");
  copies.archives.front().writeTo(longer, kFileBytes + 60);
  const auto held = j->importArchive(longer, std::nullopt);
  ASSERT_TRUE(held.ok());
  EXPECT_EQ(held.value().kind, ImportOutcome::Kind::kAlreadyHeld);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// Journals that are no journal of this version are refused, for reading and
// for importing, and left as they were: files, and on a server a schema of
// the journal's name that holds other tables, or a newer version.
TEST_P(JournalTest, ForeignAndNewerJournalsAreRefusedAndLeftAlone) {
  std::vector<std::pair<std::string, std::string>> refusals;
  if (onServer()) {
    const std::string foreign = location("foreign"), newer = location("newer");
    {
      PgConnection server(foreign);
      const std::string schema = server.identifier(JournalSchemaName(server));
      server.execScript("CREATE SCHEMA " + schema + "; CREATE TABLE " + schema +
                        ".events (x bigint); INSERT INTO " + schema + ".events VALUES (1)");
    }
    makeJournal(newer);
    ExecAt(newer, "UPDATE journal_info SET version = " + std::to_string(kJournalSchemaVersion + 1));
    refusals = {{foreign, kMsgNotAServerJournal}, {newer, kMsgNewerJournal}};
  } else {
    const std::string garbage = dir_.file("garbage.sqlite");
    WriteBytes(garbage, std::vector<std::uint8_t>(4096, 0x5A));
    const std::string empty = dir_.file("empty.sqlite");
    WriteBytes(empty, {});
    const std::string foreign = dir_.file("foreign.sqlite");
    ExecAt(foreign, "CREATE TABLE events(x); INSERT INTO events VALUES (1);");
    const std::string newer = dir_.file("newer.sqlite");
    makeJournal(newer);
    std::vector<char> bytes = FileSnapshot(newer).bytes;
    bytes[63] = kJournalSchemaVersion + 1;  // the user version, big-endian at offset 60
    WriteBytes(newer, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    // A newer program's version that stands only in the -wal: the main file's
    // header still reads as ours.
    const std::string newerInWal = dir_.file("newer-wal.sqlite");
    makeJournal(newerInWal);
    {
      sqlite3* db = nullptr;
      sqlite3_open(newerInWal.c_str(), &db);
      sqlite3_exec(db, "PRAGMA wal_autocheckpoint = 0; PRAGMA user_version = 99;", nullptr, nullptr,
                   nullptr);
      sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
      sqlite3_close(db);
    }
    ASSERT_EQ(InspectJournalFile(newerInWal).kind, JournalFileKind::kJournal);
    refusals = {{garbage, kMsgNotAJournal}, {empty, kMsgNotAJournal},
                {foreign, kMsgNotAJournal}, {dir_.path().string(), kMsgNotAJournal},
                {newer, kMsgNewerJournal},  {newerInWal, kMsgNewerJournal}};
  }
  const auto snapshot = [](const std::string& file) {
    return std::filesystem::is_regular_file(file) ? std::optional<FileSnapshot>(file)
                                                  : std::nullopt;
  };
  // On the server: the schema's relations and the rows of its events.
  const auto held = [&](const std::string& path) {
    return onServer() ? Text(path,
                             "SELECT string_agg(relname::text, ',' ORDER BY relname) || ' ' || "
                             "(SELECT count(*) FROM events) FROM pg_class "
                             "WHERE relnamespace = current_schema()::text::regnamespace")
                      : "";
  };
  for (const auto& [path, message] : refusals) {
    const auto before = snapshot(path), walBefore = snapshot(path + "-wal");
    const std::string tables = held(path);
    for (const auto access :
         {Journal::Access::kRead, Journal::Access::kImport, Journal::Access::kWrite}) {
      const auto opened = Journal::Open(path, access);
      ASSERT_FALSE(opened.ok()) << path;
      EXPECT_EQ(opened.error().message, message) << path;
    }
    EXPECT_EQ(snapshot(path), before) << path;
    EXPECT_EQ(snapshot(path + "-wal"), walBefore) << path;
    EXPECT_EQ(held(path), tables) << path;
  }
  const std::string none = location("none.sqlite");
  const auto missing = Journal::Open(none, Journal::Access::kRead);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, JournalError::Kind::kMissing);
  EXPECT_EQ(missing.error().message, kMsgJournalMissing);
  EXPECT_FALSE(JournalExists(none));
  if (onServer()) return;
  // What the system refuses is told with the system's reason.
  const std::string plain = dir_.file("plain");
  WriteBytes(plain, {1});
  std::vector<std::pair<std::string, int>> refused = {
      {plain + "/j.sqlite", ENOTDIR}, {dir_.file(std::string(300, 'n')), ENAMETOOLONG}};
  const std::string unreadable = dir_.file("unreadable.sqlite");
  makeJournal(unreadable);
  std::filesystem::permissions(unreadable, std::filesystem::perms::none);
  if (geteuid() != 0) refused.emplace_back(unreadable, EACCES);  // no permission stops root
  for (const auto& [path, error] : refused) {
    for (const auto access : {Journal::Access::kRead, Journal::Access::kImport}) {
      const auto opened = Journal::Open(path, access);
      ASSERT_FALSE(opened.ok()) << path;
      EXPECT_EQ(opened.error().message,
                std::string("Журнал не удается открыть: ") + std::strerror(error));
    }
  }
}

// Copies that precede and continue a held segment by 1 to 40 events, at
// every place of the overlap relative to the events an import looks up, join
// it exactly as the stitching in memory does.
TEST_P(JournalTest, OverlapOfAnyLengthAtAnyAlignmentIsFound) {
  constexpr std::int64_t kHeld = 2 * kLookupStep;  // too long to be read whole
  auto j = OpenJournal(journal_, Journal::Access::kImport);
  const std::string path = dir_.file("copy.dat");
  std::int64_t base = 0;
  for (std::int64_t overlap = 1; overlap <= 40; ++overlap) {
    for (std::int64_t added = 1; added <= kLookupStep; ++added) {
      // The server takes every overlap and every alignment, not every pair.
      if (onServer() && (overlap + added) % 16 != 0) continue;
      base += kHeld + 4 * kLookupStep;
      const std::string device = std::to_string(overlap) + "/" + std::to_string(added);
      MemoryHistory expected;
      for (const auto& copy :
           {SecondEvents(base, base + kHeld), SecondEvents(base - added, base + overlap),
            SecondEvents(base + kHeld - overlap, base + kHeld + added)}) {
        expected.import(copy);
        ArchiveOf(copy).writeTo(path);
        ASSERT_TRUE(j->importArchive(path, device).ok()) << device;
      }
      ASSERT_EQ(expected.segments().size(), 1u);
      EventFilter filter;
      filter.device = device;
      ASSERT_EQ(Exported(*j, filter),
                std::vector<std::vector<EventRecord>>{expected.segments().front().events})
          << device;
    }
  }
  EXPECT_EQ(Problems(journal_), std::vector<std::string>{});
}

// A joined segment keeps the earliest rank of its parts, and a renamed
// device's segments follow those of the device it joins: seen where ranks
// alone order segments, those without timestamps. A step "d:abc" imports
// events a, b, c into device d; "d>e" renames d to e.
TEST_P(JournalTest, JoinedSegmentsKeepTheEarliestRank) {
  const std::vector<std::array<std::string, 3>> cases = {
      // steps, device, its segments in order
      {"a:abc a:mno a:efg a:cde", "a", "abcdefg mno"},
      {"a:abc a:xyz a:efg a:abcdef", "a", "abcdefg xyz"},
      {"a:bc a:xyz a:ef a:abcdefg", "a", "abcdefg xyz"},
      {"a:abc b:mno a:xyz a>b", "b", "mno abc xyz"},
      {"a:abc a:xyz b:mno b:cde a>b", "b", "mno abcde xyz"},
      {"a:abc a:xyz b:mno b:cde b>a", "a", "abcde xyz mno"}};
  const std::string path = dir_.file("copy.dat");
  int made = 0;
  for (const auto& [steps, device, segments] : cases) {
    const std::string journal = location(std::to_string(++made) + ".sqlite");
    auto j = OpenJournal(journal, Journal::Access::kImport);
    std::istringstream words(steps);
    for (std::string step; words >> step;) {
      if (step[1] == '>') {
        ASSERT_TRUE(j->renameDevice(step.substr(0, 1), step.substr(2)).ok()) << steps;
        continue;
      }
      std::vector<EventRecord> events;  // without timestamps
      for (const char c : step.substr(2)) events.push_back({0xFF, static_cast<std::uint8_t>(c)});
      ArchiveOf(events).writeTo(path);
      ASSERT_TRUE(j->importArchive(path, step.substr(0, 1)).ok()) << steps;
    }
    EventFilter filter;
    filter.device = device;
    std::string got;
    for (const auto& segment : Exported(*j, filter)) {
      if (!got.empty()) got += ' ';
      for (const EventRecord& e : segment) got += static_cast<char>(e[kArgumentByte]);
    }
    EXPECT_EQ(got, segments) << steps;
    EXPECT_EQ(Problems(journal), std::vector<std::string>{}) << steps;
  }
}

// Each way an import or a rename join moves events carries their notes: a
// step "a:10-20" imports events 10-19 of SecondEvents into device a, "a@15"
// puts a note on event 15 of device a, "a>b" renames a to b.
TEST_P(JournalTest, NotesFollowEveryKindOfJoin) {
  const std::vector<std::string> cases = {
      "a:10-20 a@15 a:0-40",                               // a copy holds a segment whole
      "a:10-20 a@15 a:30-40 a@35 a:0-35",                  // ... and precedes another
      "a:0-10 a@5 a:20-30 a@25 a:5-25",                    // bridges two segments
      "a:10-20 a@15 b:0-40 b@15 b@5 a>b",                  // a join finds a segment held
      "a:10-20 a@15 a:30-40 a@35 b:0-35 b@2 b>a",          // a joined segment holds one
      "a:0-10 a@5 a:20-30 a@25 b:5-25 b@15 b:40-50 b>a"};  // ... bridges two
  int made = 0;
  for (const std::string& steps : cases) {
    auto j = OpenJournal(location(std::to_string(++made) + ".sqlite"), Journal::Access::kImport);
    std::multiset<std::int64_t> noted;
    std::istringstream words(steps);
    for (std::string step; words >> step;) {
      const std::string device = step.substr(0, 1);
      if (step[1] == '>') {
        ASSERT_TRUE(j->renameDevice(device, step.substr(2)).ok()) << steps;
        continue;
      }
      const std::int64_t from = std::stoi(step.substr(2));
      if (step[1] == '@') {
        ASSERT_TRUE(j->addNote({device, SecondEvent(from), {}, {}}, "k", step, {"x", 0}).ok());
        noted.insert(from);
      } else {
        ArchiveOf(SecondEvents(from, std::stoi(step.substr(step.find('-') + 1))))
            .writeTo(dir_.file("copy.dat"));
        ASSERT_TRUE(j->importArchive(dir_.file("copy.dat"), device).ok()) << steps;
      }
    }
    const auto notes = j->notes({}).value();
    std::multiset<std::int64_t> found;
    for (const NoteVersion& note : notes) {
      const std::int64_t at = std::stoi(note.text.substr(2));
      EXPECT_EQ(note.event, SecondEvent(at)) << steps << ": " << note.text;
      found.insert(at);
    }
    EXPECT_EQ(found, noted) << steps;
    EXPECT_EQ(j->check().value(), std::vector<std::string>{}) << steps;
  }
}

// Every segment by rank, ids aside: its seqs, count, last timestamp and
// events, each with the numbers of its notes; then the notes that wait for
// their event.
std::string SegmentsAndNotes(const std::string& journal) {
  if (IsServerLocation(journal)) {
    return Text(
        journal,
        "WITH noted AS (SELECT segment_id, seq, '#' || string_agg(number::text, ',' "
        "ORDER BY number) AS numbers FROM notes GROUP BY segment_id, seq), "
        "lines AS (SELECT e.segment_id, string_agg(upper(encode(e.raw, 'hex')) || "
        "coalesce(n.numbers, ''), ',' ORDER BY e.seq) AS events FROM events e "
        "LEFT JOIN noted n USING (segment_id, seq) GROUP BY e.segment_id) "
        "SELECT coalesce(string_agg(s.rank || ':' || s.first_seq || '-' || s.last_seq || "
        "':' || s.event_count || ':' || coalesce(s.last_timestamp, '') || ':' || l.events, "
        "';' ORDER BY s.rank), '') || ' waiting: ' || coalesce((SELECT "
        "string_agg(number::text, ',' ORDER BY number) FROM notes WHERE segment_id IS NULL "
        "AND raw IS NOT NULL), '') FROM segments s LEFT JOIN lines l ON l.segment_id = s.id");
  }
  return Text(
      journal,
      "SELECT coalesce(group_concat(line, ';'), '') || ' waiting: ' || "
      "coalesce((SELECT group_concat(number) FROM (SELECT number FROM notes "
      "WHERE segment_id IS NULL AND raw IS NOT NULL ORDER BY number)), '') FROM "
      "(SELECT s.rank || ':' || s.first_seq || '-' || s.last_seq || ':' || s.event_count "
      "|| ':' || coalesce(s.last_timestamp, '') || ':' || (SELECT group_concat(h) FROM "
      "(SELECT hex(e.raw) || coalesce((SELECT '#' || group_concat(n.number) FROM notes n "
      "WHERE n.segment_id = e.segment_id AND n.seq = e.seq), '') AS h FROM events e "
      "WHERE e.segment_id = s.id ORDER BY e.seq)) AS line FROM segments s ORDER BY s.rank)");
}

// Copies imported in random orders, some twice, with notes put on events
// between: undoing the last import gives back exactly the journal before it
// (segments with their ranks and seqs, events, the notes' places), whether
// it made a segment, extended one or joined several; the note on an event it
// added waits, and importing the copy again gives back the journal after it,
// that note on its event. An import stays undoable while others that find
// their copy held come; an undone one, or one a later import followed, is
// refused.
TEST_P(JournalTest, UndoGivesBackTheJournalBeforeTheLastImport) {
  int undone = 0, joinsUndone = 0, segmentsUndone = 0;
  for (std::uint32_t seed = 1; seed <= repeats(8); ++seed) {
    SimulatedCopies copies(seed + 90, 6 + static_cast<int>(seed), seed % 2 ? 2500 : 700);
    const std::vector<std::string> paths = writeCopies(copies);
    const std::string journal = location("u" + std::to_string(seed) + ".sqlite");
    auto j = OpenJournal(journal, Journal::Access::kImport);
    std::mt19937 random(seed);
    std::vector<bool> covered(copies.device.events().size());
    std::optional<std::int64_t> last;
    for (const std::size_t copy : copies.importOrder()) {
      const CopyWindow w = copies.windows[copy];
      std::vector<std::size_t> fresh;  // the copy's events not yet in the journal
      for (std::size_t k = w.first; k < w.last; ++k) {
        if (!covered[k]) fresh.push_back(k);
      }
      // Compared only where an undo follows, never of the import that made the journal.
      const std::string before = last ? SegmentsAndNotes(journal) : "";
      const auto outcome = j->importArchive(paths[copy], "котёл");
      ASSERT_TRUE(outcome.ok());
      const auto undoable = j->lastImport("котёл").value();
      if (outcome.value().kind != ImportOutcome::Kind::kAdded) {
        EXPECT_EQ(undoable ? std::optional(undoable->id) : std::nullopt, last);
        continue;
      }
      ASSERT_TRUE(undoable);
      EXPECT_EQ(undoable->events, static_cast<std::int64_t>(fresh.size()));
      EXPECT_EQ(undoable->archive, paths[copy]);
      if (last) {
        EXPECT_EQ(j->undoLastImport("котёл", *last, true).error().kind,
                  JournalError::Kind::kChanged);
      }
      const bool madeDevice = !last;
      last = undoable->id;
      for (const std::size_t k : fresh) covered[k] = true;
      const auto& stream = copies.device.events();
      const bool noteOnNew = !fresh.empty() && random() % 2 == 0;
      if (noteOnNew) {
        const EventRecord& event = stream[fresh[random() % fresh.size()]];
        ASSERT_TRUE(j->addNote({"котёл", event, {}, {}}, "k", "на новом", {"x", 0}).ok());
      }
      const std::string after = SegmentsAndNotes(journal);
      // Joins are undone always; the first import made the device, which its
      // undo would take away, never.
      if ((random() % 3 != 0 && !outcome.value().joinedSegments) || madeDevice) {
        // Kept, and a note on one of its events, which later undos leave there.
        const EventRecord& event = stream[w.first + random() % (w.last - w.first)];
        ASSERT_TRUE(j->addNote({"котёл", event, {}, {}}, "k", "на старом", {"x", 0}).ok());
        continue;
      }
      const std::int64_t number = Count(journal, "SELECT max(number) FROM notes");
      EXPECT_EQ(j->lastImport("котёл").value()->notedEvents, noteOnNew ? 1 : 0);
      if (noteOnNew) {
        EXPECT_EQ(j->undoLastImport("котёл", *last, false).error().kind,
                  JournalError::Kind::kNotedEvents);
        EXPECT_EQ(SegmentsAndNotes(journal), after);
      }
      ASSERT_EQ(j->undoLastImport("котёл", *last, true).value(), outcome.value().newEvents);
      ++undone;
      joinsUndone += outcome.value().joinedSegments;
      segmentsUndone += outcome.value().newSegment;
      std::string expected = before;
      if (noteOnNew) expected += (expected.back() == ' ' ? "" : ",") + std::to_string(number);
      ASSERT_EQ(SegmentsAndNotes(journal), expected) << "seed " << seed;
      // The report shows a waiting note neither under an event nor as an entry.
      EventFilter device;
      device.device = "котёл";
      std::int64_t entries = 0;
      (void)j->forEachReportItem(device, [&](const ReportItem& item) {
        entries += item.event == nullptr ? 1 : 0;
        return true;
      });
      EXPECT_EQ(entries, 0);
      EXPECT_EQ(j->check().value(), std::vector<std::string>{}) << "seed " << seed;
      EXPECT_FALSE(j->lastImport("котёл").value());
      EXPECT_EQ(j->undoLastImport("котёл", *last, true).error().kind, JournalError::Kind::kChanged);
      ASSERT_TRUE(j->importArchive(paths[copy], "котёл").ok());
      ASSERT_EQ(SegmentsAndNotes(journal), after) << "seed " << seed;
      last = j->lastImport("котёл").value()->id;
    }
    EXPECT_EQ(Exported(*j), copies.expectedSegments()) << "seed " << seed;
    EXPECT_EQ(j->check().value(), std::vector<std::string>{}) << "seed " << seed;
  }
  EXPECT_GT(undone, static_cast<int>(repeats(10)));
  EXPECT_GT(joinsUndone, 0);
  EXPECT_GT(segmentsUndone, 0);
}

// Undoing the import that made a device takes the device and its row of
// imports away, unless notes keep it (then without events, the journal
// sound); a rename keeps the last import undoable, a rename join leaves
// nothing to undo. Imports into a journal of the version before undo have
// nothing to undo once it is brought up to date; the next one has.
TEST_P(JournalTest, UndoOfAMadeDeviceAfterRenamesAndInAnOlderJournal) {
  const std::string copy = dir_.file("copy.dat"), later = dir_.file("later.dat");
  ArchiveOf(SecondEvents(0, 10)).writeTo(copy);
  ArchiveOf(SecondEvents(20, 30)).writeTo(later);
  auto j = OpenJournal(journal_, Journal::Access::kImport);
  for (const char* device : {"a", "b", "c"}) ASSERT_TRUE(j->importArchive(copy, device).ok());
  ASSERT_TRUE(j->addNote({"c", {}, {}, "2013-01-01T00:00:05"}, "k", "запись", {"x", 0}).ok());
  for (const char* device : {"b", "c"}) {
    const auto last = j->lastImport(device).value();
    ASSERT_TRUE(last);
    EXPECT_EQ(j->undoLastImport(device, last->id, false).value(), 10);
  }
  EXPECT_EQ(j->lastImport("b").error().kind, JournalError::Kind::kUnknownDevice);
  const auto devices = j->devices().value();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1].name, "c");
  EXPECT_EQ(devices[1].events, 0);
  EXPECT_EQ(j->notes({}).value().size(), 1u);
  EXPECT_EQ(Count(journal_, "SELECT count(*) FROM imports WHERE undone_at IS NULL"), 1);
  EXPECT_EQ(Count(journal_, "SELECT count(*) FROM imports WHERE undone_at IS NOT NULL"), 1);
  EXPECT_EQ(j->check().value(), std::vector<std::string>{});

  ASSERT_TRUE(j->importArchive(later, "a").ok());
  ASSERT_TRUE(j->renameDevice("a", "z").ok());
  EXPECT_TRUE(j->lastImport("z").value());
  ASSERT_TRUE(j->importArchive(copy, "c").ok());
  ASSERT_TRUE(j->renameDevice("c", "z").ok());
  EXPECT_FALSE(j->lastImport("z").value());

  ArchiveOf(SecondEvents(25, 40)).writeTo(later);
  ASSERT_TRUE(j->importArchive(later, "z").ok());
  j.reset();
  ExecAt(journal_,
         std::string("DROP TABLE import_undo_parts; DROP TABLE import_undo; "
                     "ALTER TABLE imports DROP COLUMN undone_at; ") +
             (onServer() ? "UPDATE journal_info SET version = 4;" : "PRAGMA user_version = 4;"));
  std::optional<FileSnapshot> untouched;
  if (!onServer()) untouched.emplace(journal_);
  EXPECT_FALSE(OpenJournal(journal_, Journal::Access::kRead)->lastImport("z").value());
  EXPECT_EQ(Version(journal_), 4);
  if (untouched) {
    EXPECT_EQ(FileSnapshot(journal_), *untouched);
  }
  j = OpenJournal(journal_, Journal::Access::kImport);
  EXPECT_EQ(Version(journal_), kJournalSchemaVersion);
  EXPECT_FALSE(j->lastImport("z").value());
  ArchiveOf(SecondEvents(35, 50)).writeTo(later);
  ASSERT_TRUE(j->importArchive(later, "z").ok());
  EXPECT_EQ(j->undoLastImport("z", j->lastImport("z").value()->id, false).value(), 10);
  EXPECT_EQ(Exported(*j),
            (std::vector<std::vector<EventRecord>>{SecondEvents(0, 10), SecondEvents(20, 40)}));

  // A merge that joins the segment of the last import ends its offer, and a
  // note waiting for its event comes over waiting.
  const std::string other = location("other.sqlite");
  {
    auto o = OpenJournal(other, Journal::Access::kImport);
    for (const auto& [first, last] : {std::pair{105, 125}, std::pair{140, 150}}) {
      ArchiveOf(SecondEvents(first, last)).writeTo(later);
      ASSERT_TRUE(o->importArchive(later, "m").ok());
    }
    ASSERT_TRUE(o->addNote({"m", SecondEvent(145), {}, {}}, "k", "ждет", {"x", 0}).ok());
    ASSERT_EQ(o->undoLastImport("m", o->lastImport("m").value()->id, true).value(), 10);
  }
  for (const auto& [first, last] : {std::pair{100, 110}, std::pair{120, 130}}) {
    ArchiveOf(SecondEvents(first, last)).writeTo(later);
    ASSERT_TRUE(j->importArchive(later, "m").ok());
  }
  j.reset();
  Merge(other, journal_);
  j = OpenJournal(journal_, Journal::Access::kImport);
  EXPECT_FALSE(j->lastImport("m").value());
  NoteFilter m;
  m.device = "m";
  const auto waiting = j->notes(m).value();
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].event, SecondEvent(145));
  EXPECT_FALSE(waiting[0].place);
  EXPECT_EQ(j->check().value(), std::vector<std::string>{});
}

// The last second of the --to day and the first of the --from day are in.
TEST_P(JournalTest, DateFiltersTakeWholeDays) {
  constexpr std::int64_t kDay = 86400;
  // 01.01 23:59:59, 02.01 00:00:00, 02.01 23:59:59, 03.01 00:00:00, no timestamp
  const std::vector<EventRecord> events = {SecondEvent(kDay - 1), SecondEvent(kDay),
                                           SecondEvent(2 * kDay - 1), SecondEvent(2 * kDay),
                                           EventRecord{0xFF, 1, 0, 0, 0, 2, 1, 13}};
  ArchiveOf(events).writeTo(dir_.file("days.dat"));
  auto j = OpenJournal(journal_, Journal::Access::kImport);
  ASSERT_TRUE(j->importArchive(dir_.file("days.dat"), std::string("d")).ok());
  for (const auto& [from, to, passing] :  // "" for no bound
       std::vector<std::tuple<std::string, std::string, std::vector<std::size_t>>>{
           {"", "2013-01-02", {0, 1, 2}},
           {"2013-01-02", "", {1, 2, 3}},
           {"2013-01-02", "2013-01-02", {1, 2}},
           {"2013-01-03", "2013-01-03", {3}}}) {
    EventFilter filter;
    filter.device = "d";
    if (!from.empty()) filter.fromDate = from;
    if (!to.empty()) filter.toDate = to;
    std::vector<EventRecord> expected;
    for (const std::size_t i : passing) expected.push_back(events[i]);
    EXPECT_EQ(Exported(*j, filter), std::vector<std::vector<EventRecord>>{expected})
        << from << ".." << to;
    EXPECT_EQ(j->view(filter).value()->eventCount(), static_cast<std::int64_t>(expected.size()));
  }
}

// Reads `fd` until `lines` line ends have come or the output has ended; the
// number of line ends read (more than `lines` when they came in one read).
int ReadLines(int fd, int lines) {
  int seen = 0;
  char buffer[4096];
  while (seen < lines) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    seen += static_cast<int>(std::count(buffer, buffer + got, '\n'));
  }
  return seen;
}

// An import killed at any moment leaves a sound journal that holds exactly
// the archives whose import committed, in the order they were given, and the
// next import goes on from there. The kill comes once the import has printed
// a line for k archives, k drawn each round: its line follows an archive's
// commit, so at least k have committed, and the child is somewhere in the
// following archives whatever the machine's speed.
TEST_P(JournalTest, KilledImportsLeaveExactlyTheCommittedArchives) {
  SimulatedCopies copies(11, 40, 300);
  const std::vector<std::string> paths = writeCopies(copies);
  const auto archives = static_cast<std::int64_t>(paths.size());
  std::vector<std::string> args = {"--journal", journal_, "import", "--device", "d", "--"};
  args.insert(args.end(), paths.begin(), paths.end());
  std::string& journal = args[1];
  std::mt19937 random(3);
  std::int64_t committed = 0;
  for (int round = 0; round < static_cast<int>(repeats(25)); ++round) {
    // Where the kill comes before the journal's progress, start again in a
    // new journal; else the import goes on from the killed one.
    const auto lines = static_cast<int>(random() % (archives + 1));
    if (lines < committed) {
      journal = location("k" + std::to_string(round));
      committed = 0;
    }
    const PipedProcess child = SpawnWithPipedOutput(VEKS_JOURNAL_TOOL, args);
    ASSERT_NE(child.pid, -1) << "round " << round;
    const int printed = ReadLines(child.output, lines);
    // A moment more, so that the kill also lands inside the next archive's
    // transaction; nothing checked depends on where it lands.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    kill(child.pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    close(child.output);
    ASSERT_GE(printed, lines) << "round " << round << ": the import ended early";
    if (onServer()) AwaitServerWriters(journal);
    if (!JournalExists(journal)) {
      ASSERT_EQ(printed, 0) << "round " << round;
      continue;
    }

    if (!onServer()) {
      ASSERT_EQ(IntegrityCheck(journal), "ok") << "round " << round;
    }
    ASSERT_EQ(Problems(journal), std::vector<std::string>{}) << "round " << round;
    committed = Count(journal, "SELECT count(*) FROM imports");
    ASSERT_GE(committed, printed) << "round " << round << ": a line came before its commit";
    MemoryHistory expected;
    for (std::int64_t i = 0; i < committed; ++i) {
      expected.import(copies.events(static_cast<std::size_t>(i)));
    }
    std::vector<std::vector<EventRecord>> segments;
    for (const Segment& s : expected.segments()) segments.push_back(s.events);
    auto j = OpenJournal(journal, Journal::Access::kRead);
    ASSERT_EQ(Exported(*j), segments) << "round " << round << ", " << committed << " committed";
  }
}

// Reads made while another process imports copies that join segments each
// see one committed state: the history after some number of the imports.
TEST_P(JournalTest, ReadsSeeOneStateWhileAnotherProcessImports) {
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

TEST_P(JournalTest, NotesWrittenAtOnceAllLand) {
  makeJournal(journal_);
  std::vector<pid_t> writers;
  for (int i = 0; i < 12; ++i) {
    writers.push_back(
        SpawnJournalTool({"--journal", journal_, "note", "add", "--device", "d", "--at",
                          "2013-01-01T00:00:00", "--author", "a", std::to_string(i)}));
    ASSERT_NE(writers.back(), -1);
  }
  for (const pid_t writer : writers) {
    int status = -1;
    EXPECT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(Count(journal_, "SELECT count(DISTINCT text) FROM note_versions"), 12);
  EXPECT_EQ(Count(journal_, "SELECT max(number) FROM notes"), 12);
}

TEST_P(JournalTest, TwoImportsAtOnceBothLand) {
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
  // -1 (a failed start) would wait for any child.
  if (pa != -1) waitpid(pa, &sa, 0);
  if (pb != -1) waitpid(pb, &sb, 0);
  ASSERT_NE(pa, -1);
  ASSERT_NE(pb, -1);
  EXPECT_EQ(sa, 0);
  EXPECT_EQ(sb, 0);
  auto j = OpenJournal(journal_, Journal::Access::kRead);
  EventFilter filter;
  filter.device = "first";
  EXPECT_EQ(Exported(*j, filter), first.expectedSegments());
  filter.device = "second";
  EXPECT_EQ(Exported(*j, filter), second.expectedSegments());
}

// A sound journal checks clean; each kind of damage done behind the journal's
// back is found, placed by device and segment, and nothing is written. On
// the server the damage is done by a superuser who turns the journal's
// constraints and triggers off; what only SQLite's own storage has is not
// damaged there.
TEST_P(JournalTest, CheckFindsEachKindOfDamage) {
  SimulatedCopies copies(41, 8, 1500);
  const std::string sound = location("sound.sqlite");
  {
    auto j = OpenJournal(sound, Journal::Access::kImport);
    for (const std::string& path : writeCopies(copies))
      ASSERT_TRUE(j->importArchive(path, "a").ok());
    ASSERT_TRUE(j->importArchive(dir_.file("copy0.dat"), "b").ok());
    ASSERT_TRUE(j->addNote({"a", copies.events(0)[3], {}, {}}, "k", "t", {"x", 0}).ok());
    ASSERT_TRUE(j->addNote({"b", {}, {}, "2013-01-01T00:00:00"}, "k", "t", {"x", 0}).ok());
    ASSERT_EQ(j->check().value(), std::vector<std::string>{});
  }
  ASSERT_GT(copies.expectedSegments().size(), 1u);
  // The oldest segment of device a, and its first event.
  const std::string a = "(SELECT id FROM devices WHERE name = 'a')";
  const std::string first = "(SELECT id FROM segments WHERE device_id = " + a +
                            " ORDER BY last_timestamp IS NULL, last_timestamp, rank LIMIT 1)";
  const auto event = [&](const std::string& change) {
    return "UPDATE events SET " + change + " WHERE segment_id = " + first +
           " AND seq = (SELECT first_seq FROM segments WHERE id = " + first + ")";
  };
  const std::string inFirst = "устройство a, участок 1";
  const std::vector<std::pair<std::string, std::string>> damages = {
      {"DELETE FROM events WHERE segment_id = " + first +
           " AND seq = (SELECT first_seq + 1 FROM segments WHERE id = " + first + ")",
       inFirst + ": в номерах событий"},
      {"UPDATE segments SET last_seq = last_seq + 1 WHERE id = " + first, inFirst + ": события"},
      {"UPDATE segments SET event_count = event_count + 1 WHERE id = " + first,
       inFirst + ": записано событий"},
      {"UPDATE segments SET last_timestamp = '2000-01-01T00:00:00' WHERE id = " + first,
       inFirst + ": метка последнего"},
      {event("date = '01.01.01'"), inFirst + ", событие"},
      {event("time = time || ' '"), inFirst + ", событие"},
      {event("event = 'Норма'"), inFirst + ", событие"},
      {event("input = ''"), inFirst + ", событие"},
      {event("timestamp = NULL"), inFirst + ", событие"},
      {event("code = code + 1"), inFirst + ", событие"},
      {event("argument = argument + 1"), inFirst + ", событие"},
      {event("raw = x'00'"), inFirst + ", событие"},
      {"UPDATE segments SET rank = 1 WHERE device_id = " + a, "устройство a: ранг 1"},
      {"DELETE FROM segments WHERE id = " + first, "отсутствует"},
      {"DELETE FROM devices WHERE name = 'b'", "нет в журнале"},
      {"INSERT INTO devices (name) VALUES ('c')", "устройство c: нет ни одного участка"},
      {"INSERT INTO segments (device_id, rank, first_seq, last_seq, event_count) VALUES (" + a +
           ", 99, 1, 1, 1)",
       ": нет событий"},
      {"UPDATE notes SET seq = seq + 1 WHERE number = 1", ": примечание 1: записано к событию"},
      {"UPDATE notes SET segment_id = 99 WHERE number = 1", ": примечание 1: событие не найдено"},
      {"UPDATE notes SET device_id = 2 WHERE number = 1",
       "примечание 1: событие другого устройства"},
      {"DROP TRIGGER note_versions_kept; DELETE FROM note_versions", "примечание 2: нет ни одной"},
      {"PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = replace(sql, ' event,', "
       "' time,') WHERE name = 'events_event'",
       "база SQLite: "},
  };
  const auto serverText = [](std::string sql) {
    if (const auto at = sql.find("DROP TRIGGER"); at != std::string::npos) {
      sql.erase(at, sql.find(';', at) + 2 - at);
    }
    if (const auto at = sql.find("x'00'"); at != std::string::npos) {
      sql.replace(at, 5, "'\\x00'::bytea");
    }
    return "SET session_replication_role = replica; " + sql;
  };
  for (std::size_t i = 0; i < damages.size(); ++i) {
    const auto& [sql, found] = damages[i];
    if (onServer() && sql.starts_with("PRAGMA")) continue;
    const std::string broken = location("broken" + std::to_string(i) + ".sqlite");
    if (onServer()) {
      CopyServerJournal(sound, broken);
      if (i == 0) {
        ASSERT_EQ(Problems(broken), std::vector<std::string>{});
      }
    } else {
      std::filesystem::copy_file(sound, broken);
    }
    ExecAt(broken, onServer() ? serverText(sql) : sql);
    // A server's reader cannot write: its transactions are read-only.
    std::optional<FileSnapshot> before;
    if (!onServer()) before.emplace(broken);
    const auto problems = OpenJournal(broken, Journal::Access::kRead)->check();
    ASSERT_TRUE(problems.ok()) << sql;
    EXPECT_TRUE(
        std::any_of(problems.value().begin(), problems.value().end(),
                    [&](const std::string& line) { return line.find(found) != std::string::npos; }))
        << sql << "\n"
        << testing::PrintToString(problems.value());
    if (before) {
      EXPECT_EQ(FileSnapshot(broken), *before) << sql;
    }
  }
}

// Backups taken while another process imports are each one committed state
// of the journal, a file also for a journal on a server; a backup never
// replaces a file.
TEST_P(JournalTest, BackupIsOneCommittedStateAndNeverReplacesAFile) {
  SimulatedCopies copies(51, 40, 300);
  const std::vector<std::string> paths = writeCopies(copies);
  ASSERT_TRUE(OpenJournal(journal_, Journal::Access::kImport)->importArchive(paths[0], "d").ok());
  std::vector<std::string> args = {"--journal", journal_, "import", "--device", "d", "--"};
  args.insert(args.end(), paths.begin() + 1, paths.end());
  const pid_t importer = SpawnJournalTool(args);
  ASSERT_NE(importer, -1);
  auto j = OpenJournal(journal_, Journal::Access::kRead);
  std::int64_t committed = 0;
  int status = -1;
  // One more backup after the import has ended: the last holds every copy.
  for (bool ended = false; !ended;) {
    ended = waitpid(importer, &status, WNOHANG) == importer;
    const std::string target =
        dir_.file("backup" + std::to_string(committed) + "-" + std::to_string(ended) + ".sqlite");
    if (std::filesystem::exists(target)) continue;
    const auto events = j->backup(target);
    ASSERT_TRUE(events.ok()) << events.error().message;
    EXPECT_FALSE(std::filesystem::exists(target + "-wal"));
    committed = Count(target, "SELECT count(*) FROM imports");
    MemoryHistory expected;
    std::vector<std::vector<EventRecord>> segments;
    std::int64_t total = 0;
    for (std::int64_t i = 0; i < committed; ++i) expected.import(copies.events(std::size_t(i)));
    for (const Segment& s : expected.segments()) {
      segments.push_back(s.events);
      total += static_cast<std::int64_t>(s.events.size());
    }
    auto copy = OpenJournal(target, Journal::Access::kRead);
    ASSERT_EQ(Exported(*copy), segments) << committed << " committed";
    EXPECT_EQ(events.value(), total);
    EXPECT_EQ(copy->check().value(), std::vector<std::string>{});
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(committed, static_cast<std::int64_t>(paths.size()));

  const std::string taken = dir_.file("taken.sqlite");
  WriteBytes(taken, {1, 2, 3});
  for (const auto& [target, message] : std::vector<std::pair<std::string, std::string>>{
           {taken, "Копия не записана: файл уже существует"},
           {journal_, "Копия не записана: это файл самого журнала"},
           {journal_ + "-wal", "Копия не записана: это файл самого журнала"},
           {dir_.file("none/b.sqlite"),
            std::string("Копия не записана: ") + std::strerror(ENOENT)}}) {
    if (onServer() && target.starts_with(journal_)) continue;
    const auto refused = j->backup(target);
    ASSERT_FALSE(refused.ok()) << target;
    EXPECT_EQ(refused.error().message, message);
  }
  EXPECT_EQ(FileSnapshot(taken).bytes, (std::vector<char>{1, 2, 3}));
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().string().find(".new-"), std::string::npos) << entry.path();
  }
  if (onServer()) return;
  // The import ended while the reader read: the reader that closes last
  // leaves the whole journal in the file, and one still reading keeps it.
  auto other = OpenJournal(journal_, Journal::Access::kRead);
  j.reset();
  const auto whole = Exported(*other);
  ASSERT_TRUE(std::filesystem::exists(journal_ + "-wal"));
  other.reset();
  EXPECT_FALSE(std::filesystem::exists(journal_ + "-wal") ||
               std::filesystem::exists(journal_ + "-shm"));
  EXPECT_EQ(Exported(*OpenJournal(journal_, Journal::Access::kRead)), whole);
}

// Archives that fail or hold nothing make no journal and no folder; the
// first that stores events does, after clearing what interrupted makings of
// the journal left beside it (only theirs, and only those of processes that
// are gone and that have rested for a minute).
TEST_P(JournalTest, AnImportMakesTheJournalOnlyWhenItStoresEvents) {
  const std::string journal = location("made/here/j.sqlite");
  const std::string empty = dir_.file("empty.dat");
  ArchiveBuilder().fillNumbered().setWriteOffset(255).writeTo(empty);
  {
    auto j = OpenJournal(journal, Journal::Access::kImport);
    EXPECT_FALSE(j->importArchive(dir_.file("none.dat"), std::nullopt).ok());
    EXPECT_EQ(j->importArchive(empty, "d").value().kind, ImportOutcome::Kind::kEmptyCopy);
    EXPECT_EQ(j->devices().value().size(), 0u);
    EXPECT_EQ(j->proposedDevice(empty).value(), "empty");
    // The statistics of a journal not made yet are those of an empty one.
    const StatsFilter named{std::string("d"), {}, {}};
    EXPECT_EQ(j->stats({}).error().kind, JournalError::Kind::kNoEvents);
    EXPECT_EQ(j->stats(named).error().kind, JournalError::Kind::kUnknownDevice);
    EXPECT_EQ(j->due(std::nullopt).value().size(), 0u);
    EXPECT_EQ(j->due(std::string("d")).error().kind, JournalError::Kind::kUnknownDevice);
    EXPECT_EQ(j->series(named, SeriesPeriod::kDay).error().kind,
              JournalError::Kind::kUnknownDevice);
    EXPECT_EQ(j->overview(named).error().kind, JournalError::Kind::kUnknownDevice);
  }
  EXPECT_FALSE(JournalExists(journal));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("made")));

  const pid_t gone = SpawnJournalTool({"--help"});
  ASSERT_NE(gone, -1);
  waitpid(gone, nullptr, 0);
  const std::string dead = std::to_string(gone), alive = std::to_string(getpid());
  struct Leftover {
    std::string name;
    bool rested;
    bool removed;
  };
  std::vector<Leftover> leftovers;  // a server journal has none
  if (!onServer()) {
    leftovers = {{"j.sqlite.new-" + dead + "-1", true, true},
                 {"j.sqlite.new-" + dead + "-2-wal", true, true},
                 {"j.sqlite.new-" + dead + "-3", false, false},
                 {"j.sqlite.new-" + alive + "-4", true, false},
                 {"k.sqlite.new-" + dead + "-5", true, false},
                 {"j.sqlite.new-" + dead + "-x", true, false}};
  }
  std::filesystem::create_directories(dir_.file("made/here"));
  for (const Leftover& l : leftovers) {
    const auto path = dir_.path() / "made/here" / l.name;
    WriteBytes(path, {0});
    if (l.rested) {
      std::filesystem::last_write_time(
          path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
    }
  }
  makeJournal(journal);
  EXPECT_EQ(Count(journal, "SELECT count(*) FROM devices"), 1);
  for (const Leftover& l : leftovers) {
    EXPECT_EQ(std::filesystem::exists(dir_.path() / "made/here" / l.name), !l.removed) << l.name;
  }
}

// A journal in a folder that cannot be written opens for reading where it
// lies, with nothing, a -wal and its -shm, or a -wal alone beside it (which
// cannot be read there), and says why; an import is refused. Folder names
// that a URI would read as syntax.
TEST_P(JournalFileTest, JournalThatCannotBeWrittenIsReadWhereItLies) {
  namespace fs = std::filesystem;
  SimulatedCopies copies(71, 3, 900);
  const std::vector<std::string> paths = writeCopies(copies);
  const std::string reason = "нет права на запись в папку журнала";
  for (const int besides : {0, 1, 2}) {
    const fs::path folder = dir_.path() / ("?#%41 " + std::to_string(besides));
    const std::string journal = (folder / "j.sqlite").string();
    fs::create_directories(folder);
    sqlite3* holder = nullptr;  // while it reads, no import's closing folds the -wal
    for (std::size_t i = 0; i < paths.size(); ++i) {
      ASSERT_TRUE(
          OpenJournal(journal, Journal::Access::kImport)->importArchive(paths[i], "d").ok());
      if (i == 0 && besides > 0) {
        sqlite3_open_v2(journal.c_str(), &holder, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(holder, "SELECT count(*) FROM events", nullptr, nullptr, nullptr);
      }
    }
    sqlite3_close(holder);
    if (besides == 2) fs::remove(journal + "-shm");
    fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write,
                    fs::perm_options::remove);
    const bool ran = AsUnprivileged([&] {
      auto read = Journal::Open(journal, Journal::Access::kRead);
      ASSERT_EQ(read.ok(), besides < 2);
      if (read.ok()) {
        EXPECT_EQ(read.value()->readOnlyReason(), reason);
        EXPECT_EQ(Exported(*read.value()), copies.expectedSegments());
      }
      EXPECT_EQ(Journal::Open(journal, Journal::Access::kImport).error().message,
                std::string(kMsgJournalReadOnly) + ": " + reason);
    });
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
    if (!ran) GTEST_SKIP() << "no user whom permission bits bind";
  }
}

// What only a server journal has: many clients of one journal at once.
class JournalServerTest : public JournalTest {};

// Four processes import copies of one device at once, each its share or each
// every copy in an order of its own, while this one reads: the journal ends
// with the history one process makes of the same copies, and every read is
// the history of the copies committed by then, and a history view laid out
// before a commit refuses its rows after it. A copy comes every 600 slots:
// neighbours overlap and copies two apart leave events between them, so the
// events a read holds tell which copies it holds.
TEST_P(JournalServerTest, ImportsOfOneDeviceFromFourProcessesAtOnce) {
  DeviceSimulator device(61u);
  std::vector<std::pair<std::size_t, std::size_t>> windows;
  std::vector<std::string> paths;
  for (int i = 0; i < 16; ++i) {
    device.run(600);
    windows.push_back(device.copyWindow());
    paths.push_back(dir_.file(std::to_string(i) + ".dat"));
    device.archive().writeTo(paths.back());
  }
  const auto& stream = device.events();
  std::map<EventRecord, std::size_t> place;
  for (std::size_t k = 0; k < stream.size(); ++k) place.emplace(stream[k], k);
  ASSERT_EQ(place.size(), stream.size());
  for (std::size_t i = 0; i + 2 < windows.size(); ++i) {
    ASSERT_LT(windows[i + 1].first, windows[i].second);
    ASSERT_GT(windows[i + 2].first, windows[i].second);
  }
  // The segments of the copies `held` says the journal holds, in the history's order.
  const auto historyOf = [&](const std::function<bool(std::size_t)>& held) {
    MemoryHistory memory;
    for (std::size_t i = 0; i < windows.size(); ++i) {
      if (held(i)) {
        memory.import({stream.begin() + static_cast<std::ptrdiff_t>(windows[i].first),
                       stream.begin() + static_cast<std::ptrdiff_t>(windows[i].second)});
      }
    }
    std::vector<std::vector<EventRecord>> segments;
    for (const Segment& s : memory.segments()) segments.push_back(s.events);
    std::sort(segments.begin(), segments.end(),
              [](auto& a, auto& b) { return LastTimestamp(a) < LastTimestamp(b); });
    return segments;
  };
  const std::string alone = location("alone");
  {
    auto j = OpenJournal(alone, Journal::Access::kImport);
    for (const std::string& path : paths) ASSERT_TRUE(j->importArchive(path, "d").ok());
  }
  const auto oneProcess = Exported(*OpenJournal(alone, Journal::Access::kRead));
  ASSERT_EQ(oneProcess, historyOf([](std::size_t) { return true; }));

  for (const bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "every process imports every copy" : "each process its share");
    const std::string journal = location(shared ? "shared" : "split");
    std::mt19937 random(shared ? 2 : 1);
    std::vector<pid_t> importers;  // -1 once waited for
    std::vector<int> statuses;
    // A failed check leaves no importer running.
    const std::shared_ptr<void> reap(nullptr, [&](void*) {
      for (const pid_t importer : importers) {
        if (importer != -1 && kill(importer, SIGKILL) == 0) waitpid(importer, nullptr, 0);
      }
    });
    for (std::size_t k = 0; k < 4; ++k) {
      std::vector<std::size_t> mine;
      for (std::size_t i = 0; i < paths.size(); ++i) {
        if (shared || i % 4 == k) mine.push_back(i);
      }
      std::shuffle(mine.begin(), mine.end(), random);
      std::vector<std::string> args = {"--journal", journal, "import", "--device", "d", "--"};
      for (const std::size_t i : mine) args.push_back(paths[i]);
      importers.push_back(SpawnJournalTool(args));
      ASSERT_NE(importers.back(), -1);
    }
    std::unique_ptr<Journal> reader;
    std::optional<PgConnection> watch;
    std::unique_ptr<HistoryView> view;
    std::int64_t imports = -1;
    std::size_t heldBefore = 0;
    for (bool last = false; !last;) {
      last = true;
      for (pid_t& importer : importers) {
        int status = -1;
        if (importer != -1 && waitpid(importer, &status, WNOHANG) == importer) {
          importer = -1;
          statuses.push_back(status);
        }
        last = last && importer == -1;
      }
      // Each read waits for the journal to be made, then for another commit.
      if (!reader) {
        auto opened = Journal::Open(journal, Journal::Access::kRead);
        if (!opened.ok()) {
          ASSERT_EQ(opened.error().kind, JournalError::Kind::kMissing);
          ASSERT_FALSE(last);
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          continue;
        }
        reader = std::move(opened.value());
        watch.emplace(journal);
      }
      const std::int64_t now = watch->exec("SELECT count(*) FROM imports").integer(0, 0);
      if (now == imports && !last) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      // A view laid out before a commit refuses its rows after it.
      if (view && now != imports) {
        const auto rows = view->rows(0, view->rowCount());
        ASSERT_FALSE(rows.ok());
        EXPECT_EQ(rows.error().kind, JournalError::Kind::kChanged);
      }
      imports = now;
      const auto segments = Exported(*reader);
      std::set<std::size_t> covered;
      for (const auto& segment : segments) {
        for (const EventRecord& e : segment) {
          const auto at = place.find(e);
          ASSERT_NE(at, place.end());
          covered.insert(at->second);
        }
      }
      ASSERT_GE(covered.size(), heldBefore);
      heldBefore = covered.size();
      ASSERT_EQ(segments, historyOf([&](std::size_t i) {
                  for (std::size_t k = windows[i].first; k < windows[i].second; ++k) {
                    if (!covered.contains(k)) return false;
                  }
                  return true;
                }));
      if (!segments.empty()) {
        EventFilter filter;
        filter.device = "d";
        auto made = reader->view(filter);
        ASSERT_TRUE(made.ok()) << made.error().message;
        view = std::move(made.value());
        // Counted after the view's layout: the next read comes after a commit
        // the view cannot hold.
        imports = watch->exec("SELECT count(*) FROM imports").integer(0, 0);
      }
    }
    EXPECT_EQ(statuses, std::vector<int>(4, 0));
    EXPECT_EQ(Exported(*reader), oneProcess);
    EXPECT_EQ(Problems(journal), std::vector<std::string>{});
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalTest, testing::Values(Engine::kFile, Engine::kServer),
                         EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, JournalFileTest, testing::Values(Engine::kFile), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, JournalServerTest, testing::Values(Engine::kServer), EngineName);

}  // namespace
}  // namespace veks
