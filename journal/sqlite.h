// A small owner of an SQLite connection and its prepared statements. Failures
// throw SqliteError; the journal turns them into its own error values at its
// boundary, so no exception leaves the journal.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace veks {

class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& message, int systemError = 0)
      : std::runtime_error(message), code_(code), systemError_(systemError) {}
  [[nodiscard]] int code() const { return code_; }
  // The errno of the system call that failed beneath, 0 when none did.
  [[nodiscard]] int systemError() const { return systemError_; }

 private:
  int code_;
  int systemError_;
};

// The name under which SQLite opens the file `path`: a relative name gets
// "./" before it, so that neither "file:..." (a URI to a build that reads
// URIs by default) nor ":memory:" means anything but a file of that name.
[[nodiscard]] std::string SqliteFileName(const std::string& path);

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, std::string_view sql);

  // Binding numbers count from 1. Values are always bound, never pasted into SQL.
  SqliteStatement& bind(int index, std::int64_t value);
  SqliteStatement& bind(int index, std::string_view text);
  SqliteStatement& bind(int index, std::span<const std::uint8_t> blob);
  SqliteStatement& bindNull(int index);
  SqliteStatement& bind(int index, const std::optional<std::string>& text);

  // One step: true while it gives a row.
  bool step();
  // Runs a statement that gives no rows, then resets it.
  void run();
  // Ready to run again with new bindings.
  void reset();

  [[nodiscard]] std::int64_t integer(int column) const;
  [[nodiscard]] std::string_view text(int column) const;
  [[nodiscard]] std::span<const std::uint8_t> blob(int column) const;
  [[nodiscard]] bool isNull(int column) const;

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
};

class SqliteDb {
 public:
  enum class Access {
    kAsFlagsSay,
    // Read as the file stands, without locks and without its -wal and -shm,
    // which SQLite then neither reads nor makes: for a file nobody can change
    // while it is open. The flags are ignored.
    kImmutable,
  };
  // `flags` as sqlite3_open_v2 takes them; `path` is always a file name.
  SqliteDb(const std::string& path, int flags, Access access = Access::kAsFlagsSay);

  void exec(std::string_view sql);
  SqliteStatement prepare(std::string_view sql) { return SqliteStatement(db_.get(), sql); }
  [[nodiscard]] std::int64_t pragmaInteger(std::string_view name);
  [[nodiscard]] sqlite3* handle() const { return db_.get(); }

 private:
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Close> db_;
};

// Runs a transaction: BEGIN IMMEDIATE at construction (waiting out other
// writers for the busy timeout), ROLLBACK at destruction unless committed.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  void commit();

 private:
  SqliteDb& db_;
  bool done_ = false;
};

}  // namespace veks
