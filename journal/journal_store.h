// The journal's store: one connection to the journal, on either engine (an
// SQLite file, or a schema on a PostgreSQL server), its settings, a cache of
// prepared statements, its transactions and locks, and the rows of devices
// and segments that every part of the journal reads and writes. The rooms
// talk to the journal only through it, and so run unchanged on both engines.
//
// Opening a file checks the application id and the version again (the file's
// header was checked before it was opened) and, for writing, brings an older
// journal up to this version; a server's schema was inspected, made or
// migrated before. Failures throw JournalError, SqliteError or PgError; the
// journal's public face turns them into values (Guarded).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/archive_format.h"
#include "journal/journal_types.h"
#include "journal/pg_connection.h"
#include "journal/sqlite.h"
#include "journal/store_statement.h"

namespace veks {

// A segments row: a run of a device's events numbered first_seq..last_seq.
struct SegmentRow {
  std::int64_t id = 0;
  std::int64_t deviceId = 0;
  std::int64_t rank = 0;  // order of making; a joined segment keeps the earliest
  std::int64_t firstSeq = 0;
  std::int64_t lastSeq = 0;
  std::int64_t count = 0;
  std::optional<std::string> lastTimestamp;
};

struct CachedStatement {
  std::unique_ptr<StoreStatement> statement;
  bool lent = false;
};

// A statement of the store's cache, lent to one user at a time: while it is
// lent, asking for the same SQL prepares another, so a query made while an
// outer one is still stepping never resets the outer one. Giving it back
// resets it, so that no statement keeps the connection on an earlier state.
class StatementLease {
 public:
  explicit StatementLease(CachedStatement& cached) : cached_(&cached) { cached.lent = true; }
  StatementLease(StatementLease&& other) noexcept
      : cached_(std::exchange(other.cached_, nullptr)) {}
  StatementLease& operator=(StatementLease&&) = delete;
  ~StatementLease();

  template <typename... Args>
  StoreStatement& bind(Args&&... args) {
    return cached_->statement->bind(std::forward<Args>(args)...);
  }
  StoreStatement& bindNull(int index) { return cached_->statement->bindNull(index); }
  bool step() { return cached_->statement->step(); }
  void run() { cached_->statement->run(); }
  void reset() { cached_->statement->reset(); }
  [[nodiscard]] std::int64_t integer(int column) const { return statement().integer(column); }
  [[nodiscard]] std::string_view text(int column) const { return statement().text(column); }
  [[nodiscard]] std::span<const std::uint8_t> blob(int column) const {
    return statement().blob(column);
  }
  [[nodiscard]] bool isNull(int column) const { return statement().isNull(column); }
  [[nodiscard]] const StoreRow& statement() const { return *cached_->statement; }
  // A lease given back at the end of its expression cannot be kept by reference.
  operator const StoreRow&() const& { return statement(); }  // NOLINT: reads a row
  operator const StoreRow&() const&& = delete;

 private:
  CachedStatement* cached_;
};

// How many rows a statement gives: on the server, a query of many rows
// (kMany) is read through a cursor in batches, so that memory stays small;
// the rest come whole. The file's statements always step row by row.
enum class Rows { kFew, kMany };

class JournalStore {
 public:
  // A journal file; `flags` as sqlite3_open_v2 takes them.
  JournalStore(const std::string& path, int flags,
               SqliteDb::Access access = SqliteDb::Access::kAsFlagsSay);
  // The journal in `schema` on a server (ours, of this version or an older
  // one read as it is), which the connection already finds unqualified.
  JournalStore(std::unique_ptr<PgConnection> server, std::string schema);
  ~JournalStore();
  JournalStore(const JournalStore&) = delete;
  JournalStore& operator=(const JournalStore&) = delete;

