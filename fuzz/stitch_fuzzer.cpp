// Feeds the stitching random runs of events and checks what must always hold.
//
// The first byte picks the game (its value modulo 3):
//  - 0: a device writes a stream of distinct events and copies are
//    windows of it, given by the input, imported in the input's order with
//    repeats. The history must be exactly the stream's events that the
//    copies cover, one segment per run of overlapping copies: nothing lost,
//    nothing doubled, whatever the order.
//  - 1: copies are arbitrary runs over an alphabet of four events, so
//    events repeat everywhere. Whatever the plan, after an import the copy
//    stands whole inside one segment (a second import holds it already), and
//    every segment from before still stands whole inside one segment.
//  - 2: the events an import looks up in a copy of the size the input gives
//    (LookupPositions) must find every segment the stitching could join: a
//    segment that the copy holds whole and that has at least kLookupStep
//    events holds a looked-up event wherever it stands in the copy, and an
//    overlap of any length at either end of the copy holds one.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "journal/stitch.h"

namespace {

using veks::EventRecord;
using veks::MemoryHistory;
using veks::StitchPlan;

void Fail(const char* what) {
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

EventRecord Numbered(std::uint32_t n) {
  return {7,
          static_cast<std::uint8_t>(n),
          static_cast<std::uint8_t>(n >> 8),
          static_cast<std::uint8_t>(n >> 16),
          0,
          1,
          1,
          13};
}

bool StandsInside(const std::vector<EventRecord>& run, const std::vector<EventRecord>& segment) {
  return std::search(segment.begin(), segment.end(), run.begin(), run.end()) != segment.end();
}

bool StandsInsideSome(const std::vector<EventRecord>& run, const MemoryHistory& history) {
  return std::any_of(history.segments().begin(), history.segments().end(),
                     [&](const veks::Segment& s) { return StandsInside(run, s.events); });
}

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  [[nodiscard]] bool empty() const { return at_ >= size_; }
  std::uint32_t next(std::uint32_t below) {
    std::uint32_t value = 0;
    for (int i = 0; i < 2 && at_ < size_; ++i) value = value << 8 | data_[at_++];
    return below == 0 ? 0 : value % below;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void DistinctStream(Bytes& in) {
  const std::uint32_t length = 1 + in.next(4000);
  struct Window {
    std::uint32_t first, last;
  };
  std::vector<Window> windows;
  while (!in.empty() && windows.size() < 40) {
    const std::uint32_t last = 1 + in.next(length);
    const std::uint32_t size = 1 + in.next(std::min<std::uint32_t>(last, 992));
    windows.push_back({last - size, last});
  }
  MemoryHistory history;
  for (std::size_t round = 0; round < 2; ++round) {
    for (const Window& w : windows) {
      std::vector<EventRecord> copy;
      for (std::uint32_t n = w.first; n < w.last; ++n) copy.push_back(Numbered(n));
      history.import(copy);
    }
  }
  // The expected segments: overlapping windows joined, in stream order.
  std::vector<Window> sorted = windows;
  std::sort(sorted.begin(), sorted.end(), [](auto a, auto b) { return a.first < b.first; });
  std::vector<Window> merged;
  for (const Window& w : sorted) {
    if (!merged.empty() && w.first < merged.back().last) {
      merged.back().last = std::max(merged.back().last, w.last);
    } else {
      merged.push_back(w);
    }
  }
  if (merged.size() != history.segments().size()) Fail("segment count");
  std::vector<std::vector<EventRecord>> actual;
  for (const auto& s : history.segments()) actual.push_back(s.events);
  std::sort(actual.begin(), actual.end(), [](const auto& a, const auto& b) {
    const auto key = [](const EventRecord& e) { return e[1] | e[2] << 8 | e[3] << 16; };
    return key(a.front()) < key(b.front());
  });
  for (std::size_t i = 0; i < merged.size(); ++i) {
    std::vector<EventRecord> expected;
    for (std::uint32_t n = merged[i].first; n < merged[i].last; ++n)
      expected.push_back(Numbered(n));
    if (actual[i] != expected) Fail("segment events");
  }
}

void RepeatingEvents(Bytes& in) {
  MemoryHistory history;
  for (int copies = 0; copies < 24 && !in.empty(); ++copies) {
    std::vector<EventRecord> copy(in.next(12));
    for (EventRecord& e : copy) e = Numbered(in.next(4));
    std::vector<std::vector<EventRecord>> before;
    for (const auto& s : history.segments()) before.push_back(s.events);
    const StitchPlan plan = history.import(copy);
    if (copy.empty() != (plan.kind == StitchPlan::Kind::kEmptyCopy)) Fail("empty copy");
    if (!copy.empty() && !StandsInsideSome(copy, history)) Fail("copy not held after import");
    if (!copy.empty() && history.import(copy).kind != StitchPlan::Kind::kAlreadyHeld) {
      Fail("second import changed the history");
    }
    for (const auto& old : before) {
      if (!StandsInsideSome(old, history)) Fail("a segment was lost");
    }
  }
}

void LookedUpEvents(Bytes& in) {
  const std::int64_t size = in.next(4000);
  const std::vector<std::int64_t> at = veks::LookupPositions(size);
  // Overlaps at the copy's start all hold its first event, those at its end
  // its last; neighbours at most a step apart leave no run of a step's
  // length, where a segment held whole could stand, without a lookup.
  if (size == 0) {
    if (!at.empty()) Fail("lookup in an empty copy");
    return;
  }
  if (at.front() != 0) Fail("an overlap at the copy's start is not looked up");
  if (at.back() != size - 1) Fail("an overlap at the copy's end is not looked up");
  for (std::size_t i = 1; i < at.size(); ++i) {
    if (at[i] <= at[i - 1]) Fail("lookups not ascending");
    if (at[i] - at[i - 1] > veks::kLookupStep) Fail("a segment held whole is not looked up");
  }
  if (at.size() > static_cast<std::size_t>(size / veks::kLookupStep + 2)) Fail("too many lookups");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Bytes in(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      DistinctStream(in);
      break;
    case 1:
      RepeatingEvents(in);
      break;
    default:
      LookedUpEvents(in);
      break;
  }
  return 0;
}
