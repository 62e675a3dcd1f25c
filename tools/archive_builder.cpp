#include "tools/archive_builder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace veks {

EventRecord MakeRecord(std::uint8_t code, std::uint8_t argument, std::uint8_t hours,
                       std::uint8_t minutes, std::uint8_t seconds, std::uint8_t day,
                       std::uint8_t month, std::uint8_t year) {
  return {code, argument, seconds, minutes, hours, day, month, year};
}

ArchiveBuilder& ArchiveBuilder::setRecord(int slot, const EventRecord& record) {
  std::copy(record.begin(), record.end(), bytes_.begin() + slot * kRecordSize);
  return *this;
}

ArchiveBuilder& ArchiveBuilder::setWriteOffset(std::int32_t offset) {
  const auto raw = static_cast<std::uint32_t>(offset);
  for (int i = 0; i < kWriteOffsetBytes; ++i) {
    bytes_[static_cast<std::size_t>(kRingBytes + i)] = static_cast<std::uint8_t>(raw >> (8 * i));
  }
  return *this;
}

EventRecord NumberedRecord(int slot) {
  // Minutes and seconds spell the slot (slot = 60 * minutes + seconds); the
  // date varies with the slot so date searches have something to find.
  return MakeRecord(7, 0, 0, static_cast<std::uint8_t>(slot / 60),
                    static_cast<std::uint8_t>(slot % 60), static_cast<std::uint8_t>(1 + slot % 28),
                    static_cast<std::uint8_t>(1 + slot / 28 % 12), 20);
}

std::string NumberedTimeText(int slot) {
  char text[16];
  const EventRecord r = NumberedRecord(slot);
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", r[kHoursByte], r[kMinutesByte],
                r[kSecondsByte]);
  return text;
}

ArchiveBuilder& ArchiveBuilder::fillNumbered(std::uint8_t code, std::uint8_t argument) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    EventRecord record = NumberedRecord(slot);
    record[kCodeByte] = code;
    record[kArgumentByte] = argument;
    setRecord(slot, record);
  }
  return *this;
}

std::vector<std::uint8_t> ArchiveBuilder::bytes(std::size_t length) const {
  std::vector<std::uint8_t> out(length, 0xEE);
  std::copy_n(bytes_.begin(), std::min(length, bytes_.size()), out.begin());
  return out;
}

void ArchiveBuilder::writeTo(const std::filesystem::path& path, std::size_t length) const {
  WriteBytes(path, bytes(length));
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("veks12-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

}  // namespace veks
