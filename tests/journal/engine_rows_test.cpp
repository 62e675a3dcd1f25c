// The rows an import writes are the same on both engines, whatever the
// number of new events: the server writes them many to a statement.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/pg_connection.h"
#include "tests/journal/test_engines.h"
#include "tools/device_simulator.h"

namespace veks {
namespace {

constexpr const char* kEventRows =
    "SELECT s.rank, e.seq, e.code, e.argument, e.raw, e.timestamp, e.date, e.time, e.event, "
    "e.input FROM events e JOIN segments s ON s.id = e.segment_id ORDER BY s.rank, e.seq";

// Every event row of the journal at `location`, its columns joined.
std::vector<std::string> EventRows(const std::string& location) {
  std::vector<std::string> rows;
  if (IsServerLocation(location)) {
    PgConnection server(location);
    const PgResult result = server.exec(kEventRows);
    for (int r = 0; r < result.rows(); ++r) {
      std::string row;
      for (int c = 0; c < 10; ++c) {
        row += c < 4                 ? std::to_string(result.integer(r, c))
               : result.isNull(r, c) ? std::string("NULL")
                                     : std::string(result.text(r, c));
        row += '|';
      }
      rows.push_back(std::move(row));
    }
    return rows;
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(location.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* all = nullptr;
  sqlite3_prepare_v2(db, kEventRows, -1, &all, nullptr);
  while (sqlite3_step(all) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < 10; ++c) {
      if (c < 4) {
        row += std::to_string(sqlite3_column_int64(all, c));
      } else if (sqlite3_column_type(all, c) == SQLITE_NULL) {
        row += "NULL";
      } else {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(all, c));
        row.append(bytes, static_cast<std::size_t>(sqlite3_column_bytes(all, c)));
      }
      row += '|';
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(all);
  sqlite3_close(db);
  return rows;
}

// Copies whose new events number from one to a whole ring, one taken after
// a gap (a new segment), one again (nothing new), and an older one imported
// after newer ones (events before a segment's first).
TEST(EngineRows, ImportsWriteTheSameRowsOnBothEngines) {
  if (TestServer() == nullptr) GTEST_SKIP() << "VEKS_TEST_PG is not set: no test server";
  TempDir dir;
  DeviceSimulator device(7u);
  const int slotsBefore[] = {300, 1, 2, 3, 7, 200, 511, 512, 513, 991, 0, kSlotCount + 50, 600};
  std::vector<std::string> copies;
  for (const int slots : slotsBefore) {
    device.run(slots);
    copies.push_back(dir.file("copy" + std::to_string(copies.size()) + ".dat"));
    device.archive().writeTo(copies.back());
  }
  device.run(400);
  const std::string older = dir.file("older.dat");
  device.archive().writeTo(older);
  device.run(500);
  copies.push_back(dir.file("newer.dat"));
  device.archive().writeTo(copies.back());
  copies.push_back(older);

  std::vector<std::vector<std::int64_t>> gained(2);
  std::vector<std::vector<std::string>> rows(2);
  for (const Engine engine : {Engine::kFile, Engine::kServer}) {
    const std::string location = JournalLocation(engine, dir, "j.sqlite");
    auto opened = Journal::Open(location, Journal::Access::kImport);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    for (const std::string& copy : copies) {
      auto outcome = opened.value()->importArchive(copy, std::string("d"));
      ASSERT_TRUE(outcome.ok()) << outcome.error().message;
      gained[static_cast<int>(engine)].push_back(outcome.value().newEvents);
    }
    opened.value().reset();
    rows[static_cast<int>(engine)] = EventRows(location);
  }
  EXPECT_EQ(gained[0], gained[1]);
  EXPECT_GT(rows[0].size(), 3000u);
  EXPECT_EQ(rows[0], rows[1]);
}

}  // namespace
}  // namespace veks
