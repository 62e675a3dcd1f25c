// A simulated device that writes a long stream of events into its ring, for
// the journal's tests, benchmarks and demo copies. Every event it writes is
// distinct: its clock moves on at least a second between two events.
#pragma once

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "tools/archive_builder.h"

namespace veks {

class DeviceSimulator {
 public:
  struct Options {
    int maxSecondsBetween = 3600;
    // One slot in this many is left erased or empty (0: never).
    int blankEvery = 40;
    // One event in this many is an invalid record (code 0xFF, no timestamp).
    int invalidEvery = 150;
  };

  explicit DeviceSimulator(std::uint32_t seed) : DeviceSimulator(seed, Options{}) {}
  DeviceSimulator(std::uint32_t seed, Options options);

  // Writes `slots` more slots of the ring.
  void run(int slots);

  // The archive file as the device holds it now.
  [[nodiscard]] const ArchiveBuilder& archive() const { return archive_; }
  // Every event written so far, oldest first; erased and empty slots left out.
  [[nodiscard]] const std::vector<EventRecord>& events() const { return events_; }
  // The events a copy taken now holds: [first, last) of events().
  [[nodiscard]] std::pair<std::size_t, std::size_t> copyWindow() const;

 private:
  void advanceClock(int seconds);
  void write(const EventRecord& record, bool isEvent);

  std::mt19937 random_;
  Options options_;
  ArchiveBuilder archive_;
  std::int64_t slots_ = 0;
  std::vector<EventRecord> events_;
  std::vector<std::int64_t> eventSlots_;  // the slot number each event went to
  int year_ = 13, month_ = 1, day_ = 1, hour_ = 0, minute_ = 0, second_ = 0;
};

}  // namespace veks