  [[nodiscard]] bool onServer() const { return server_ != nullptr; }
  // The file's connection (a file journal only).
  [[nodiscard]] SqliteDb& db();
  // The server's connection and the journal's schema (a server journal only).
  [[nodiscard]] PgConnection& server();
  [[nodiscard]] const std::string& schema() const { return schema_; }
  // A server journal's own name, made with it: one journal, whatever
  // location names it.
  [[nodiscard]] const std::string& journalId() const { return journalId_; }
  // While another process holds the journal, asks `keepWaiting` every few
  // milliseconds, within the usual wait, whether to go on waiting; false ends
  // the wait and the statement fails as busy. Null: the usual wait. The
  // function must outlive the store or be replaced.
  void setBusyWait(const std::function<bool()>* keepWaiting);
  // A statement for `sql`, reset for new bindings: the cached one, or a new
  // one while the cached ones are lent. `sql` is written for SQLite; the
  // server reads it through PgStatementText.
  [[nodiscard]] StatementLease statement(const std::string& sql, Rows rows = Rows::kFew);
  // A statement of its own, outside the cache, for a reader that keeps it.
  [[nodiscard]] std::unique_ptr<StoreStatement> prepare(std::string_view sql,
                                                        Rows rows = Rows::kFew);
  // Whether a transaction is open on the connection.
  [[nodiscard]] bool inTransaction() const;
  // The id the last INSERT of this connection gave its row.
  [[nodiscard]] std::int64_t lastInsertId();
  // A mark that changes whenever a write transaction commits.
  [[nodiscard]] std::pair<std::int64_t, std::int64_t> changeMark();
  // Makes the statement running on another thread fail soon; safe from any
  // thread while the store lives.
  void interrupt();

  // The locks a write transaction takes before it reads, held until it ends.
  // A file has one writer at a time and needs none of them; on a server,
  // writers of different devices go on side by side:
  //   lockDevices: writes of these devices (in byte order, so that two
  //     writers never wait for each other crosswise), beside writers of others;
  //   lockJournal: writes that may touch any device (an import that chooses
  //     its device by content, a rename), alone;
  //   lockNote: a new version of one note, beside writers of anything else;
  //   lockRanks: the making of a segment, whose rank follows every other's.
  void lockDevices(std::vector<std::string> names);
  void lockNote(std::int64_t number);
  void lockJournal();
  void lockRanks();
  // Resets every statement not lent, so that none keeps an earlier snapshot.
  void resetStatements();
  [[nodiscard]] bool hasIndex(std::string_view name) const { return indexes_.contains(name); }
  // Whether the journal keeps notes (a journal of an older version read as
  // it is does not).
  [[nodiscard]] bool hasNotes() const { return notes_; }
  // Whether the journal keeps what undoing a device's last import needs.
  [[nodiscard]] bool hasUndo() const { return undo_; }

  [[nodiscard]] std::optional<std::int64_t> deviceId(const std::string& name);
  [[nodiscard]] std::string deviceName(std::int64_t id);
  // `base`, or the first of "base 2", "base 3", ... that names no device.
  [[nodiscard]] std::string freeDeviceName(const std::string& base);
  // Every device, by name (byte order).
  [[nodiscard]] std::vector<std::pair<std::int64_t, std::string>> devicesByName();

  [[nodiscard]] std::optional<SegmentRow> segment(std::int64_t id);
  // A device's segments in the history's order: by the timestamp of their
  // last stamped event, those without one last, ties by rank.
  [[nodiscard]] std::vector<SegmentRow> orderedSegments(std::int64_t deviceId);

  // A segment of its own for `events`, numbered from firstSeq, ranked after
  // every other segment; returns its id.
  std::int64_t newSegment(std::int64_t deviceId, std::int64_t firstSeq,
                          std::span<const EventRecord> events);
  void insertEvents(std::int64_t segment, std::int64_t firstSeq,
                    std::span<const EventRecord> events);
  void saveSegment(const SegmentRow& row);
  // Drops the segment and its events. It fails, writing nothing, when one of
  // its events carries a note: such a segment is dropped only as the same
  // events standing elsewhere (below).
  void dropSegment(std::int64_t id);
  // Drops the segment whose events are the same events as those that stand
  // from `first` on (the segment's first event is the one at `first`, and so
  // on in order): the notes of its events go to those events first.
  void dropSegment(std::int64_t id, const EventPlace& first);
  // Gives device `from`'s imports and notes to `to` and removes `from`, whose
  // segments must have gone to `to` before.
  void dropDeviceInto(std::int64_t from, std::int64_t to);

