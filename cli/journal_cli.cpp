#include "cli/journal_cli.h"

#include <map>
#include <optional>
#include <variant>
#include <vector>

#include "cli/cli_args.h"
#include "cli/descriptor_output.h"
#include "journal/journal.h"
#include "journal/journal_output.h"
#include "journal/stats_output.h"

namespace veks {
namespace {

constexpr std::string_view kUsage =
    "Usage: veks12-journal [--journal FILE] import [--device NAME] [--] ARCHIVE...\n"
    "       veks12-journal [--journal FILE] devices\n"
    "       veks12-journal [--journal FILE] report [--device NAME] [--from DD.MM.YY] "
    "[--to DD.MM.YY] [--input N]\n"
    "       veks12-journal [--journal FILE] export [--device NAME] [--from DD.MM.YY] "
    "[--to DD.MM.YY] [--input N] [--format csv|jsonl]\n"
    "       veks12-journal [--journal FILE] check\n"
    "       veks12-journal [--journal FILE] backup [--] TARGET\n"
    "       veks12-journal [--journal FILE] rename [--] DEVICE NEWNAME\n"
    "       veks12-journal [--journal FILE] stats [--device NAME] [--from DD.MM.YY] "
    "[--to DD.MM.YY] [--format text|csv|jsonl]\n"
    "       veks12-journal [--journal FILE] due [--device NAME]\n"
    "       veks12-journal --help\n"
    "\n"
    "Keeps the whole event history of each device, stitched together from\n"
    "successive copies of its archive (.dat), in one SQLite journal.\n"
    "\n"
    "  import             add archive copies to the journal\n"
    "  devices            list the devices: name, events, segments, first and last time\n"
    "  report             the journal report, newest event first\n"
    "  export             the events oldest first, as CSV (default) or JSON lines\n"
    "  check              check the journal's integrity and its own rules\n"
    "  backup             copy the journal to TARGET, a file that must not exist yet\n"
    "  rename             give DEVICE the name NEWNAME, or join it to the device NEWNAME\n"
    "  stats              counts per device: events, kinds, inputs, chatter, valves,\n"
    "                     days and flood slots, as CSV (default), JSON lines or text\n"
    "  due                per device: the last time, events per day, and by when the\n"
    "                     next copy must be taken before the ring overwrites events\n"
    "\n"
    "  --journal FILE     the journal (default: $XDG_DATA_HOME/veks12/journal.sqlite,\n"
    "                     or ~/.local/share/veks12/journal.sqlite)\n"
    "  --device NAME      one device (import: the device the copies belong to)\n"
    "  --from DD.MM.YY    events from this date on\n"
    "  --to DD.MM.YY      events up to this date\n"
    "  --input N          events of input N (1 to 255)\n"
    "  --format FORMAT    csv or jsonl (stats: also text)\n"
    "  --help             this text\n"
    "  --                 ends the options: every word after it is an archive\n"
    "                     (a backup's target, or a device name of rename)\n";

enum class Command { kImport, kDevices, kReport, kExport, kCheck, kBackup, kRename, kStats, kDue };

struct Request {
  Command command = Command::kImport;
  std::optional<std::string> journal;
  std::optional<std::string> device;
  std::optional<std::string> from;
  std::optional<std::string> to;
  std::optional<int> input;
  ExportFormat format = ExportFormat::kCsv;
  StatsFormat statsFormat = StatsFormat::kCsv;
  std::vector<std::string> archives;
  std::string target;              // of a backup
  std::vector<std::string> names;  // rename: DEVICE NEWNAME
};

struct UsageError {
  std::string reason;
};
struct Help {};

// The options each command takes besides --journal.
bool Allows(Command command, const std::string& option) {
  if (option == "--journal") return true;
  switch (command) {
    case Command::kImport:
      return option == "--device";
    case Command::kDevices:
    case Command::kCheck:
    case Command::kBackup:
    case Command::kRename:
      return false;
    case Command::kReport:
      return option == "--device" || option == "--from" || option == "--to" || option == "--input";
    case Command::kExport:
      return option == "--device" || option == "--from" || option == "--to" ||
             option == "--input" || option == "--format";
    case Command::kStats:
      return option == "--device" || option == "--from" || option == "--to" || option == "--format";
    case Command::kDue:
      return option == "--device";
  }
  return false;
}

std::variant<Request, UsageError, Help> ParseArgs(std::span<const std::string> args) {
  static const std::map<std::string, Command, std::less<>> kCommands = {
      {"import", Command::kImport}, {"devices", Command::kDevices}, {"report", Command::kReport},
      {"export", Command::kExport}, {"check", Command::kCheck},     {"backup", Command::kBackup},
      {"rename", Command::kRename}, {"stats", Command::kStats},     {"due", Command::kDue}};
  Request request;
  std::map<std::string, std::string> options;
  std::optional<Command> command;
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded) {
      words.push_back(arg);
      continue;
    }
    if (arg == "--help") return Help{};
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      static const char* const kOptions[] = {"--journal", "--device", "--from",
                                             "--to",      "--input",  "--format"};
      if (std::find(std::begin(kOptions), std::end(kOptions), arg) == std::end(kOptions)) {
        return UsageError{"unknown option " + arg};
      }
      if (options.contains(arg)) return UsageError{arg + " may be given once"};
      if (i + 1 >= args.size()) return UsageError{arg + " needs a value"};
      options[arg] = args[++i];
      continue;
    }
    if (!command) {
      const auto found = kCommands.find(arg);
      if (found == kCommands.end()) return UsageError{"unknown command " + arg};
      command = found->second;
    } else {
      words.push_back(arg);
    }
  }
  if (!command) return UsageError{"no command given"};
  request.command = *command;
  for (const auto& [option, value] : options) {
    if (!Allows(*command, option)) return UsageError{option + " does not go with this command"};
    if (option == "--journal") {
      if (value.empty()) return UsageError{"--journal needs a file name"};
      request.journal = value;
    } else if (option == "--device") {
      if (!IsValidDeviceName(value)) {
        return UsageError{"--device takes a name without control characters, not \"" + value +
                          "\""};
      }
      request.device = value;
    } else if (option == "--from" || option == "--to") {
      if (!IsDateArgument(value)) return UsageError{option + " takes DD.MM.YY, not " + value};
      (option == "--from" ? request.from : request.to) = value;
    } else if (option == "--input") {
      request.input = ParseNumberArgument(value, 1, 255);
      if (!request.input) return UsageError{"--input takes a number from 1 to 255, not " + value};
    } else if (option == "--format") {
      const bool text = request.command == Command::kStats && value == "text";
      if (value != "csv" && value != "jsonl" && !text) {
        return UsageError{request.command == Command::kStats
                              ? "--format takes text, csv or jsonl, not " + value
                              : "--format takes csv or jsonl, not " + value};
      }
      request.format = value == "csv" ? ExportFormat::kCsv : ExportFormat::kJsonl;
      request.statsFormat = text               ? StatsFormat::kText
                            : value == "jsonl" ? StatsFormat::kJsonl
                                               : StatsFormat::kCsv;
    }
  }
  if (request.command == Command::kImport) {
    if (words.empty()) return UsageError{"import needs at least one archive"};
    request.archives = std::move(words);
  } else if (request.command == Command::kBackup) {
    if (words.size() != 1) return UsageError{"backup needs one target file"};
    if (words.front().empty()) return UsageError{"backup needs a file name"};
    request.target = words.front();
  } else if (request.command == Command::kRename) {
    if (words.size() != 2) return UsageError{"rename takes DEVICE and NEWNAME"};
    for (const std::string& name : words) {
      if (!IsValidDeviceName(name)) {
        return UsageError{"rename takes names without control characters, not \"" + name + "\""};
      }
    }
    if (words[0] == words[1]) return UsageError{"rename takes two different names"};
    request.names = std::move(words);
  } else if (!words.empty()) {
    return UsageError{"unexpected " + words.front()};
  }
  return request;
}

