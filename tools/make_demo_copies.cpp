// Writes three copies of one simulated device's archive, taken at moments that
// show what the journal does with them: the second overlaps the first, the
// third comes after a gap of more than a ring.
//
// Usage: make_demo_copies FOLDER   (the output is the same on every run)
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/device_simulator.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo_copies FOLDER\n");
    return 2;
  }
  veks::DeviceSimulator device(20131201u);
  // Slots the device writes before each copy is taken.
  constexpr int kSlotsBefore[] = {1500, 600, 2500};
  try {
    std::filesystem::create_directories(argv[1]);
    for (int i = 0; i < 3; ++i) {
      device.run(kSlotsBefore[i]);
      device.archive().writeTo(std::filesystem::path(argv[1]) /
                               ("boiler-" + std::to_string(i + 1) + ".dat"));
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
