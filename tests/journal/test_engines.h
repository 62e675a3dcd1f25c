// The journal's suites run on both engines: a file, and a schema of its own
// on the test server (VEKS_TEST_PG, a connection URI that
// scripts/with-test-pg.sh sets). Without a server the server's runs skip.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <ostream>
#include <string>

#include "journal/pg_connection.h"
#include "tools/archive_builder.h"

namespace veks {

enum class Engine { kFile, kServer };

inline const char* TestServer() {
  const char* uri = std::getenv("VEKS_TEST_PG");
  return uri != nullptr && *uri != '\0' ? uri : nullptr;
}

// How gtest prints an engine in a test's name and failures.
inline void PrintTo(Engine engine, std::ostream* out) {
  *out << (engine == Engine::kFile ? "file" : "server");
}

inline std::string EngineName(const testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::kFile ? "File" : "Server";
}

// A new journal location: the file `name` in `dir`, or on the server a
// schema no other test (nor process) uses, made on the first import.
inline std::string JournalLocation(Engine engine, TempDir& dir, const std::string& name) {
  if (engine == Engine::kFile) return dir.file(name);
  // A process id comes again once its process has ended, and the schemas of
  // earlier tests stay on the cluster: a random part keeps names apart.
  static const std::string process = [] {
    std::random_device random;
    return std::to_string(::getpid()) + "_" + std::to_string(random() % 1000000000u);
  }();
  static std::atomic<int> made{0};
  const std::string uri = TestServer() != nullptr ? TestServer() : "postgresql:///none";
  return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3Dt" +
         process + "_" + std::to_string(++made);
}

// The first column of the first row `sql` gives at the journal `location`
// (either engine), as an integer or a text; nothing when it gives no row or
// fails.
inline std::optional<std::string> FirstValue(const std::string& location, const std::string& sql,
                                             bool integer) {
  if (IsServerLocation(location)) {
    try {
      PgConnection server(location);
      const PgResult rows = server.exec(sql);
      if (rows.rows() == 0 || rows.isNull(0, 0)) return std::nullopt;
      return integer ? std::to_string(rows.integer(0, 0)) : std::string(rows.text(0, 0));
    } catch (const std::exception& error) {
      ADD_FAILURE() << sql << ": " << error.what();
      return std::nullopt;
    }
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(location.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  std::optional<std::string> value;
  if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

// Runs statements of the program's own text on either engine.
inline void ExecAt(const std::string& location, const std::string& sql) {
  if (IsServerLocation(location)) {
    try {
      PgConnection server(location);
      server.execScript(sql);
    } catch (const std::exception& error) {
      ADD_FAILURE() << sql << ": " << error.what();
    }
    return;
  }
  sqlite3* db = nullptr;
  sqlite3_open(location.c_str(), &db);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

// A suite run on both engines: TEST_P(Suite, ...) with
// INSTANTIATE_TEST_SUITE_P(Engines, Suite, testing::Values(Engine::kFile,
// Engine::kServer), EngineName).
class BothEngines : public testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::kServer && TestServer() == nullptr) {
      GTEST_SKIP() << "VEKS_TEST_PG is not set: no test server";
    }
  }
  [[nodiscard]] bool onServer() const { return GetParam() == Engine::kServer; }
  // A new journal of this run's engine, `name` naming its file.
  std::string location(const std::string& name) { return JournalLocation(GetParam(), dir_, name); }

  TempDir dir_;
};

}  // namespace veks
