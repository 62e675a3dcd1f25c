#include "journal/journal_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>

#include "journal/journal_schema.h"

namespace veks {
namespace {

// Big-endian 32-bit field of the database header.
std::int64_t HeaderField(const std::array<unsigned char, 100>& header, std::size_t at) {
  return std::int64_t{header[at]} << 24 | header[at + 1] << 16 | header[at + 2] << 8 |
         header[at + 3];
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

// Reads up to `size` bytes; -1 with errno set when the system fails.
ssize_t ReadFully(int fd, unsigned char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

// The process id of a temporary name's tail "PID-RANDOM" followed by one of
// SQLite's suffixes, or nothing when the tail is not of that form.
std::optional<pid_t> TemporaryPid(std::string_view tail) {
  for (const std::string_view suffix : {"-journal", "-wal", "-shm"}) {
    if (tail.ends_with(suffix)) {
      tail.remove_suffix(suffix.size());
      break;
    }
  }
  const auto dash = tail.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash + 1 == tail.size()) return std::nullopt;
  const auto digits = [](std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!digits(tail.substr(0, dash)) || !digits(tail.substr(dash + 1))) return std::nullopt;
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(tail.data(), tail.data() + dash, pid);
  if (error != std::errc() || pid <= 0) return std::nullopt;
  return pid;
}

}  // namespace

std::optional<std::string> DefaultJournalPath(const char* xdgDataHome, const char* home) {
  const auto absolute = [](const char* dir) { return dir != nullptr && dir[0] == '/'; };
  std::filesystem::path base;
  if (absolute(xdgDataHome)) {
    base = xdgDataHome;
  } else if (absolute(home)) {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    return std::nullopt;
  }
  return (base / "veks12" / "journal.sqlite").string();
}

JournalFileState InspectJournalFile(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    if (errno == ENOENT) return {JournalFileKind::kMissing};
    return {JournalFileKind::kUnavailable, errno};
  }
  // A directory, a device, a dangling link: no journal.
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return {JournalFileKind::kNotJournal};
  }
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return {JournalFileKind::kUnavailable, errno};
  std::array<unsigned char, 100> header{};
  const ssize_t got = ReadFully(file.get(), header.data(), header.size());
  if (got < 0) return {JournalFileKind::kUnavailable, errno};
  if (got != static_cast<ssize_t>(header.size())) return {JournalFileKind::kNotJournal};
  static constexpr char kMagic[] = "SQLite format 3";  // with its closing zero: 16 bytes
  if (std::memcmp(header.data(), kMagic, sizeof kMagic) != 0 ||
      HeaderField(header, 68) != kJournalApplicationId) {
    return {JournalFileKind::kNotJournal};
  }
  return {HeaderField(header, 60) > kJournalSchemaVersion ? JournalFileKind::kNewer
                                                          : JournalFileKind::kJournal};
}

JournalError JournalUnavailable(int systemError) {
  return {JournalError::Kind::kUnavailable,
          std::string(kMsgJournalUnavailable) + ": " + std::strerror(systemError)};
}

std::optional<std::string> JournalReadOnlyReason(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  const std::string folder = parent.empty() ? std::string(".") : parent.string();
  for (const auto& [name, what] : {std::pair<const std::string&, const char*>{folder, "папку"},
                                   std::pair<const std::string&, const char*>{path, "файл"}}) {
    if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) == 0) continue;
    if (errno == EROFS) return "файловая система доступна только для чтения";
    if (errno == EACCES || errno == EPERM) {
      return std::string("нет права на запись в ") + what + " журнала";
    }
  }
  return std::nullopt;
}

std::string TemporaryNameBeside(const std::string& path) {
  std::random_device random;
  return path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(random());
}

void RemoveStaleTemporaries(const std::string& path) {
  const std::filesystem::path journal(path);
  const std::filesystem::path folder =
      journal.has_parent_path() ? journal.parent_path() : std::filesystem::path(".");
  const std::string prefix = journal.filename().string() + ".new-";
  const auto oldest = std::chrono::system_clock::now() - std::chrono::minutes(1);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix)) continue;
    const auto pid = TemporaryPid(std::string_view(name).substr(prefix.size()));
    if (!pid || ::kill(*pid, 0) == 0 || errno != ESRCH) continue;
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    if (std::chrono::system_clock::from_time_t(status.st_mtime) >= oldest) continue;
    ::unlink(entry.path().c_str());
  }
}

void CreateJournalFile(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (std::error_code ec;
      !parent.empty() && !std::filesystem::create_directories(parent, ec) && ec) {
    throw JournalUnavailable(ec.value());
  }
  const std::string temp = TemporaryNameBeside(path);
  // Made here rather than by SQLite, so that a refusal tells the system's reason.
  if (const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644); fd < 0) {
    throw JournalUnavailable(errno);
  } else {
    ::close(fd);
  }
  const auto removeTemp = [&] {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
  };
  try {
    {
      SqliteDb db(temp, SQLITE_OPEN_READWRITE);
      // The header fields are written in rollback mode, so they are in the
      // main file before it gets its name; WAL is switched on after.
      db.exec("BEGIN");
      db.exec("PRAGMA application_id = " + std::to_string(kJournalApplicationId));
      db.exec("PRAGMA user_version = 0");
      db.exec("COMMIT");
      MigrateJournal(db);
      db.exec("PRAGMA journal_mode = WAL");
    }
    if (::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
      throw JournalUnavailable(errno);
    }
  } catch (const SqliteError& error) {
    removeTemp();
    if (error.systemError() != 0) throw JournalUnavailable(error.systemError());
    throw;
  } catch (...) {
    removeTemp();
    throw;
  }
  removeTemp();
}

}  // namespace veks
