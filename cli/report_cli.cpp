#include "cli/report_cli.h"

#include <optional>
#include <sstream>
#include <string_view>
#include <variant>
#include <vector>

#include "archive/block_loader.h"
#include "cli/cli_args.h"
#include "cli/descriptor_output.h"
#include "report/event_export.h"
#include "report/report_text.h"

namespace veks {
namespace {

constexpr std::string_view kUsage =
    "Usage: veks12-report [--block N | --input N | --date DD.MM.YY] [--format FORMAT]\n"
    "                     [--] ARCHIVE\n"
    "\n"
    "Prints a report of a device event archive (.dat), as the window composes it.\n"
    "\n"
    "  (no option)        the whole archive, newest block first\n"
    "  --block N          the block N counted from the newest (1 to 62)\n"
    "  --input N          every record of input N (1 to 255)\n"
    "  --date DD.MM.YY    the block that starts with the newest record of that date\n"
    "  --format FORMAT    text: the report's lines (the default); csv or jsonl: one\n"
    "                     line per record of the report, in report order\n"
    "  --help             this text\n"
    "  --                 ends the options (for an archive name that begins with '-')\n";

enum class Mode { kWhole, kBlock, kInput, kDate };

struct Request {
  Mode mode = Mode::kWhole;
  int number = 0;
  std::string date;
  std::string archive;
  std::optional<ExportFormat> format;  // none: the report's text
};

struct UsageError {
  std::string reason;
};

// Collects what standard output will carry: the report's lines, or in an
// export format one line per record of the report's rows. An export leaves
// out the title, the empty lines and the header line, which are the text's
// own, and the blank row after each block, which shows no record; an empty
// slot among the records is a record and keeps its line.
class OutputSink : public ReportSink {
 public:
  explicit OutputSink(std::optional<ExportFormat> format) : format_(format) { clear(); }

  void clear() override {
    out_.str({});
    if (format_) exporter_.emplace(out_, *format_, false);
  }
  void appendLine(const std::string& line) override {
    if (!format_) out_ << line << '\n';
  }
  void appendRow(const EventTable& table, int row) override {
    if (!format_) {
      ReportSink::appendRow(table, row);
    } else if (const std::optional<EventRecord> record = table.record(row)) {
      exporter_->write(*record);
    }
  }
  [[nodiscard]] std::string text() const { return out_.str(); }

 private:
  std::optional<ExportFormat> format_;
  std::ostringstream out_;
  std::optional<EventExporter> exporter_;
};

std::variant<Request, UsageError, bool> ParseArgs(std::span<const std::string> args) {
  Request request;
  bool optionSeen = false;
  bool formatSeen = false;
  bool archiveSeen = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--help") return true;
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && arg == "--format") {
      if (formatSeen) return UsageError{"--format may be given once"};
      formatSeen = true;
      if (i + 1 >= args.size()) return UsageError{arg + " needs a value"};
      const std::string& value = args[++i];
      if (value == "csv") {
        request.format = ExportFormat::kCsv;
      } else if (value == "jsonl") {
        request.format = ExportFormat::kJsonl;
      } else if (value != "text") {
        return UsageError{"--format takes text, csv or jsonl, not " + value};
      }
      continue;
    }
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      Mode mode;
      if (arg == "--block") {
        mode = Mode::kBlock;
      } else if (arg == "--input") {
        mode = Mode::kInput;
      } else if (arg == "--date") {
        mode = Mode::kDate;
      } else {
        return UsageError{"unknown option " + arg};
      }
      if (optionSeen) return UsageError{"only one of --block, --input, --date may be given"};
      optionSeen = true;
      if (i + 1 >= args.size()) return UsageError{arg + " needs a value"};
      const std::string& value = args[++i];
      request.mode = mode;
      if (mode == Mode::kDate) {
        if (!IsDateArgument(value)) return UsageError{"--date takes DD.MM.YY, not " + value};
        request.date = value;
      } else {
        const int high = mode == Mode::kBlock ? 62 : 255;
        const auto number = ParseNumberArgument(value, 1, high);
        if (!number) {
          return UsageError{arg + " takes a number from 1 to " + std::to_string(high) + ", not " +
                            value};
        }
        request.number = *number;
      }
      continue;
    }
    if (archiveSeen) return UsageError{"exactly one archive may be given"};
    archiveSeen = true;
    request.archive = arg;
  }
  if (!archiveSeen) return UsageError{"no archive given"};
  return request;
}

// Flushes what was written to `out`; a failed write is named on `err`.
int Flush(std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return 0;
  err << "veks12-report: " << WriteErrorText(out) << '\n';
  return 1;
}

}  // namespace

int RunReportCli(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  const auto parsed = ParseArgs(args);
  if (std::holds_alternative<bool>(parsed)) {
    out << kUsage;
    return Flush(out, err);
  }
  if (const auto* usage = std::get_if<UsageError>(&parsed)) {
    err << "veks12-report: " << usage->reason << "\n\n" << kUsage;
    return 2;
  }
  const Request& request = std::get<Request>(parsed);

  ViewState state;
  state.ArchiveName = request.archive;
  EventTable table;
  HeadlessHost host;
  OutputSink sink(request.format);

  bool ok = false;
  if (request.mode == Mode::kWhole) {
    ok = ComposeWholeArchiveReport(state, table, host, sink) == WholeReportOutcome::kComplete;
  } else {
    if (request.mode == Mode::kBlock) state.BlockDepth = request.number;
    if (request.mode == Mode::kInput) {
      state.InputNumber = request.number;
      state.InputFilter = 1;
    }
    if (request.mode == Mode::kDate) {
      state.SearchDate = request.date;
      state.DateSearch = 1;
    }
    ok = RunBlockLoader(state, table, host) == LoadOutcome::kFilled;
    if (ok) ComposeBlockReport(table, host.statusLine(), state.RowsShown, sink);
  }
  if (!ok) {
    err << (host.messages.empty() ? std::string() : host.messages.front()) << '\n';
    return 1;
  }
  out << sink.text();
  return Flush(out, err);
}

}  // namespace veks
