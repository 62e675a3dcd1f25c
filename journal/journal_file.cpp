#include "journal/journal_file.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "journal/journal_schema.h"

namespace veks {
namespace {

// Big-endian 32-bit field of the database header.
std::int64_t HeaderField(const std::array<unsigned char, 100>& header, std::size_t at) {
  return std::int64_t{header[at]} << 24 | header[at + 1] << 16 | header[at + 2] << 8 |
         header[at + 3];
}

std::string TempName(const std::string& path) {
  std::random_device random;
  return path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(random());
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

JournalFileKind InspectJournalFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return JournalFileKind::kNotJournal;
  std::ifstream file(path, std::ios::binary);
  std::array<unsigned char, 100> header{};
  file.read(reinterpret_cast<char*>(header.data()), header.size());
  if (!file || file.gcount() != static_cast<std::streamsize>(header.size())) {
    return JournalFileKind::kNotJournal;
  }
  static constexpr char kMagic[] = "SQLite format 3";  // with its closing zero: 16 bytes
  if (std::memcmp(header.data(), kMagic, sizeof kMagic) != 0 ||
      HeaderField(header, 68) != kJournalApplicationId) {
    return JournalFileKind::kNotJournal;
  }
  return HeaderField(header, 60) > kJournalSchemaVersion ? JournalFileKind::kNewer
                                                         : JournalFileKind::kJournal;
}

void CreateJournalFile(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  const std::string temp = TempName(path);
  try {
    {
      SqliteDb db(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
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
      throw SqliteError(SQLITE_CANTOPEN, path + ": " + std::strerror(errno));
    }
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    throw;
  }
  std::error_code ignored;
  std::filesystem::remove(temp, ignored);
}

}  // namespace veks
