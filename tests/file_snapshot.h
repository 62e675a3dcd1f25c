// The bytes and modification time of a file, to prove a run left it alone.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace veks {

struct FileSnapshot {
  explicit FileSnapshot(const std::string& path)
      : modified(std::filesystem::last_write_time(path)) {
    std::ifstream in(path, std::ios::binary);
    bytes.resize(std::filesystem::file_size(path));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
  }
  bool operator==(const FileSnapshot&) const = default;

  std::filesystem::file_time_type modified;
  std::vector<char> bytes;
};

}  // namespace veks
