// A statement on the server with the calls of an SQLite statement (bind by
// number, step, read the row's columns, reset), so that the journal's rooms
// can run one text on either engine: JournalStatement names those calls.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "journal/pg_connection.h"

namespace veks {

template <typename S>
concept JournalStatement = requires(S s, const S c, int i, std::int64_t n, std::string_view t,
                                    std::span<const std::uint8_t> b,
                                    const std::optional<std::string>& o) {
  { s.bind(i, n) } -> std::same_as<S&>;
  { s.bind(i, t) } -> std::same_as<S&>;
  { s.bind(i, b) } -> std::same_as<S&>;
  { s.bind(i, o) } -> std::same_as<S&>;
  { s.bindNull(i) } -> std::same_as<S&>;
  { s.step() } -> std::same_as<bool>;
  s.run();
  s.reset();
  { c.integer(i) } -> std::same_as<std::int64_t>;
  { c.text(i) } -> std::same_as<std::string_view>;
  { c.blob(i) } -> std::same_as<std::span<const std::uint8_t>>;
  { c.isNull(i) } -> std::same_as<bool>;
};

class PgStatement {
 public:
  enum class Fetch {
    // The first step runs the statement (prepared once per connection) and
    // takes all its rows: other statements may run while this one steps.
    kWhole,
    // A query of many rows (a SELECT): a cursor in the open transaction, its
    // rows taken `batch` at a time, so that memory stays small; other
    // statements may run between steps too. Outside a transaction, kWhole.
    kInBatches,
  };

  // `sql` as the journal writes it for SQLite (PgStatementText rewrites it).
  PgStatement(PgConnection& connection, std::string_view sql, Fetch fetch = Fetch::kWhole,
              int batch = 1000);
  ~PgStatement();
  PgStatement(const PgStatement&) = delete;
  PgStatement& operator=(const PgStatement&) = delete;

  // Binding numbers count from 1. A bigint, a text, a bytea, or null (sent
  // as the type of the value bound there before, text when none was).
  PgStatement& bind(int index, std::int64_t value);
  PgStatement& bind(int index, std::string_view text);
  PgStatement& bind(int index, std::span<const std::uint8_t> blob);
  PgStatement& bind(int index, const std::optional<std::string>& text);
  PgStatement& bindNull(int index);

  bool step();
  void run();
  // Ready to run again, its bindings kept (as SQLite keeps them); an open
  // cursor is closed.
  void reset();

  [[nodiscard]] std::int64_t integer(int column) const { return rows_->integer(row_, column); }
  [[nodiscard]] std::string_view text(int column) const { return rows_->text(row_, column); }
  [[nodiscard]] std::span<const std::uint8_t> blob(int column) const {
    return rows_->bytes(row_, column);
  }
  [[nodiscard]] bool isNull(int column) const { return rows_->isNull(row_, column); }

 private:
  using Value = std::variant<std::monostate, std::int64_t, std::string, std::vector<std::uint8_t>>;
  PgStatement& set(int index, Value value, PgType type);
  [[nodiscard]] PgParams params() const;
  void fetch();

  PgConnection& connection_;
  std::string sql_;
  Fetch mode_;
  int batch_;
  std::vector<Value> values_;
  std::vector<PgType> types_;
  std::vector<bool> bound_;  // a number the statement may not use is sent as a null text
  std::optional<PgResult> rows_;
  int row_ = -1;
  bool started_ = false;
  std::string cursor_;  // the open cursor's name, empty when none
};

}  // namespace veks
