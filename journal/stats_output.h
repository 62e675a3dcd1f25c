// What the statistics and the due moments become as text: the CSV and JSON
// lines that scripts read, the summary an operator reads, and the lines of
// `due`.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "journal/journal_stats.h"

namespace veks {

// kText is StatsSummary's; StatsWriter writes the other two.
enum class StatsFormat { kCsv, kJsonl, kText };

// Writes rows one line each: CSV (RFC 4180, CRLF, the header
// "device,measure,key,value" first) or JSON lines with the keys in that
// order and `value` a number.
class StatsWriter {
 public:
  StatsWriter(std::ostream& out, StatsFormat format);
  void write(const StatRow& row);

 private:
  std::ostream& out_;
  StatsFormat format_;
  bool headerDone_ = false;
  std::string line_;
};

// The dates an operator gave, as the summary's title repeats them.
struct StatsTitle {
  std::optional<std::string> from;  // DD.MM.YY
  std::optional<std::string> to;
};

// The summary an operator reads, per device: the title "Статистика:
// устройство NAME" with the dates given, the totals, the days, then the
// commonest kinds of event, the busiest inputs, chattering inputs, valve
// operations per МУК and flood slots, long lists cut to their first ten. One
// empty line between two devices. Rows as ComputeStats gives them.
[[nodiscard]] std::vector<std::string> StatsSummary(std::span<const StatRow> rows,
                                                    const StatsTitle& title);

// "NAME\tT\tRATE\tDUE"; "NAME\t\t\t" for a device without timestamps.
[[nodiscard]] std::string DueLine(const DueEstimate& estimate);

}  // namespace veks
