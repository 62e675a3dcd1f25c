// Builds archive files byte by byte, for the tests, the fuzz seeds and the
// demo archive. Nothing here reads a file made elsewhere.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_format.h"

namespace veks {

// A record from its fields in reading order (time hh:mm:ss, date dd.mm.yy).
[[nodiscard]] EventRecord MakeRecord(std::uint8_t code, std::uint8_t argument, std::uint8_t hours,
                                     std::uint8_t minutes, std::uint8_t seconds, std::uint8_t day,
                                     std::uint8_t month, std::uint8_t year);

class ArchiveBuilder {
 public:
  // Starts as a ring of empty slots with WriteOffset 0.
  ArchiveBuilder& setRecord(int slot, const EventRecord& record);
  ArchiveBuilder& setWriteOffset(std::int32_t offset);
  // Fills every slot with a record that names its slot: code 7 (power on) with
  // argument 0 unless others are given, time 00:mm:ss and date dd.mm.yy
  // derived from the slot number, so a test can tell from a decoded row which
  // slot it came from (see NumberedTimeText).
  ArchiveBuilder& fillNumbered(std::uint8_t code = 7, std::uint8_t argument = 0);

  [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  // The file bytes cut or extended (with 0xEE) to `length`.
  [[nodiscard]] std::vector<std::uint8_t> bytes(std::size_t length) const;
  void writeTo(const std::filesystem::path& path, std::size_t length = kFileBytes) const;

 private:
  std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>(kFileBytes, 0);
};

// The record fillNumbered() writes into `slot`, and the time text it decodes to.
[[nodiscard]] EventRecord NumberedRecord(int slot);
[[nodiscard]] std::string NumberedTimeText(int slot);

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace veks