// DD.MM.YY as the journal's dates compare: YYYY-MM-DD.
std::string IsoDate(const std::string& date) {
  return "20" + date.substr(6, 2) + "-" + date.substr(3, 2) + "-" + date.substr(0, 2);
}

EventFilter FilterOf(const Request& r) {
  EventFilter filter;
  filter.device = r.device;
  if (r.from) filter.fromDate = IsoDate(*r.from);
  if (r.to) filter.toDate = IsoDate(*r.to);
  filter.input = r.input;
  return filter;
}

class StreamSink : public ReportSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void clear() override {}
  void appendLine(const std::string& text) override { out_ << text << '\n'; }

 private:
  std::ostream& out_;
};

// A failure of the journal itself, not of one archive: no archive can follow.
bool IsJournalFailure(JournalError::Kind kind) {
  return kind == JournalError::Kind::kUnavailable || kind == JournalError::Kind::kReadOnly ||
         kind == JournalError::Kind::kNotJournal || kind == JournalError::Kind::kNewerVersion;
}

int Import(Journal& journal, const std::string& path, const Request& request, std::ostream& out,
           std::ostream& err) {
  int code = 0;
  for (const std::string& archive : request.archives) {
    auto result = journal.importArchive(archive, request.device);
    if (!result.ok() && IsJournalFailure(result.error().kind)) {
      err << "veks12-journal: " << path << ": " << result.error().message << '\n';
      return 1;
    }
    if (!result.ok()) {
      err << archive << ": " << result.error().message << '\n';
      code = 1;
      continue;
    }
    out << archive << ": " << ImportOutcomeText(result.value()) << '\n';
    // Each line goes out as its archive is done, so a long import shows progress.
    out.flush();
  }
  return code;
}

int Devices(Journal& journal, std::ostream& out, std::ostream& err) {
  auto result = journal.devices();
  if (!result.ok()) {
    err << "veks12-journal: " << result.error().message << '\n';
    return 1;
  }
  for (const DeviceSummary& d : result.value()) {
    out << d.name << '\t' << d.events << '\t' << d.segments << '\t' << d.firstTimestamp.value_or("")
        << '\t' << d.lastTimestamp.value_or("") << '\n';
  }
  return 0;
}

