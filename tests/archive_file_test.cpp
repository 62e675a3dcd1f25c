#include "archive/archive_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "archive/block_loader.h"
#include "tests/file_snapshot.h"
#include "tools/archive_builder.h"

namespace veks {
namespace {

namespace fs = std::filesystem;

struct OffsetCase {
  std::int32_t writeOffset;
  int newestOffset;
};

class ValidWriteOffsetTest : public testing::TestWithParam<OffsetCase> {};

TEST_P(ValidWriteOffsetTest, NewestRecordIsTheSlotBeforeIt) {
  const auto bytes = ArchiveBuilder().setWriteOffset(GetParam().writeOffset).bytes();
  const LoadResult result = ParseArchive(bytes.data(), bytes.size());
  ASSERT_TRUE(std::holds_alternative<ArchiveImage>(result));
  EXPECT_EQ(std::get<ArchiveImage>(result).NewestOffset, GetParam().newestOffset);
}

INSTANTIATE_TEST_SUITE_P(Offsets, ValidWriteOffsetTest,
                         testing::Values(OffsetCase{0, 7928}, OffsetCase{8, 0},
                                         OffsetCase{800, 792}, OffsetCase{7928, 7920},
                                         OffsetCase{7936, 7928}));

class BadWriteOffsetTest : public testing::TestWithParam<std::int32_t> {};

TEST_P(BadWriteOffsetTest, IsReportedAsDamage) {
  const auto bytes = ArchiveBuilder().fillNumbered().setWriteOffset(GetParam()).bytes();
  const LoadResult result = ParseArchive(bytes.data(), bytes.size());
  ASSERT_TRUE(std::holds_alternative<LoadError>(result));
  EXPECT_EQ(std::get<LoadError>(result).kind, LoadFailure::kBadWriteOffset);
  EXPECT_EQ(std::get<LoadError>(result).message, "Архив поврежден: неверный указатель записи");
}

// FF FF FF FF is -1, not the empty marker.
INSTANTIATE_TEST_SUITE_P(Offsets, BadWriteOffsetTest,
                         testing::Values(1, 4, 7, 254, 260, 7930, 7937, 7944, 8000, -1, -8, -7928,
                                         INT32_MIN, INT32_MAX));

TEST(ParseArchiveTest, EmptyMarkerWinsOverRecords) {
  const auto bytes = ArchiveBuilder().fillNumbered().setWriteOffset(255).bytes();
  const LoadResult result = ParseArchive(bytes.data(), bytes.size());
  ASSERT_TRUE(std::holds_alternative<LoadError>(result));
  EXPECT_EQ(std::get<LoadError>(result).kind, LoadFailure::kEmpty);
  EXPECT_EQ(std::get<LoadError>(result).message, "архив пуст");
}

TEST(ParseArchiveTest, WriteOffsetIsLittleEndian) {
  auto bytes = ArchiveBuilder().bytes();
  bytes[7936] = 0x20;  // 0x0320 = 800
  bytes[7937] = 0x03;
  const LoadResult result = ParseArchive(bytes.data(), bytes.size());
  ASSERT_TRUE(std::holds_alternative<ArchiveImage>(result));
  EXPECT_EQ(std::get<ArchiveImage>(result).WriteOffset, 800);
}

struct SizeCase {
  std::size_t size;
  std::int32_t writeOffset;  // what the load must see
};

class FileSizeTest : public testing::TestWithParam<SizeCase> {};

// A short file is padded with zeros, ring and WriteOffset alike; extra bytes
// after the WriteOffset are never read.
TEST_P(FileSizeTest, LoadsWithMissingBytesAsZero) {
  TempDir dir;
  const std::string path = dir.file("a.dat");
  ArchiveBuilder().fillNumbered().setWriteOffset(16).writeTo(path, GetParam().size);
  const LoadResult result = LoadArchive(path);
  ASSERT_TRUE(std::holds_alternative<ArchiveImage>(result));
  const ArchiveImage& image = std::get<ArchiveImage>(result);
  EXPECT_EQ(image.WriteOffset, GetParam().writeOffset);
  const std::size_t supplied = std::min<std::size_t>(GetParam().size, kRingBytes);
  const std::vector<std::uint8_t> written = ArchiveBuilder().fillNumbered().bytes();
  for (std::size_t i = 0; i < kRingBytes; ++i) {
    const std::uint8_t expected = i < supplied ? written[i] : 0;
    if (image.ring[i] != expected) FAIL() << "ring byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileSizeTest,
                         testing::Values(SizeCase{0, 0}, SizeCase{100, 0}, SizeCase{7936, 0},
                                         SizeCase{7938, 16}, SizeCase{7940, 16},
                                         SizeCase{8500, 16}));

TEST(LoadArchiveTest, FailsToOpenWhatIsNotARegularFile) {
  TempDir dir;
  const std::string fifo = dir.file("pipe.dat");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path :
       {dir.file("missing.dat"), dir.path().string(), fifo, std::string()}) {
    const LoadResult result = LoadArchive(path);
    ASSERT_TRUE(std::holds_alternative<LoadError>(result)) << path;
    EXPECT_EQ(std::get<LoadError>(result).kind, LoadFailure::kCannotOpen) << path;
    EXPECT_EQ(std::get<LoadError>(result).message, "Архив не удается открыть") << path;
  }
  EXPECT_FALSE(fs::exists(dir.file("missing.dat")));
}

TEST(LoadArchiveTest, ReadOnlyFileLoadsAndStaysUntouched) {
  TempDir dir;
  const std::string path = dir.file("ro.dat");
  ArchiveBuilder().fillNumbered().setWriteOffset(800).writeTo(path);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
  const FileSnapshot before(path);
  EXPECT_TRUE(std::holds_alternative<ArchiveImage>(LoadArchive(path)));
  EXPECT_EQ(FileSnapshot(path), before);
}

// Root reads any file, so as root the load runs in a child process that has
// become the unprivileged user "nobody" (65534) first.
TEST(LoadArchiveTest, UnreadableFileFailsToOpen) {
  TempDir dir;
  const std::string path = dir.file("secret.dat");
  ArchiveBuilder().fillNumbered().writeTo(path);
  fs::permissions(path, fs::perms::none);
  fs::permissions(dir.path(), fs::perms::others_exec, fs::perm_options::add);
  auto cannotOpen = [&] {
    const LoadResult result = LoadArchive(path);
    return std::holds_alternative<LoadError>(result) &&
           std::get<LoadError>(result).message == "Архив не удается открыть";
  };
  if (geteuid() != 0) {
    EXPECT_TRUE(cannotOpen());
    return;
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    _exit(cannotOpen() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: it loaded; 3: could not drop privileges";
}

// A read error after a successful open (here EIO) is a failure to open too.
TEST(LoadArchiveTest, ReadErrorFailsToOpen) {
  const LoadResult result = LoadArchive("/proc/self/mem");
  ASSERT_TRUE(std::holds_alternative<LoadError>(result));
  EXPECT_EQ(std::get<LoadError>(result).kind, LoadFailure::kCannotOpen);
}

}  // namespace
}  // namespace veks
