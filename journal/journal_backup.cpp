#include "journal/journal_backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "journal/journal_file.h"
#include "journal/journal_schema.h"

namespace veks {
namespace {

[[noreturn]] void Refuse(const std::string& reason) {
  throw JournalError{JournalError::Kind::kBackupTarget, "Копия не записана: " + reason};
}

bool IsTheJournal(const std::string& journal, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::equivalent(journal, target, ec)) return true;
  const fs::path file = fs::weakly_canonical(target, ec);
  if (ec) return false;
  const std::string base = fs::weakly_canonical(journal, ec).string();
  if (ec) return false;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    if (file == fs::path(base + suffix)) return true;
  }
  return false;
}

// Copies every page of `source`, as its open read transaction sees it.
void CopyPages(SqliteDb& source, SqliteDb& copy) {
  sqlite3_backup* backup = sqlite3_backup_init(copy.handle(), "main", source.handle(), "main");
  if (backup == nullptr)
    throw SqliteError(sqlite3_errcode(copy.handle()), sqlite3_errmsg(copy.handle()));
  const int stepped = sqlite3_backup_step(backup, -1);
  const int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE) throw SqliteError(stepped, sqlite3_errstr(stepped));
  if (finished != SQLITE_OK) throw SqliteError(finished, sqlite3_errmsg(copy.handle()));
}

// A table a server journal's copy takes row by row, with its columns' kinds:
// 'i' an integer, 't' a text, 'b' bytes; any of them may be null.
struct CopiedTable {
  const char* name;
  const char* columns;
  const char* kinds;
  bool notes;  // a table of notes (journal version 4 on)
  bool undo;   // a table of the undo of an import (version 5 on)
};

// In an order that refers only to rows copied before.
constexpr CopiedTable kCopiedTables[] = {
    {"devices", "id, name", "it", false, false},
    {"segments", "id, device_id, rank, first_seq, last_seq, event_count, last_timestamp", "iiiiiit",
     false, false},
    {"events", "segment_id, seq, raw, code, argument, timestamp, date, time, event, input",
     "iibiittttt", false, false},
    {"imports", "id, device_id, archive, imported_at, copy_events, new_events", "iittii", false,
     false},
    {"imports", "id, undone_at", "it", false, true},
    {"notes", "number, uuid, device_id, segment_id, seq, raw, at", "itiiibt", true, false},
    {"note_versions", "note, version, kind, text, author, written, deleted", "iitttti", true,
     false},
    {"import_undo",
     "import_id, device_id, segment_id, first_seq, last_seq, prior_rank, prior_first_seq, "
     "prior_last_seq, prior_last_timestamp",
     "iiiiiiiit", false, true},
    {"import_undo_parts", "import_id, at_seq, rank, first_seq, event_count, last_timestamp",
     "iiiiit", false, true},
};

// Writes the journal `store` holds on a server, as its open read transaction
// sees it, into `copy`, an empty file, as a journal file of this version.
void CopyRows(JournalStore& store, SqliteDb& copy) {
  copy.exec("BEGIN");
  copy.exec("PRAGMA application_id = " + std::to_string(kJournalApplicationId));
  copy.exec("PRAGMA user_version = 0");
  copy.exec("COMMIT");
  MigrateJournal(copy);
  copy.exec("BEGIN");
  for (const CopiedTable& table : kCopiedTables) {
    if ((table.notes && !store.hasNotes()) || (table.undo && !store.hasUndo())) continue;
    const std::string kinds = table.kinds;
    const std::string name = table.name;
    std::string sql;
    if (name == "imports" && table.undo) {
      // The mark of an undone import came with version 5.
      sql = "UPDATE imports SET undone_at = ?2 WHERE id = ?1";
    } else {
      sql = "INSERT INTO " + name + " (" + table.columns + ") VALUES (";
      for (std::size_t c = 0; c < kinds.size(); ++c)
        sql += (c ? ", ?" : "?") + std::to_string(c + 1);
      sql += ")";
    }
    SqliteStatement insert = copy.prepare(sql);
    StatementLease rows = store.statement(
        std::string("SELECT ") + table.columns + " FROM " + table.name, Rows::kMany);
    while (rows.step()) {
      for (std::size_t c = 0; c < kinds.size(); ++c) {
        const int column = static_cast<int>(c);
        const int index = column + 1;
        if (rows.isNull(column)) {
          insert.bindNull(index);
        } else if (kinds[c] == 'b') {
          insert.bind(index, rows.blob(column));
        } else if (kinds[c] == 't') {
          insert.bind(index, rows.text(column));
        } else {
          insert.bind(index, rows.integer(column));
        }
      }
      insert.run();
    }
  }
  copy.exec("COMMIT");
  copy.exec("PRAGMA journal_mode = WAL");
}

// The link to a new name reaches the disk with the folder.
void SyncFolder(const std::string& file) {
  const std::filesystem::path parent = std::filesystem::path(file).parent_path();
  const int fd = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::int64_t BackupJournal(JournalStore& store, const std::string& journal,
                           const std::string& target) {
  if (IsTheJournal(journal, target)) Refuse("это файл самого журнала");
  RemoveStaleTemporaries(target);
  const std::string temp = TemporaryNameBeside(target);
  // Made here rather than by SQLite, so that a refusal tells the system's reason.
  if (const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644); fd < 0) {
    Refuse(std::strerror(errno));
  } else {
    ::close(fd);
  }
  const auto removeTemp = [&] {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
  };
  try {
    std::int64_t events = 0;
    {
      const ReadSnapshot snapshot(store);
      StatementLease count = store.statement("SELECT count(*) FROM events");
      count.step();
      events = count.integer(0);
      count.reset();
      SqliteDb copy(temp, SQLITE_OPEN_READWRITE);
      if (store.onServer()) {
        // A server's journal becomes a journal file of this version, row by
        // row; closing leaves no -wal beside it.
        CopyRows(store, copy);
      } else {
        // The pages are written straight into the copy's file in rollback
        // mode; it keeps the journal's WAL mark for those who open it later,
        // and closing leaves no -wal beside it.
        CopyPages(store.db(), copy);
      }
    }
    if (std::filesystem::exists(temp + "-wal")) Refuse("копия не отделилась от своего -wal");
    if (::link(temp.c_str(), target.c_str()) != 0) {
      Refuse(errno == EEXIST ? std::string("файл уже существует") : std::strerror(errno));
    }
    removeTemp();
    SyncFolder(target);
    return events;
  } catch (...) {
    removeTemp();
    throw;
  }
}

}  // namespace veks
