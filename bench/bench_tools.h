// What the journal's benchmarks share besides their journal: a report sink
// that goes nowhere, and a run of the journal tool (VEKS_JOURNAL_TOOL).
#pragma once

#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "report/report_text.h"
#include "tools/spawn_quietly.h"

namespace veks {

// A report that goes nowhere, for timing its making alone.
class NullSink : public ReportSink {
 public:
  void clear() override {}
  void appendLine(const std::string& text) override { benchmark::DoNotOptimize(text.data()); }
};

// Runs the journal tool with its output thrown away; false when it failed.
inline bool RunTool(std::vector<std::string> args) {
  const pid_t pid = SpawnQuietly(VEKS_JOURNAL_TOOL, std::move(args));
  int status = -1;
  return pid > 0 && waitpid(pid, &status, 0) == pid && status == 0;
}

}  // namespace veks
