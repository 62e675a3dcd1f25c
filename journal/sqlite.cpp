#include "journal/sqlite.h"

#include <filesystem>

namespace veks {
namespace {

[[noreturn]] void Fail(sqlite3* db, int code) {
  if (db == nullptr) throw SqliteError(code, sqlite3_errstr(code));
  // SQLite keeps the system's errno only for these; for others it is stale.
  const int primary = code & 0xFF;
  const bool fromSystem = primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR;
  throw SqliteError(code, sqlite3_errmsg(db), fromSystem ? sqlite3_system_errno(db) : 0);
}

// "file://" and the absolute path, every byte but the unreserved ones and "/"
// written as %HH, so that nothing in the name reads as a query or a fragment.
std::string FileUri(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const char c : std::filesystem::absolute(path).string()) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || byte == '/' || byte == '-' || byte == '.' || byte == '_' ||
        byte == '~') {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  return uri;
}

}  // namespace

std::string SqliteFileName(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  return "./" + path;
}

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  stmt_.reset(stmt);
  if (rc != SQLITE_OK) Fail(db, rc);
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
  if (const int rc = sqlite3_bind_int64(stmt_.get(), index, value); rc != SQLITE_OK) Fail(db_, rc);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  if (const int rc = sqlite3_bind_text(stmt_.get(), index, text.data(),
                                       static_cast<int>(text.size()), SQLITE_TRANSIENT);
      rc != SQLITE_OK) {
    Fail(db_, rc);
  }
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::span<const std::uint8_t> blob) {
  if (const int rc = sqlite3_bind_blob(stmt_.get(), index, blob.data(),
                                       static_cast<int>(blob.size()), SQLITE_TRANSIENT);
      rc != SQLITE_OK) {
    Fail(db_, rc);
  }
  return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
  if (const int rc = sqlite3_bind_null(stmt_.get(), index); rc != SQLITE_OK) Fail(db_, rc);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, const std::optional<std::string>& text) {
  return text ? bind(index, std::string_view(*text)) : bindNull(index);
}

bool SqliteStatement::step() {
  const int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_.get());
  Fail(db_, rc);
}

void SqliteStatement::run() {
  while (step()) {
  }
  reset();
}

void SqliteStatement::reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

std::int64_t SqliteStatement::integer(int column) const {
  return sqlite3_column_int64(stmt_.get(), column);
}

std::string_view SqliteStatement::text(int column) const {
  const auto* data = sqlite3_column_text(stmt_.get(), column);
  const int size = sqlite3_column_bytes(stmt_.get(), column);
  if (data == nullptr) return {};
  return {reinterpret_cast<const char*>(data), static_cast<std::size_t>(size)};
}

std::span<const std::uint8_t> SqliteStatement::blob(int column) const {
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_.get(), column));
  const int size = sqlite3_column_bytes(stmt_.get(), column);
  if (data == nullptr) return {};
  return {data, static_cast<std::size_t>(size)};
}

bool SqliteStatement::isNull(int column) const {
  return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

SqliteDb::SqliteDb(const std::string& path, int flags, Access access) {
  sqlite3* db = nullptr;
  // The only URI ever opened is the one made here from the file's name.
  const int rc =
      access == Access::kImmutable
          ? sqlite3_open_v2((FileUri(path) + "?immutable=1").c_str(), &db,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_EXRESCODE, nullptr)
          : sqlite3_open_v2(SqliteFileName(path).c_str(), &db,
                            (flags & ~SQLITE_OPEN_URI) | SQLITE_OPEN_EXRESCODE, nullptr);
  db_.reset(db);
  if (rc != SQLITE_OK) Fail(db, rc);
}

void SqliteDb::exec(std::string_view sql) {
  const std::string text(sql);
  if (const int rc = sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, nullptr);
      rc != SQLITE_OK) {
    Fail(db_.get(), rc);
  }
}

std::int64_t SqliteDb::pragmaInteger(std::string_view name) {
  SqliteStatement statement = prepare("PRAGMA " + std::string(name));
  return statement.step() ? statement.integer(0) : 0;
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

SqliteTransaction::~SqliteTransaction() {
  if (!done_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteTransaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace veks
