#include "journal/journal_backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "journal/journal_file.h"

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

// Ends the read transaction it began, whatever happens.
class ReadTransaction {
 public:
  explicit ReadTransaction(SqliteDb& db) : db_(db) { db_.exec("BEGIN"); }
  ~ReadTransaction() { sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr); }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  SqliteDb& db_;
};

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
      ReadTransaction snapshot(store.db());
      SqliteStatement count = store.db().prepare("SELECT count(*) FROM events");
      count.step();
      events = count.integer(0);
      count.reset();
      // The pages are written straight into the copy's file in rollback
      // mode; it keeps the journal's WAL mark for those who open it later,
      // and closing leaves no -wal beside it.
      SqliteDb copy(temp, SQLITE_OPEN_READWRITE);
      CopyPages(store.db(), copy);
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
