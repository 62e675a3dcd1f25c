// What a journal must hold after importing copies of a simulated device: the
// stream's events that the copies cover, one segment per run of copies that
// overlap one another, oldest first.
#pragma once

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "tools/archive_builder.h"
#include "tools/device_simulator.h"

namespace veks {

// A small copy: five events, an erased slot among them, the last without a
// timestamp (code 0xFF), written at `path`.
inline void WriteSmallArchive(const std::string& path) {
  ArchiveBuilder()
      .setRecord(0, MakeRecord(7, 0, 8, 0, 0, 28, 11, 13))
      .setRecord(1, MakeRecord(1, 7, 8, 30, 0, 28, 11, 13))
      .setRecord(2, MakeRecord(50, 3, 9, 0, 5, 29, 11, 13))
      .setRecord(3, EventRecord{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
      .setRecord(4, MakeRecord(0, 7, 10, 0, 0, 29, 11, 13))
      .setRecord(5, MakeRecord(0xFF, 9, 1, 2, 3, 4, 5, 6))
      .setWriteOffset(48)
      .writeTo(path);
}

// Event n of a device that writes one event a second from 01.01.13
// 00:00:00 (months of 28 days): every event distinct and stamped.
inline EventRecord SecondEvent(std::int64_t n) {
  constexpr std::int64_t kDay = 86400, kMonth = 28 * kDay;
  return MakeRecord(7, 0, static_cast<std::uint8_t>(n / 3600 % 24),
                    static_cast<std::uint8_t>(n / 60 % 60), static_cast<std::uint8_t>(n % 60),
                    static_cast<std::uint8_t>(1 + n / kDay % 28),
                    static_cast<std::uint8_t>(1 + n / kMonth % 12),
                    static_cast<std::uint8_t>(13 + n / (12 * kMonth)));
}

// Events [first, last) of that device, oldest first.
inline std::vector<EventRecord> SecondEvents(std::int64_t first, std::int64_t last) {
  std::vector<EventRecord> events;
  for (std::int64_t n = first; n < last; ++n) events.push_back(SecondEvent(n));
  return events;
}

// An archive whose ring holds `events` (fewer than a ring's worth), oldest first.
inline ArchiveBuilder ArchiveOf(const std::vector<EventRecord>& events) {
  ArchiveBuilder archive;
  for (std::size_t i = 0; i < events.size(); ++i) archive.setRecord(static_cast<int>(i), events[i]);
  archive.setWriteOffset(static_cast<std::int32_t>(events.size()) * kRecordSize);
  return archive;
}

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
