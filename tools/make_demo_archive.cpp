// Writes the demo archive: a device that has run long enough for its ring to
// wrap, with power cycles, restarts, module failures, valve inputs of four МУК
// changing state, relays, buttons, and a few erased and empty slots.
//
// Usage: make_demo_archive OUTPUT.dat   (the output is the same on every run)
#include <cstdio>
#include <random>

#include "tools/archive_builder.h"

namespace {

using veks::EventRecord;

struct Clock {
  int year = 13, month = 11, day = 1, hour = 7, minute = 55, second = 0;

  void advance(int seconds) {
    second += seconds;
    minute += second / 60;
    second %= 60;
    hour += minute / 60;
    minute %= 60;
    day += hour / 24;
    hour %= 24;
    while (day > 28) {  // every month has 28 days here; the demo needs no calendar
      day -= 28;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
  EventRecord record(int code, int argument) const {
    return veks::MakeRecord(static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(argument),
                            static_cast<std::uint8_t>(hour), static_cast<std::uint8_t>(minute),
                            static_cast<std::uint8_t>(second), static_cast<std::uint8_t>(day),
                            static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(year));
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo_archive OUTPUT.dat\n");
    return 2;
  }
  std::mt19937 random(20131101u);
  // mt19937's sequence is fixed by the standard; the modulo keeps the choice
  // independent of the library's distributions.
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

  veks::ArchiveBuilder archive;
  Clock clock;
  int written = 0;
  auto write = [&](const EventRecord& record) {
    archive.setRecord(written % veks::kSlotCount, record);
    ++written;
  };

  write(clock.record(7, 0));  // power on
  const int kEvents = 1250;   // more than the ring holds: it wraps
  while (written < kEvents) {
    clock.advance(20 + pick(3600));
    const int kind = pick(100);
    if (kind < 55) {
      // A valve input of МУК 1 to 4 changes: back to normal, or a signal.
      const int input = 1 + pick(24);
      write(clock.record(pick(3) == 0 ? 0 : 1 + pick(3), input));
    } else if (kind < 68) {
      write(clock.record(50 + pick(2), 1 + pick(4)));  // relay off / on
    } else if (kind < 78) {
      write(clock.record(52, pick(9)));  // a МУК button, open or close
    } else if (kind < 84) {
      write(clock.record(8 + pick(4), 0));  // a module fails
    } else if (kind < 86) {
      write(clock.record(24, 0));
    } else if (kind < 90) {
      write(clock.record(6, 0));  // power off, and on again later
      clock.advance(600 + pick(7200));
      write(clock.record(7, 0));
    } else if (kind < 93) {
      write(clock.record(30 + pick(2), 0));  // restart by Reset or watchdog
    } else if (kind < 95) {
      write(clock.record(25, 0));
    } else if (kind < 97) {
      write(EventRecord{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});  // erased
    } else if (kind < 98) {
      write(EventRecord{});  // a slot left empty
    } else {
      write(clock.record(4, 3));  // a code without a text
    }
  }
  archive.setWriteOffset((written % veks::kSlotCount) * veks::kRecordSize);
  try {
    archive.writeTo(argv[1]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
