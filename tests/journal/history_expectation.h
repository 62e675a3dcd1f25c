// What a journal must hold after importing copies of a simulated device: the
// stream's events that the copies cover, one segment per run of copies that
// overlap one another, oldest first.
#pragma once

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "tools/device_simulator.h"

namespace veks {

struct CopyWindow {
  std::size_t first = 0;
  std::size_t last = 0;  // one past the newest event
};

// Copies taken from one device at random moments, some more than a ring apart.
struct SimulatedCopies {
  SimulatedCopies(std::uint32_t seed, int count, int maxSlotsBetween,
                  DeviceSimulator::Options options = {})
      : device(seed, options), random(seed) {
    for (int i = 0; i < count; ++i) {
      device.run(1 + static_cast<int>(random() % static_cast<unsigned>(maxSlotsBetween)));
      const auto [first, last] = device.copyWindow();
      windows.push_back({first, last});
      archives.push_back(device.archive());
    }
  }
  [[nodiscard]] std::vector<EventRecord> events(std::size_t copy) const {
    const auto& all = device.events();
    return {all.begin() + static_cast<std::ptrdiff_t>(windows[copy].first),
            all.begin() + static_cast<std::ptrdiff_t>(windows[copy].last)};
  }
  // An import order: every copy once, some twice, shuffled.
  [[nodiscard]] std::vector<std::size_t> importOrder() {
    std::vector<std::size_t> order(windows.size());
    std::iota(order.begin(), order.end(), 0);
    for (std::size_t i = 0; i < windows.size(); i += 3) order.push_back(random() % windows.size());
    std::shuffle(order.begin(), order.end(), random);
    return order;
  }
  // The segments the copies make: overlapping windows joined, oldest first.
  [[nodiscard]] std::vector<std::vector<EventRecord>> expectedSegments() const {
    std::vector<CopyWindow> sorted;
    for (const CopyWindow& w : windows) {
      if (w.first < w.last) sorted.push_back(w);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<CopyWindow> merged;
    for (const CopyWindow& w : sorted) {
      if (!merged.empty() && w.first < merged.back().last) {
        merged.back().last = std::max(merged.back().last, w.last);
      } else {
        merged.push_back(w);
      }
    }
    std::vector<std::vector<EventRecord>> segments;
    for (const CopyWindow& w : merged) {
      segments.emplace_back(device.events().begin() + static_cast<std::ptrdiff_t>(w.first),
                            device.events().begin() + static_cast<std::ptrdiff_t>(w.last));
    }
    return segments;
  }

  DeviceSimulator device;
  std::mt19937 random;
  std::vector<CopyWindow> windows;
  std::vector<ArchiveBuilder> archives;
};

}  // namespace veks
