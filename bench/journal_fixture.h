// A journal filled with the history of one simulated device, for the
// benchmarks: copies taken every `step` slots, so each import overlaps the
// one before and adds about `step` events.
#pragma once

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
                 int step = 900)
      : device(1u, BusyDevice()), journal(journalPath), archive(archivePath) {
    auto opened = Journal::Open(journal, Journal::Access::kImport);
    if (!opened.ok()) throw std::runtime_error(opened.error().message);
    open = std::move(opened.value());
    while (device.events().size() < events) add(step);
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