int Events(Journal& journal, const Request& request, std::ostream& out, std::ostream& err) {
  StreamSink sink(out);
  const JournalOutput written =
      request.command == Command::kReport
          ? WriteJournalReport(journal, FilterOf(request),
                               {request.from, request.to, request.input, std::nullopt}, sink,
                               [&] { return static_cast<bool>(out); })
          : WriteJournalExport(journal, FilterOf(request), request.format, out);
  if (written.error) {
    // Lines already printed are no whole report or export: say so.
    err << "veks12-journal: " << written.error->message
        << (written.events > 0 ? "; вывод неполон" : "") << '\n';
    return 1;
  }
  return 0;
}

int Check(Journal& journal, std::ostream& out, std::ostream& err) {
  auto result = journal.check();
  if (!result.ok()) {
    err << "veks12-journal: " << result.error().message << '\n';
    return 1;
  }
  if (result.value().empty()) {
    out << "журнал исправен\n";
    return 0;
  }
  for (const std::string& problem : result.value()) out << problem << '\n';
  return 1;
}

int Backup(Journal& journal, const std::string& target, std::ostream& out, std::ostream& err) {
  auto result = journal.backup(target);
  if (!result.ok()) {
    err << "veks12-journal: " << target << ": " << result.error().message << '\n';
    return 1;
  }
  out << target << ": событий " << result.value() << '\n';
  return 0;
}

int Rename(Journal& journal, const Request& request, std::ostream& out, std::ostream& err) {
  auto result = journal.renameDevice(request.names[0], request.names[1]);
  if (!result.ok()) {
    err << "veks12-journal: " << result.error().message << '\n';
    return 1;
  }
  out << RenameOutcomeText(result.value()) << '\n';
  return 0;
}

int Stats(Journal& journal, const Request& request, std::ostream& out, std::ostream& err) {
  StatsFilter filter;
  filter.device = request.device;
  if (request.from) filter.fromDate = IsoDate(*request.from);
  if (request.to) filter.toDate = IsoDate(*request.to);
  auto result = journal.stats(filter);
  if (!result.ok()) {
    err << "veks12-journal: " << result.error().message << '\n';
    return 1;
  }
  if (request.statsFormat == StatsFormat::kText) {
    for (const std::string& line : StatsSummary(result.value(), {request.from, request.to})) {
      out << line << '\n';
    }
  } else {
    StatsWriter writer(out, request.statsFormat);
    for (const StatRow& row : result.value()) writer.write(row);
  }
  return 0;
}

int Due(Journal& journal, const Request& request, std::ostream& out, std::ostream& err) {
  auto result = journal.due(request.device);
  if (!result.ok()) {
    err << "veks12-journal: " << result.error().message << '\n';
    return 1;
  }
  for (const DueEstimate& estimate : result.value()) out << DueLine(estimate) << '\n';
  return 0;
}

}  // namespace

int RunJournalCli(std::span<const std::string> args, const JournalCliEnvironment& environment,
                  std::ostream& out, std::ostream& err) {
  const auto parsed = ParseArgs(args);
  if (std::holds_alternative<Help>(parsed)) {
    out << kUsage;
    return 0;
  }
  if (const auto* usage = std::get_if<UsageError>(&parsed)) {
    err << "veks12-journal: " << usage->reason << "\n\n" << kUsage;
    return 2;
  }
  const Request& request = std::get<Request>(parsed);
  std::optional<std::string> path = request.journal;
  if (!path) path = DefaultJournalPath(environment.xdgDataHome, environment.home);
  if (!path) {
    err << "veks12-journal: не задан журнал: переменные HOME и XDG_DATA_HOME не указывают "
           "каталог (задайте --journal FILE)\n";
    return 1;
  }

  const auto access = request.command == Command::kImport   ? Journal::Access::kImport
                      : request.command == Command::kRename ? Journal::Access::kWrite
                                                            : Journal::Access::kRead;
  auto opened = Journal::Open(*path, access);
  if (!opened.ok()) {
    err << "veks12-journal: " << *path << ": " << opened.error().message << '\n';
    return 1;
  }
  Journal& journal = *opened.value();
  int code = 0;
  switch (request.command) {
    case Command::kImport:
      code = Import(journal, *path, request, out, err);
      break;
    case Command::kDevices:
      code = Devices(journal, out, err);
      break;
    case Command::kReport:
    case Command::kExport:
      code = Events(journal, request, out, err);
      break;
    case Command::kCheck:
      code = Check(journal, out, err);
      break;
    case Command::kBackup:
      code = Backup(journal, request.target, out, err);
      break;
    case Command::kRename:
      code = Rename(journal, request, out, err);
      break;
    case Command::kStats:
      code = Stats(journal, request, out, err);
      break;
    case Command::kDue:
      code = Due(journal, request, out, err);
      break;
  }
  out.flush();
  if (!out) {
    err << "veks12-journal: " << WriteErrorText(out) << '\n';
    return 1;
  }
  return code;
}

}  // namespace veks
