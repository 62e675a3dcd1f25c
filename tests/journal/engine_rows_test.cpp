// The rows an import writes are the same on both engines, whatever the
// number of new events: the server writes them many to a statement.
#include <gtest/gtest.h>

#include "journal/journal.h"
#include "journal/journal_store.h"
#include "journal/pg_schema.h"
#include "tests/journal/test_engines.h"
#include "tools/device_simulator.h"

namespace veks {
namespace {

// Every event row of the journal at `location`, its columns joined.
std::vector<std::string> EventRows(const std::string& location) {
  std::unique_ptr<JournalStore> store;
  if (IsServerLocation(location)) {
    auto server = std::make_unique<PgConnection>(location);
    const std::string schema = JournalSchemaName(*server);
    store = std::make_unique<JournalStore>(std::move(server), schema);
  } else {
    store = std::make_unique<JournalStore>(location, SQLITE_OPEN_READONLY);
  }
  StatementLease rows = store->statement(
      "SELECT s.rank, e.seq, e.code, e.argument, e.raw, e.timestamp, e.date, e.time, e.event, "
      "e.input FROM events e JOIN segments s ON s.id = e.segment_id ORDER BY s.rank, e.seq");
  std::vector<std::string> all;
  while (rows.step()) {
    std::string row;
    for (int c = 0; c < 10; ++c) {
      row += c < 4 ? std::to_string(rows.integer(c)) : std::string(rows.text(c));
      row += rows.isNull(c) ? "(null)|" : "|";
    }
    all.push_back(std::move(row));
  }
  return all;
}

// Copies that bring from one new event to a whole ring's, one again (nothing
// new), one after a gap (a new segment), and the last two in reverse order:
// the newer one alone, then the older, whose events go before its first.
TEST(EngineRows, ImportsWriteTheSameRowsOnBothEngines) {
  if (TestServer() == nullptr) GTEST_SKIP() << "VEKS_TEST_PG is not set: no test server";
  TempDir dir;
  DeviceSimulator device(7u);
  std::vector<std::string> copies;
  for (const int slots : {300, 1, 2, 3, 7, 511, 512, 513, 991, 0, kSlotCount + 50, 1100, 400}) {
    device.run(slots);
    copies.push_back(dir.file("copy" + std::to_string(copies.size()) + ".dat"));
    device.archive().writeTo(copies.back());
  }
  std::swap(copies[copies.size() - 2], copies.back());
  std::vector<std::string> rows[2];
  for (const Engine engine : {Engine::kFile, Engine::kServer}) {
    const std::string location = JournalLocation(engine, dir, "j.sqlite");
    auto opened = Journal::Open(location, Journal::Access::kImport);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    for (const std::string& copy : copies) {
      ASSERT_TRUE(opened.value()->importArchive(copy, std::string("d")).ok()) << copy;
    }
    rows[static_cast<int>(engine)] = EventRows(location);
  }
  EXPECT_GT(rows[0].size(), 3000u);
  EXPECT_EQ(rows[0], rows[1]);
}

}  // namespace
}  // namespace veks
