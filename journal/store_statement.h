// A statement of the journal's store on either engine: the SQLite file's
// (SqliteStatement) or the server's (PgStatement). The journal's rooms bind,
// step and read rows through StoreStatement and never name the engine; a
// row readers take is a StoreRow.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "journal/pg_statement.h"

namespace veks {

// The current row of a statement.
class StoreRow {
 public:
  virtual ~StoreRow() = default;
  [[nodiscard]] virtual std::int64_t integer(int column) const = 0;
  [[nodiscard]] virtual std::string_view text(int column) const = 0;
  [[nodiscard]] virtual std::span<const std::uint8_t> blob(int column) const = 0;
  [[nodiscard]] virtual bool isNull(int column) const = 0;
};

// Binding numbers count from 1; values are always bound, never pasted into
// SQL. step() gives true while there is a row; run() runs a statement that
// gives none and resets it; reset() makes it ready to run again, its
// bindings kept.
class StoreStatement : public StoreRow {
 public:
  virtual StoreStatement& bind(int index, std::int64_t value) = 0;
  virtual StoreStatement& bind(int index, std::string_view text) = 0;
  virtual StoreStatement& bind(int index, std::span<const std::uint8_t> blob) = 0;
  virtual StoreStatement& bind(int index, const std::optional<std::string>& text) = 0;
  virtual StoreStatement& bindNull(int index) = 0;
  virtual bool step() = 0;
  virtual void run() = 0;
  virtual void reset() = 0;
};

// StoreStatement over one engine's statement.
template <JournalStatement S>
class EngineStatement final : public StoreStatement {
 public:
  template <typename... Args>
  explicit EngineStatement(Args&&... args) : s_(std::forward<Args>(args)...) {}

  StoreStatement& bind(int index, std::int64_t value) override {
    s_.bind(index, value);
    return *this;
  }
  StoreStatement& bind(int index, std::string_view text) override {
    s_.bind(index, text);
    return *this;
  }
  StoreStatement& bind(int index, std::span<const std::uint8_t> blob) override {
    s_.bind(index, blob);
    return *this;
  }
  StoreStatement& bind(int index, const std::optional<std::string>& text) override {
    s_.bind(index, text);
    return *this;
  }
  StoreStatement& bindNull(int index) override {
    s_.bindNull(index);
    return *this;
  }
  bool step() override { return s_.step(); }
  void run() override { s_.run(); }
  void reset() override { s_.reset(); }
  [[nodiscard]] std::int64_t integer(int column) const override { return s_.integer(column); }
  [[nodiscard]] std::string_view text(int column) const override { return s_.text(column); }
  [[nodiscard]] std::span<const std::uint8_t> blob(int column) const override {
    return s_.blob(column);
  }
  [[nodiscard]] bool isNull(int column) const override { return s_.isNull(column); }

 private:
  S s_;
};

}  // namespace veks
