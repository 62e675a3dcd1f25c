// A small owner of a connection to a PostgreSQL server, the results of its
// statements and its transactions: the journal's second engine, beside the
// SQLite file (journal/sqlite.h).
//
// Built on libpq, the server's own C client library (Debian's libpq-dev; the
// package depends on libpq5). The journal needs a handful of its calls (bound
// parameters, binary results, prepared statements, the connection's error and
// transaction state), and this wrapper gives them the same shape as the SQLite
// one: one owner per handle, values always bound, never pasted into SQL. A C++
// layer over libpq (libpqxx) would add a second library and a second error
// model to what is a thin wrapper here.
//
// A connection is named by a URI ("postgresql://...", "postgres://...") or a
// keyword string, as libpq reads them: its environment (PGHOST, PGUSER, ...),
// the password file and the service file all apply. No password is ever shown:
// every message that may name the connection is passed through ScrubSecrets.
//
// Failures throw: JournalError (kUnavailable) when the server cannot be
// reached or the connection is lost, PgError when a statement fails. The
// journal's public face turns both into values (Guarded).
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "journal/journal_types.h"

namespace veks {

inline constexpr const char* kMsgServerLost = "Связь с сервером журнала потеряна";

// Whether a journal location names a server rather than a file: it begins
// with "postgresql://" or "postgres://" (in lower case, as libpq reads them).
[[nodiscard]] bool IsServerLocation(std::string_view location);

// The location as it may be shown: a URI without the password of its user
// part and without a "password" parameter; a keyword string without its
// password keyword. Other parts stay as they were written.
[[nodiscard]] std::string ShownServerLocation(std::string_view location);

// `message` with every password that `location` holds replaced by "***", and
// `location` itself, wherever the message quotes it, shown as above.
// `knownPassword` is one more (the password file's, once connected).
[[nodiscard]] std::string ScrubSecrets(std::string message, std::string_view location,
                                       std::string_view knownPassword = {});

// A statement failed on the server: the SQLSTATE code (such as "25006", a
// write in a read-only transaction) and the server's message, scrubbed.
class PgError : public std::runtime_error {
 public:
  PgError(std::string sqlstate, const std::string& message)
      : std::runtime_error(message), sqlstate_(std::move(sqlstate)) {}
  [[nodiscard]] const std::string& sqlstate() const { return sqlstate_; }

 private:
  std::string sqlstate_;
};

// The connection could not be made; `needsPassword` when the server asked
// for a password that none of the location, the environment, the password
// file and the passwords remembered below gave, or refused the one
// remembered for the location (which is then forgotten): the window then
// asks the operator.
struct PgConnectFailure : JournalError {
  bool needsPassword = false;
};

// A password the operator gave for `location`, kept in this process's memory
// only (never in a file, a setting or a command line) and sent with every
// connection to exactly that location. An empty password forgets it.
// Callable from any thread.
void RememberServerPassword(const std::string& location, std::string password);
void ForgetServerPassword(const std::string& location);
[[nodiscard]] bool HasServerPassword(const std::string& location);

// The types parameters are sent as. Every integer column of the journal is a
// bigint, and texts compare byte for byte. kUnknown (a null's only) lets the
// server take the type the statement gives the parameter.
enum class PgType : Oid { kUnknown = 0, kBigint = 20, kText = 25, kBytea = 17 };

// A statement's parameters, numbered $1, $2, ... in the order added; every
// one is sent in binary with its type, so nothing is parsed from text.
class PgParams {
 public:
  PgParams& add(std::int64_t value);
  PgParams& add(std::string_view text);
  PgParams& add(const std::string& text) { return add(std::string_view(text)); }
  PgParams& add(const char* text) { return add(std::string_view(text)); }
  PgParams& add(std::span<const std::uint8_t> bytes);
  PgParams& add(const std::optional<std::string>& text);
  PgParams& addNull(PgType type);

  [[nodiscard]] int size() const { return static_cast<int>(types_.size()); }
  [[nodiscard]] const std::vector<Oid>& types() const { return types_; }

  // The arrays libpq takes, valid while this lives unchanged.
  struct Arrays {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
  };
  [[nodiscard]] Arrays arrays() const;

