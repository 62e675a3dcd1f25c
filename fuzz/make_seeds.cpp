// Writes the fuzz target's seed corpus into a folder: archives made by the
// project's own builder, valid, empty, wrapped, short, long and damaged.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/archive_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  namespace fs = std::filesystem;
  using veks::ArchiveBuilder;
  using veks::MakeRecord;
  const fs::path folder = argv[1];
  fs::create_directories(folder);
  auto save = [&](const std::string& name, const ArchiveBuilder& builder, std::size_t length) {
    builder.writeTo(folder / name, length);
  };
  // An archive followed by an operation script (the fuzz target's bytes after 7,940).
  auto saveWithScript = [&](const std::string& name, const ArchiveBuilder& builder,
                            std::vector<std::uint8_t> script) {
    std::vector<std::uint8_t> bytes = builder.bytes(veks::kFileBytes);
    bytes.insert(bytes.end(), script.begin(), script.end());
    veks::WriteBytes(folder / name, bytes);
  };

  ArchiveBuilder numbered;
  numbered.fillNumbered().setWriteOffset(800);
  save("valid.dat", numbered, veks::kFileBytes);
  saveWithScript("valid-whole-report.dat", numbered, {7});
  saveWithScript("valid-steps.dat", numbered, {0, 2, 2, 1, 3, 1, 5, 2, 6 | 8, 4 | 16, 7 | 8, 1});
  saveWithScript("date-of-high-slots.dat", numbered, {6 | 30 << 3, 6 | 31 << 3});
  saveWithScript("long.dat", numbered, std::vector<std::uint8_t>(560, 1));
  save("short-100.dat", numbered, 100);
  save("short-7936.dat", numbered, 7936);
  save("short-7938.dat", numbered, 7938);
  save("empty-file.dat", numbered, 0);
  save("empty-marker.dat", ArchiveBuilder(numbered).setWriteOffset(255), veks::kFileBytes);
  for (const int offset : {-1, 7937, 12, 7944}) {
    save("bad-offset-" + std::to_string(offset) + ".dat",
         ArchiveBuilder(numbered).setWriteOffset(offset), veks::kFileBytes);
  }
  save("wrap-at-0.dat", ArchiveBuilder(numbered).setWriteOffset(0), veks::kFileBytes);
  saveWithScript("wrap-at-end.dat", ArchiveBuilder(numbered).setWriteOffset(7936),
                 {0 | 31 << 3, 1, 2, 7});

  ArchiveBuilder mixed;
  const std::uint8_t codes[] = {0, 1, 2, 3, 4, 6, 7, 8, 23, 24, 25, 30, 31, 50, 51, 52, 255};
  for (int slot = 0; slot < veks::kSlotCount; ++slot) {
    const std::uint8_t code = codes[slot % sizeof codes];
    mixed.setRecord(slot, MakeRecord(code, static_cast<std::uint8_t>(slot % 13), 12, 30,
                                     static_cast<std::uint8_t>(slot % 60), 5, 7, 13));
  }
  mixed.setRecord(10, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  mixed.setRecord(11, {});
  mixed.setRecord(12, MakeRecord(7, 0, 0xFF, 0xFF, 0xFF, 1, 2, 3));
  mixed.setRecord(13, MakeRecord(7, 0, 1, 2, 3, 0xFF, 0xFF, 0xFF));
  mixed.setRecord(14, MakeRecord(7, 0, 1, 2, 3, 105, 7, 0xFF));
  mixed.setWriteOffset(16);
  save("mixed.dat", mixed, veks::kFileBytes);
  saveWithScript("mixed-steps.dat", mixed, {3, 4 | 8, 5, 6 | 3 << 3, 1});
  saveWithScript("mixed-report.dat", mixed, {7});
  return 0;
}
