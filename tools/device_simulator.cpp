#include "tools/device_simulator.h"

#include <algorithm>

namespace veks {
namespace {

int DaysIn(int month, int year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && year % 4 == 0 ? 29 : kDays[month - 1];
}

}  // namespace

DeviceSimulator::DeviceSimulator(std::uint32_t seed, Options options)
    : random_(seed), options_(options) {}

void DeviceSimulator::advanceClock(int seconds) {
  second_ += seconds;
  minute_ += second_ / 60;
  second_ %= 60;
  hour_ += minute_ / 60;
  minute_ %= 60;
  day_ += hour_ / 24;
  hour_ %= 24;
  while (day_ > DaysIn(month_, year_)) {
    day_ -= DaysIn(month_, year_);
    if (++month_ > 12) {
      month_ = 1;
      ++year_;
    }
  }
}

void DeviceSimulator::write(const EventRecord& record, bool isEvent) {
  archive_.setRecord(static_cast<int>(slots_ % kSlotCount), record);
  if (isEvent) {
    events_.push_back(record);
    eventSlots_.push_back(slots_);
  }
  ++slots_;
  archive_.setWriteOffset(static_cast<std::int32_t>(slots_ % kSlotCount) * kRecordSize);
}

void DeviceSimulator::run(int slots) {
  // mt19937's sequence is fixed by the standard; the modulo keeps the output
  // independent of the library's distributions.
  const auto pick = [&](int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); };
  for (int i = 0; i < slots; ++i) {
    advanceClock(1 + pick(options_.maxSecondsBetween));
    const auto at = [&](int code, int argument) {
      return MakeRecord(static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(argument),
                        static_cast<std::uint8_t>(hour_), static_cast<std::uint8_t>(minute_),
                        static_cast<std::uint8_t>(second_), static_cast<std::uint8_t>(day_),
                        static_cast<std::uint8_t>(month_), static_cast<std::uint8_t>(year_));
    };
    if (options_.blankEvery > 0 && pick(options_.blankEvery) == 0) {
      write(pick(2) == 0 ? EventRecord{}
                         : EventRecord{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
            false);
      continue;
    }
    if (options_.invalidEvery > 0 && pick(options_.invalidEvery) == 0) {
      write(at(0xFF, 0), true);
      continue;
    }
    const int kind = pick(100);
    if (kind < 60) {
      write(at(pick(4), 1 + pick(24)), true);  // a valve input of МУК 1 to 4
    } else if (kind < 72) {
      write(at(50 + pick(2), 1 + pick(4)), true);  // a relay
    } else if (kind < 82) {
      write(at(52, pick(9)), true);  // a button
    } else if (kind < 90) {
      write(at(8 + pick(16), 0), true);  // a module fails
    } else {
      static constexpr int kOther[] = {6, 7, 24, 25, 30, 31};
      write(at(kOther[pick(6)], 0), true);
    }
  }
}

std::pair<std::size_t, std::size_t> DeviceSimulator::copyWindow() const {
  const std::int64_t oldestSlot = std::max<std::int64_t>(0, slots_ - kSlotCount);
  const auto first = std::lower_bound(eventSlots_.begin(), eventSlots_.end(), oldestSlot);
  return {static_cast<std::size_t>(first - eventSlots_.begin()), events_.size()};
}

}  // namespace veks
