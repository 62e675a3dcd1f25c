#include "journal/pg_statement.h"

#include <atomic>

#include "journal/pg_sql.h"
#include "journal/sqlite.h"

namespace veks {

static_assert(JournalStatement<SqliteStatement>);
static_assert(JournalStatement<PgStatement>);

namespace {

// Cursor names are unique in the process, so in every transaction too.
std::atomic<unsigned> cursors{0};

}  // namespace

PgStatement::PgStatement(PgConnection& connection, std::string_view sql, Fetch fetch, int batch)
    : connection_(connection), sql_(PgStatementText(sql)), mode_(fetch), batch_(batch) {}

PgStatement::~PgStatement() {
  try {
    reset();
  } catch (...) {
    // The cursor goes with its transaction.
  }
}

PgStatement& PgStatement::set(int index, Value value, PgType type) {
  const auto at = static_cast<std::size_t>(index - 1);
  if (values_.size() <= at) {
    values_.resize(at + 1);
    types_.resize(at + 1, PgType::kUnknown);
    bound_.resize(at + 1, false);
  }
  values_[at] = std::move(value);
  bound_[at] = true;
  if (type != PgType::kUnknown) types_[at] = type;
  return *this;
}

PgStatement& PgStatement::bind(int index, std::int64_t value) {
  return set(index, value, PgType::kBigint);
}

PgStatement& PgStatement::bind(int index, std::string_view text) {
  return set(index, std::string(text), PgType::kText);
}

PgStatement& PgStatement::bind(int index, std::span<const std::uint8_t> blob) {
  return set(index, std::vector<std::uint8_t>(blob.begin(), blob.end()), PgType::kBytea);
}

PgStatement& PgStatement::bind(int index, const std::optional<std::string>& text) {
  return text ? bind(index, std::string_view(*text)) : set(index, {}, PgType::kText);
}

PgStatement& PgStatement::bindNull(int index) { return set(index, {}, PgType::kUnknown); }

PgParams PgStatement::params() const {
  PgParams params;
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (const auto* n = std::get_if<std::int64_t>(&values_[i])) {
      params.add(*n);
    } else if (const auto* t = std::get_if<std::string>(&values_[i])) {
      params.add(std::string_view(*t));
    } else if (const auto* b = std::get_if<std::vector<std::uint8_t>>(&values_[i])) {
      params.add(std::span<const std::uint8_t>(*b));
    } else {
      params.addNull(bound_[i] ? types_[i] : PgType::kText);
    }
  }
  return params;
}

void PgStatement::fetch() {
  rows_ = connection_.exec("FETCH " + std::to_string(batch_) + " FROM " + cursor_);
  row_ = -1;
}

bool PgStatement::step() {
  if (!started_) {
    started_ = true;
    // A cursor lives in a transaction; outside one the rows come whole.
    if (mode_ == Fetch::kInBatches && connection_.inTransaction()) {
      cursor_ = "veks12_cursor_" + std::to_string(++cursors);
      connection_.exec("DECLARE " + cursor_ + " NO SCROLL CURSOR FOR " + sql_, params());
      fetch();
    } else {
      rows_ = connection_.execPrepared(sql_, params());
      row_ = -1;
    }
  }
  if (++row_ < rows_->rows()) return true;
  if (cursor_.empty() || rows_->rows() < batch_) return false;
  fetch();
  return ++row_ < rows_->rows();
}

void PgStatement::run() {
  while (step()) {
  }
  reset();
}

void PgStatement::reset() {
  rows_.reset();
  row_ = -1;
  started_ = false;
  if (cursor_.empty()) return;
  const std::string cursor = std::move(cursor_);
  cursor_.clear();
  // In a transaction that failed the cursor is gone with it.
  if (PQtransactionStatus(connection_.handle()) == PQTRANS_INTRANS) {
    connection_.exec("CLOSE " + cursor);
  }
}

}  // namespace veks