 private:
  std::vector<std::string> values_;
  std::vector<bool> null_;
  std::vector<Oid> types_;
};

// The rows of a statement, their values in binary. integer() reads the
// integer and boolean columns; text() and bytes() read any column as its
// bytes (texts are UTF-8). A null reads as 0 or empty; isNull() tells.
class PgResult {
 public:
  explicit PgResult(PGresult* result) : result_(result) {}

  [[nodiscard]] int rows() const { return PQntuples(result_.get()); }
  [[nodiscard]] bool isNull(int row, int column) const {
    return PQgetisnull(result_.get(), row, column) != 0;
  }
  [[nodiscard]] std::int64_t integer(int row, int column) const;
  [[nodiscard]] std::string_view text(int row, int column) const;
  [[nodiscard]] std::span<const std::uint8_t> bytes(int row, int column) const;
  [[nodiscard]] std::optional<std::string> optionalText(int row, int column) const;
  // The command's tag: "COMMIT", "INSERT 0 1", ...
  [[nodiscard]] std::string_view commandTag() const;
  // The number of rows an INSERT, UPDATE or DELETE touched.
  [[nodiscard]] std::int64_t affected() const;

 private:
  struct Clear {
    void operator()(PGresult* r) const { PQclear(r); }
  };
  std::unique_ptr<PGresult, Clear> result_;
};

class PgConnection {
 public:
  // Connects to `location` (a URI or a keyword string), talking UTF-8;
  // throws PgConnectFailure when the server cannot be reached.
  explicit PgConnection(const std::string& location);

  // One statement with its parameters bound; its rows come back in binary.
  PgResult exec(std::string_view sql, const PgParams& params = {});
  // The same, through a statement prepared once per connection (on its
  // second use, with the parameter types of that use; the first runs it
  // unprepared) and kept for the next.
  PgResult execPrepared(const std::string& sql, const PgParams& params = {});
  // Several statements of the program's own text, no parameters: the
  // schema's steps and transaction control.
  void execScript(std::string_view sql);

  // `name` quoted as an identifier (a schema's or a table's name in SQL).
  [[nodiscard]] std::string identifier(std::string_view name) const;
  // Whether a transaction is open on this connection.
  [[nodiscard]] bool inTransaction() const;
  [[nodiscard]] const std::string& shownLocation() const { return shown_; }
  [[nodiscard]] PGconn* handle() const { return conn_.get(); }

 private:
  // Throws the failure `result` reports (nullptr: libpq's own), scrubbed.
  [[noreturn]] void fail(const PGresult* result) const;
  PgResult checked(PGresult* result) const;

  struct Finish {
    void operator()(PGconn* c) const { PQfinish(c); }
  };
  std::unique_ptr<PGconn, Finish> conn_;
  std::string location_;
  std::string shown_;
  std::map<std::string, std::string, std::less<>> prepared_;  // SQL -> statement name
  std::set<std::string, std::less<>> runOnce_;                // SQL run unprepared once
};

// One transaction on a connection, rolled back at destruction unless
// committed.
//   kRead: REPEATABLE READ, READ ONLY. Every statement sees the snapshot the
//     first one took, whatever other clients commit meanwhile. Within a
//     transaction already open it reads that transaction's state and ends
//     nothing.
//   kWrite: READ COMMITTED. A write takes the device's lock (LockDevice)
//     first; each statement after it sees what the lock's previous holder
//     committed. (REPEATABLE READ would fix the snapshot at the lock's own
//     statement, before the wait, and the import would not see the history
//     the previous holder wrote.)
class PgTransaction {
 public:
  enum class Kind { kRead, kWrite };
  PgTransaction(PgConnection& connection, Kind kind);
  ~PgTransaction();
  PgTransaction(const PgTransaction&) = delete;
  PgTransaction& operator=(const PgTransaction&) = delete;
  void commit();

 private:
  PgConnection& connection_;
  bool open_ = false;  // this transaction began here and has not ended
};

// Waits for, then holds until the transaction ends, the journal's advisory
// lock named `key` (keys that hash alike share a lock: they only wait more).
// Shared holders go on side by side and wait only for an exclusive one.
enum class LockMode { kExclusive, kShared };
void HoldTransactionLock(PgConnection& connection, std::string_view key,
                         LockMode mode = LockMode::kExclusive);

// Waits for, then holds until the transaction ends, the lock that writers of
// `device` in the journal `schema` take, so that writes of one device from
// many clients come one after the other. Writes of other devices go on.
void LockDevice(PgConnection& connection, std::string_view schema, std::string_view device);

}  // namespace veks