 private:
  std::unique_ptr<SqliteDb> db_;
  std::unique_ptr<PgConnection> server_;
  PGcancel* cancel_ = nullptr;  // the server's, made once: cancelling may come from any thread
  std::string schema_;
  std::string journalId_;
  std::map<std::string, std::vector<std::unique_ptr<CachedStatement>>, std::less<>> statements_;
  std::set<std::string, std::less<>> indexes_;
  bool notes_ = false;
  bool undo_ = false;
};

// Holds one read transaction on the store's connection: every read made
// while it lives sees the journal as one committed state, whatever other
// processes commit meanwhile. Within a transaction already begun (an import's,
// or an outer snapshot's) it reads that transaction's state and ends nothing.
// On a server the transaction is REPEATABLE READ, READ ONLY.
class ReadSnapshot {
 public:
  explicit ReadSnapshot(JournalStore& store);
  ~ReadSnapshot();
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;

 private:
  JournalStore* store_ = nullptr;  // set when this snapshot began the transaction
  std::optional<PgTransaction> server_;
};

// One write transaction, rolled back at destruction unless committed. On a
// file, BEGIN IMMEDIATE: the one writer of the file, waiting out the others
// for the busy timeout. On a server, READ COMMITTED: the writer takes its
// locks (JournalStore::lockDevices, ...) before it reads, and each statement
// after them sees what the locks' previous holders committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(JournalStore& store);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  void commit();

 private:
  JournalStore& store_;
  std::optional<SqliteTransaction> file_;
  std::optional<PgTransaction> server_;
};

// Makes the journal's file whole: opens it for a moment so that closing
// folds the -wal into the file and removes the -wal and -shm, as SQLite does
// when the last connection to a journal closes and that connection may
// write. Another connection still open keeps them as they are, and so does a
// file that is no journal of this version or that this process cannot
// write. The file is never made and never brought up to this version; the
// folding copies pages and changes nothing that is read from them.
void FoldJournalWal(const std::string& path) noexcept;

// A segments row read from the columns id, device_id, rank, first_seq,
// last_seq, event_count, last_timestamp.
[[nodiscard]] SegmentRow ReadSegmentRow(const StoreRow& row);

[[nodiscard]] inline std::span<const std::uint8_t> Bytes(const EventRecord& e) {
  return {e.data(), e.size()};
}
// The record of a stored blob (a shorter one padded with zeros).
[[nodiscard]] EventRecord RecordOf(std::span<const std::uint8_t> blob);

// The timestamp of the newest event that has one.
[[nodiscard]] std::optional<std::string> LastTimestamp(std::span<const EventRecord> events);

// Runs `work`, turning what it throws into a JournalError value: no exception
// leaves the journal.
template <typename Work>
auto Guarded(Work&& work) -> JournalResult<decltype(work())> {
  try {
    return work();
  } catch (const JournalError& error) {
    return error;
  } catch (const PgError& error) {
    // A write the server refuses for want of rights, or in a read-only
    // session or on a standby, is the journal's read-only refusal.
    if (error.sqlstate() == "42501" || error.sqlstate() == "25006") {
      return JournalError{JournalError::Kind::kReadOnly,
                          std::string(kMsgJournalReadOnly) + ": " + error.what()};
    }
    return JournalError{JournalError::Kind::kStorage,
                        std::string("Ошибка журнала: ") + error.what()};
  } catch (const std::exception& error) {
    return JournalError{JournalError::Kind::kStorage,
                        std::string("Ошибка журнала: ") + error.what()};
  }
}

}  // namespace veks
