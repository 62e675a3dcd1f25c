// A journal filled with the history of one simulated device, for the
// benchmarks: copies taken every `step` slots, so each import overlaps the
// one before and adds about `step` events. With `segments` above 1, the
// device writes more than its ring holds before the first copy of each
// further segment, so the history falls into that many segments of about
// equal size (a device copied too rarely).
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>

#include "journal/journal.h"
#include "tools/device_simulator.h"

namespace veks {

struct JournalFixture {
  // A device writing an event every two minutes on average, so that a
  // million events stay within a few years of the device's century.
  static DeviceSimulator::Options BusyDevice() {
    DeviceSimulator::Options options;
    options.maxSecondsBetween = 240;
    return options;
  }

  JournalFixture(const std::string& journalPath, const std::string& archivePath, std::size_t events,
                 int step = 900, int segments = 1)
      : device(1u, BusyDevice()), journal(journalPath), archive(archivePath) {
    auto opened = Journal::Open(journal, Journal::Access::kImport);
    if (!opened.ok()) throw std::runtime_error(opened.error().message);
    open = std::move(opened.value());
    std::int64_t held = 0;
    for (int segment = 0; segment < segments; ++segment) {
      const auto until = static_cast<std::int64_t>(events * (segment + 1) / segments);
      if (segment > 0) held += add(kSlotCount + 100).newEvents;
      while (held < until) {
        held += add(static_cast<int>(std::min<std::int64_t>(step, until - held))).newEvents;
      }
    }
  }

  // Lets the device write `count` more slots and imports the copy taken then.
  ImportOutcome add(int count) {
    device.run(count);
    device.archive().writeTo(archive);
    auto result = open->importArchive(archive, std::string("bench"));
    if (!result.ok()) throw std::runtime_error(result.error().message);
    return result.value();
  }

  DeviceSimulator device;
  std::string journal;
  std::string archive;
  std::unique_ptr<Journal> open;
};

}  // namespace veks
