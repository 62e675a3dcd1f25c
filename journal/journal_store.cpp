#include "journal/journal_store.h"

#include <algorithm>
#include <array>
#include <filesystem>

#include "journal/journal_file.h"
#include "journal/journal_schema.h"
#include "journal/pg_schema.h"
#include "report/event_export.h"

namespace veks {
namespace {

// How long an import waits for another one to finish its transaction.
constexpr int kBusyTimeoutMs = 30000;
// How often a wait with a caller's say asks it.
constexpr int kBusyStepMs = 10;

int AskedBusyWait(void* keepWaiting, int count) {
  if (count * kBusyStepMs >= kBusyTimeoutMs) return 0;
  if (!(*static_cast<const std::function<bool()>*>(keepWaiting))()) return 0;
  sqlite3_sleep(kBusyStepMs);
  return 1;
}

// The most events one INSERT writes on a server: 5,120 parameters, well
// within the protocol's 65,535.
constexpr std::size_t kEventsPerInsert = 512;

// An INSERT of `rows` events, ten parameters each.
std::string InsertEventsText(std::size_t rows) {
  std::string sql =
      "INSERT INTO events (segment_id, seq, raw, code, argument, timestamp, date, time, event, "
      "input) VALUES ";
  for (std::size_t row = 0; row < rows; ++row) {
    sql += row == 0 ? "(" : ", (";
    for (std::size_t column = 1; column <= 10; ++column) {
      sql += (column == 1 ? "?" : ", ?") + std::to_string(row * 10 + column);
    }
    sql += ')';
  }
  return sql;
}

}  // namespace

SegmentRow ReadSegmentRow(const StoreRow& row) {
  return {row.integer(0),
          row.integer(1),
          row.integer(2),
          row.integer(3),
          row.integer(4),
          row.integer(5),
          row.isNull(6) ? std::nullopt : std::optional<std::string>(std::string(row.text(6)))};
}

EventRecord RecordOf(std::span<const std::uint8_t> blob) {
  EventRecord e{};
  std::copy_n(blob.begin(), std::min(blob.size(), e.size()), e.begin());
  return e;
}

std::optional<std::string> LastTimestamp(std::span<const EventRecord> events) {
  for (auto e = events.rbegin(); e != events.rend(); ++e) {
    if (auto stamp = EventTimestamp(*e)) return stamp;
  }
  return std::nullopt;
}

JournalStore::JournalStore(const std::string& path, int flags, SqliteDb::Access access)
    : db_(std::make_unique<SqliteDb>(path, flags, access)) {
  SqliteDb& db = *db_;
  // Until the file is known to be ours, closing must not checkpoint: a newer
  // program's commits may stand only in the -wal, and they stay there.
  sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // Another process may be writing (or making the file) just now: even the
  // first reads below wait for it.
  sqlite3_busy_timeout(db.handle(), kBusyTimeoutMs);
  // The header was checked before the file was opened; the version is asked
  // again here because a newer program may have changed it since, or
  // changed it in the -wal only.
  if (db.pragmaInteger("application_id") != kJournalApplicationId) {
    throw JournalError{JournalError::Kind::kNotJournal, kMsgNotAJournal};
  }
  if (db.pragmaInteger("user_version") > kJournalSchemaVersion) {
    throw JournalError{JournalError::Kind::kNewerVersion, kMsgNewerJournal};
  }
  sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
  db.exec("PRAGMA foreign_keys = ON");
  db.exec("PRAGMA temp_store = MEMORY");
  if ((flags & SQLITE_OPEN_READWRITE) != 0) {
    // WAL keeps committed imports through a crash of the process; a power
    // loss may cost the last ones, never the file's integrity.
    db.exec("PRAGMA synchronous = NORMAL");
    // An import probes the indexes at random places: it reads them through a
    // memory map and keeps them in a page cache of its size. Reading streams
    // the history and needs neither, so its memory stays small.
    db.exec("PRAGMA mmap_size = 268435456");
    db.exec("PRAGMA cache_size = -65536");
    if (db.pragmaInteger("user_version") < kJournalSchemaVersion) MigrateJournal(db);
  }
  // A journal of an older version opened for reading keeps its indexes.
  SqliteStatement indexes = db.prepare("SELECT name FROM sqlite_master WHERE type = 'index'");
  while (indexes.step()) indexes_.emplace(indexes.text(0));
  notes_ = db.pragmaInteger("user_version") >= kJournalNotesVersion;
  undo_ = db.pragmaInteger("user_version") >= kJournalUndoVersion;
}

JournalStore::JournalStore(std::unique_ptr<PgConnection> server, std::string schema)
    : server_(std::move(server)),
      cancel_(PQgetCancel(server_->handle())),
      schema_(std::move(schema)) {
  PgResult indexes = server_->exec("SELECT indexname FROM pg_indexes WHERE schemaname = $1",
                                   PgParams().add(schema_));
  for (int row = 0; row < indexes.rows(); ++row) indexes_.emplace(indexes.text(row, 0));
  const PgResult info = server_->exec("SELECT version, journal_id FROM journal_info");
  const std::int64_t version = info.integer(0, 0);
  journalId_ = std::string(info.text(0, 1));
  notes_ = version >= kJournalNotesVersion;
  undo_ = version >= kJournalUndoVersion;
}

JournalStore::~JournalStore() {
  // Statements go before the connection they run on.
  statements_.clear();
  if (cancel_ != nullptr) PQfreeCancel(cancel_);
}

SqliteDb& JournalStore::db() {
  if (!db_) throw std::logic_error("the journal is on a server, not in a file");
  return *db_;
}

PgConnection& JournalStore::server() {
  if (!server_) throw std::logic_error("the journal is in a file, not on a server");
  return *server_;
}

std::unique_ptr<StoreStatement> JournalStore::prepare(std::string_view sql, Rows rows) {
  if (server_) {
    return std::make_unique<EngineStatement<PgStatement>>(
        *server_, sql,
        rows == Rows::kMany ? PgStatement::Fetch::kInBatches : PgStatement::Fetch::kWhole);
  }
  return std::make_unique<EngineStatement<SqliteStatement>>(db_->handle(), sql);
}

bool JournalStore::inTransaction() const {
  return server_ ? server_->inTransaction() : sqlite3_get_autocommit(db_->handle()) == 0;
}

std::int64_t JournalStore::lastInsertId() {
  if (server_) return server_->execPrepared("SELECT lastval()").integer(0, 0);
  return sqlite3_last_insert_rowid(db_->handle());
}

std::pair<std::int64_t, std::int64_t> JournalStore::changeMark() {
  if (server_) {
    const PgResult mark = server_->execPrepared("SELECT changes, version FROM journal_info");
    return {mark.integer(0, 0), mark.integer(0, 1)};
  }
  return {db_->pragmaInteger("data_version"), sqlite3_total_changes64(db_->handle())};
}

void JournalStore::interrupt() {
  if (db_) {
    sqlite3_interrupt(db_->handle());
  } else if (cancel_ != nullptr) {
    std::array<char, 256> error{};
    PQcancel(cancel_, error.data(), static_cast<int>(error.size()));
  }
}

void JournalStore::lockDevices(std::vector<std::string> names) {
  if (!server_) return;
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  HoldTransactionLock(*server_, "journal\n" + schema_, LockMode::kShared);
  for (const std::string& name : names) LockDevice(*server_, schema_, name);
}

void JournalStore::lockNote(std::int64_t number) {
  if (!server_) return;
  HoldTransactionLock(*server_, "journal\n" + schema_, LockMode::kShared);
  HoldTransactionLock(*server_, "note\n" + schema_ + "\n" + std::to_string(number));
}

void JournalStore::lockJournal() {
  if (server_) HoldTransactionLock(*server_, "journal\n" + schema_);
}

void JournalStore::lockRanks() {
  if (server_) HoldTransactionLock(*server_, "ranks\n" + schema_);
}

void FoldJournalWal(const std::string& path) noexcept {
  try {
    std::error_code ec;
    if (!std::filesystem::exists(path + "-wal", ec) &&
        !std::filesystem::exists(path + "-shm", ec)) {
      return;
    }
    if (JournalReadOnlyReason(path)) return;
    SqliteDb db(path, SQLITE_OPEN_READWRITE);
    // Closing checkpoints only once the journal is known to be ours and of
    // no newer version, even in its -wal. Opening it waits for nobody: a
    // journal in use is left to those who use it.
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (db.pragmaInteger("application_id") == kJournalApplicationId &&
        db.pragmaInteger("user_version") <= kJournalSchemaVersion &&
        sqlite3_db_readonly(db.handle(), "main") == 0) {
      sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    }
  } catch (const std::exception&) {
    // The journal stays as it is, its -wal included: nothing is lost.
  }
}

ReadSnapshot::ReadSnapshot(JournalStore& store) {
  if (store.inTransaction()) return;
  if (store.onServer()) {
    server_.emplace(store.server(), PgTransaction::Kind::kRead);
    return;
  }
  // The state is fixed by the first read after BEGIN.
  store.db().exec("BEGIN");
  store_ = &store;
}

ReadSnapshot::~ReadSnapshot() {
  if (store_ == nullptr) return;
  // A transaction that only read has nothing to commit; ending it cannot fail
  // for a reason worth telling, and the next snapshot begins afresh.
  sqlite3* db = store_->db().handle();
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

WriteTransaction::WriteTransaction(JournalStore& store) : store_(store) {
  if (store.onServer()) {
    server_.emplace(store.server(), PgTransaction::Kind::kWrite);
  } else {
    file_.emplace(store.db());
  }
}

WriteTransaction::~WriteTransaction() = default;

void WriteTransaction::commit() {
  if (file_) {
    file_->commit();
    return;
  }
  // Readers that keep a view of the journal learn from the mark that it
  // changed. The marker's row is locked from here to the commit only.
  store_.server().execPrepared("UPDATE journal_info SET changes = changes + 1");
  server_->commit();
}

StatementLease::~StatementLease() {
  if (cached_ == nullptr) return;
  try {
    cached_->statement->reset();
  } catch (...) {
    // A server statement whose cursor went with a lost connection: it is
    // ready again all the same.
  }
  cached_->lent = false;
}

void JournalStore::setBusyWait(const std::function<bool()>* keepWaiting) {
  // A server's writers wait for each other's locks, not for a busy file.
  if (!db_) return;
  if (keepWaiting == nullptr || !*keepWaiting) {
    sqlite3_busy_timeout(db_->handle(), kBusyTimeoutMs);
  } else {
    sqlite3_busy_handler(db_->handle(), AskedBusyWait,
                         const_cast<std::function<bool()>*>(keepWaiting));
  }
}

StatementLease JournalStore::statement(const std::string& sql, Rows rows) {
  // The server's cursors and whole reads are different statements.
  auto& cached = statements_[server_ && rows == Rows::kMany ? "many\n" + sql : sql];
  for (const auto& one : cached) {
    if (!one->lent) {
      one->statement->reset();
      return StatementLease(*one);
    }
  }
  cached.push_back(std::make_unique<CachedStatement>(CachedStatement{prepare(sql, rows)}));
  return StatementLease(*cached.back());
}

void JournalStore::resetStatements() {
  for (auto& [sql, cached] : statements_) {
    for (const auto& one : cached) {
      if (!one->lent) one->statement->reset();
    }
  }
}

std::optional<std::int64_t> JournalStore::deviceId(const std::string& name) {
  StatementLease find = statement("SELECT id FROM devices WHERE name = ?1");
  find.bind(1, std::string_view(name));
  if (!find.step()) return std::nullopt;
  return find.integer(0);
}

std::string JournalStore::deviceName(std::int64_t id) {
  StatementLease find = statement("SELECT name FROM devices WHERE id = ?1");
  find.bind(1, id);
  return find.step() ? std::string(find.text(0)) : std::string();
}

std::string JournalStore::freeDeviceName(const std::string& base) {
  if (!deviceId(base)) return base;
  for (int n = 2;; ++n) {
    std::string name = base + " " + std::to_string(n);
    if (!deviceId(name)) return name;
  }
}

std::vector<std::pair<std::int64_t, std::string>> JournalStore::devicesByName() {
  std::vector<std::pair<std::int64_t, std::string>> all;
  StatementLease list = statement("SELECT id, name FROM devices ORDER BY name");
  while (list.step()) all.emplace_back(list.integer(0), std::string(list.text(1)));
  return all;
}

std::optional<SegmentRow> JournalStore::segment(std::int64_t id) {
  StatementLease find = statement(
      "SELECT id, device_id, rank, first_seq, last_seq, event_count, last_timestamp "
      "FROM segments WHERE id = ?1");
  find.bind(1, id);
  if (!find.step()) return std::nullopt;
  return ReadSegmentRow(find);
}

std::vector<SegmentRow> JournalStore::orderedSegments(std::int64_t device) {
  StatementLease list = statement(
      "SELECT id, rank, first_seq, last_seq, event_count, last_timestamp FROM segments "
      "WHERE device_id = ?1 ORDER BY last_timestamp IS NULL, last_timestamp, rank");
  list.bind(1, device);
  std::vector<SegmentRow> segments;
  while (list.step()) {
    segments.push_back(
        {list.integer(0), device, list.integer(1), list.integer(2), list.integer(3),
         list.integer(4),
         list.isNull(5) ? std::nullopt : std::optional<std::string>(std::string(list.text(5)))});
  }
  return segments;
}

void JournalStore::insertEvents(std::int64_t segment, std::int64_t firstSeq,
                                std::span<const EventRecord> events) {
  // A file takes one row a statement at little cost; on a server each
  // statement is a round trip, so rows go in runs of a power of two, each
  // run one statement (a few statement texts, each prepared once).
  const std::size_t longest = server_ ? kEventsPerInsert : 1;
  std::int64_t seq = firstSeq;
  for (std::size_t run = longest; run > 0; run /= 2) {
    if (events.size() < run) continue;
    StatementLease insert = statement(InsertEventsText(run));
    while (events.size() >= run) {
      for (std::size_t i = 0; i < run; ++i) {
        const EventRecord& e = events[i];
        const std::array<std::string, 4> texts = TrimmedEventTexts(e);
        const int at = static_cast<int>(i) * 10;
        insert.bind(at + 1, segment).bind(at + 2, seq++).bind(at + 3, Bytes(e));
        insert.bind(at + 4, std::int64_t{e[kCodeByte]});
        insert.bind(at + 5, std::int64_t{e[kArgumentByte]});
        insert.bind(at + 6, EventTimestamp(e));
        insert.bind(at + 7, std::string_view(texts[3])).bind(at + 8, std::string_view(texts[2]));
        insert.bind(at + 9, std::string_view(texts[0]));
        insert.bind(at + 10, std::string_view(texts[1]));
      }
      insert.run();
      events = events.subspan(run);
    }
  }
}

std::int64_t JournalStore::newSegment(std::int64_t device, std::int64_t firstSeq,
                                      std::span<const EventRecord> events) {
  lockRanks();
  StatementLease rank = statement("SELECT coalesce(max(rank), 0) + 1 FROM segments");
  rank.step();
  const std::int64_t nextRank = rank.integer(0);
  rank.reset();
  StatementLease insert = statement(
      "INSERT INTO segments (device_id, rank, first_seq, last_seq, event_count, last_timestamp) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  insert.bind(1, device).bind(2, nextRank).bind(3, firstSeq);
  insert.bind(4, firstSeq + static_cast<std::int64_t>(events.size()) - 1);
  insert.bind(5, static_cast<std::int64_t>(events.size())).bind(6, LastTimestamp(events));
  insert.run();
  const std::int64_t id = lastInsertId();
  insertEvents(id, firstSeq, events);
  return id;
}

void JournalStore::saveSegment(const SegmentRow& row) {
  StatementLease update = statement(
      "UPDATE segments SET rank = ?2, first_seq = ?3, last_seq = ?4, event_count = ?5, "
      "last_timestamp = ?6 WHERE id = ?1");
  update.bind(1, row.id).bind(2, row.rank).bind(3, row.firstSeq).bind(4, row.lastSeq);
  update.bind(5, row.count).bind(6, row.lastTimestamp);
  update.run();
}

void JournalStore::dropSegment(std::int64_t id) {
  statement("DELETE FROM events WHERE segment_id = ?1").bind(1, id).run();
  statement("DELETE FROM segments WHERE id = ?1").bind(1, id).run();
}

void JournalStore::dropSegment(std::int64_t id, const EventPlace& first) {
  if (notes_) {
    statement(
        "UPDATE notes SET segment_id = ?2, seq = seq - (SELECT first_seq FROM segments "
        "WHERE id = ?1) + ?3 WHERE segment_id = ?1")
        .bind(1, id)
        .bind(2, first.segment)
        .bind(3, first.seq)
        .run();
  }
  dropSegment(id);
}

void JournalStore::dropDeviceInto(std::int64_t from, std::int64_t to) {
  statement("UPDATE imports SET device_id = ?2 WHERE device_id = ?1")
      .bind(1, from)
      .bind(2, to)
      .run();
  if (notes_) {
    statement("UPDATE notes SET device_id = ?2 WHERE device_id = ?1")
        .bind(1, from)
        .bind(2, to)
        .run();
  }
  statement("DELETE FROM devices WHERE id = ?1").bind(1, from).run();
}

}  // namespace veks
