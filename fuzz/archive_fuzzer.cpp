// Takes arbitrary bytes as an archive file and browses it the ways the window
// can, checking after every load what must always hold.
//
// The first 7,940 bytes (or fewer) are the archive exactly as the loader sees
// the file. The bytes after them, which the loader never reads, are a script:
// one operation a byte (below), at most 12. An input without such bytes runs
// the default script: the plain view at several depths, steps back and forward
// across the wrap, the input filter and the date search for values taken from
// the newest record. The whole-archive report (63 loads) runs only for a
// script of the single byte 7, so that the other inputs stay cheap.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/block_loader.h"
#include "report/report_text.h"

namespace {

enum Op : std::uint8_t {
  kPlainView = 0,  // BlockDepth from the byte's high bits (31 means 62)
  kStepBack = 1,
  kStepForward = 2,
  kFilterNewest = 3,  // input filter for the newest record's input
  kFilterNumber = 4,  // input filter for the byte's high bits times 8
  kDateNewest = 5,    // date search for the newest record's date
  kDateOfSlot = 6,    // date search for the date of slot 32 * high bits (31: slot 0)
  kWholeReport = 7,   // a script of the byte 7 alone; elsewhere 7, 15, 23, ... are plain views
                      // at depths 0, -1, -2, ...
};

constexpr std::uint8_t kDefaultScript[] = {
    kPlainView,    kPlainView | 31 << 3, kPlainView | 1 << 3, kStepBack,
    kStepBack,     kStepForward,         kStepForward,        kStepForward,
    kFilterNewest, kStepForward,         kDateNewest,         kStepBack};

class CountingSink : public veks::ReportSink {
 public:
  void clear() override { lines = 0; }
  void appendLine(const std::string& text) override {
    lines += 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }
  int lines = 0;
};

// An invariant that every input must keep; a broken one is a finding.
#define Check(condition)                                                    \
  do {                                                                      \
    if (!(condition)) {                                                     \
      std::fprintf(stderr, "broken: %s (line %d)\n", #condition, __LINE__); \
      std::abort();                                                         \
    }                                                                       \
  } while (false)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t archiveSize = std::min<std::size_t>(size, veks::kFileBytes);
  const veks::ArchiveReader read = [&](const std::string&) {
    return veks::ParseArchive(data, archiveSize);
  };
  const veks::LoadResult parsed = read("");
  const auto* image = std::get_if<veks::ArchiveImage>(&parsed);
  auto recordAt = [&](int offset) {
    return std::span<const std::uint8_t, 8>(image->ring.data() + offset, 8);
  };

  veks::ViewState state;
  state.ArchiveName = "fuzz.dat";
  veks::EventTable table;
  veks::HeadlessHost host;
  CountingSink sink;

  auto run = [&] {
    const veks::LoadOutcome outcome = veks::RunBlockLoader(state, table, host, read);
    Check(outcome != veks::LoadOutcome::kCannotOpen &&
          outcome != veks::LoadOutcome::kNoArchiveName);
    Check(state.StepBack == 0 && state.StepForward == 0 && state.InputFilter == 0 &&
          state.DateSearch == 0);
    Check(state.RowsShown >= 0 && state.RowsShown <= veks::kSlotCount + 1);
    if (outcome == veks::LoadOutcome::kFilled) {
      Check(state.Cursor >= 0 && state.Cursor <= veks::kLastSlotOffset && state.Cursor % 8 == 0);
      for (int column = 0; column < 4; ++column) Check(table.cell(column, state.RowsShown).empty());
    }
    return outcome;
  };
  auto dateSearch = [&](std::span<const std::uint8_t, 8> record) {
    state.SearchDate = veks::RecordDateText(record);
    state.DateSearch = 1;
    const bool found = run() == veks::LoadOutcome::kFilled;
    // A record's own two-digit date is always found, at the latest at that record.
    if (record[5] < 100 && record[6] < 100 && record[7] < 100) Check(found);
  };

  std::vector<std::uint8_t> script(std::begin(kDefaultScript), std::end(kDefaultScript));
  if (size > veks::kFileBytes) {
    script.assign(data + veks::kFileBytes,
                  data + std::min<std::size_t>(size, veks::kFileBytes + 12));
  }
  for (const std::uint8_t byte : script) {
    const int high = byte >> 3;
    switch (static_cast<Op>(byte & 7)) {
      case kPlainView:
        state.BlockDepth = high == 31 ? 62 : high;
        run();
        break;
      case kStepBack:
        state.StepBack = 1;
        run();
        break;
      case kStepForward:
        state.StepForward = 1;
        run();
        break;
      case kFilterNewest:
      case kFilterNumber:
        state.InputNumber = (byte & 7) == kFilterNumber ? high * 8
                            : image                     ? recordAt(image->NewestOffset)[1]
                                                        : 0;
        state.InputFilter = 1;
        run();
        break;
      case kDateNewest:
      case kDateOfSlot:
        if (image == nullptr) {
          state.DateSearch = 1;
          run();
        } else {
          dateSearch(recordAt((byte & 7) == kDateNewest ? image->NewestOffset
                                                        : high * 32 % veks::kSlotCount * 8));
        }
        break;
      case kWholeReport: {
        if (script.size() != 1 || high != 0) {
          state.BlockDepth = -high;
          run();
          break;
        }
        const veks::WholeReportOutcome outcome =
            veks::ComposeWholeArchiveReport(state, table, host, sink, read);
        Check(sink.lines == (outcome == veks::WholeReportOutcome::kComplete ? 4 + 62 * 17 : 0));
        break;
      }
    }
  }
  // The block report of whatever the table shows last.
  veks::ComposeBlockReport(table, host.statusLine(), state.RowsShown, sink);
  Check(sink.lines == 4 + state.RowsShown);  // title, two empty lines, header, rows
  return 0;
}
