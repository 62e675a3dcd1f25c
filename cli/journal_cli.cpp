#include "cli/journal_cli.h"

#include <chrono>
#include <climits>
#include <map>
#include <optional>
#include <set>
#include <variant>
#include <vector>

#include "cli/cli_args.h"
#include "cli/descriptor_output.h"
#include "journal/journal.h"
#include "journal/journal_output.h"
#include "journal/note_output.h"
#include "journal/pg_connection.h"
#include "journal/stats_output.h"

namespace veks {
namespace {

constexpr std::string_view kUsage =
    "Usage: veks12-journal [--journal JOURNAL] import [--device NAME] [--] ARCHIVE...\n"
    "       veks12-journal [--journal JOURNAL] devices\n"
    "       veks12-journal [--journal JOURNAL] report [--device NAME] [--from DD.MM.YY] "
    "[--to DD.MM.YY] [--input N]\n"
    "       veks12-journal [--journal JOURNAL] export [--device NAME] [--from DD.MM.YY] "
    "[--to DD.MM.YY] [--input N] [--format csv|jsonl]\n"
    "       veks12-journal [--journal JOURNAL] check\n"
    "       veks12-journal [--journal JOURNAL] backup [--] TARGET\n"
    "       veks12-journal [--journal JOURNAL] rename [--] DEVICE NEWNAME\n"
    "       veks12-journal [--journal JOURNAL] merge [--] SOURCE\n"
    "       veks12-journal [--journal JOURNAL] stats [--device NAME] [--from DD.MM.YY] "
    "[--to DD.MM.YY] [--format text|csv|jsonl]\n"
    "       veks12-journal [--journal JOURNAL] due [--device NAME]\n"
    "       veks12-journal [--journal JOURNAL] note add --device NAME (--event TIMESTAMP/RAW | "
    "--at MOMENT)\n"
    "                      [--kind KIND] [--author NAME] [--] TEXT\n"
    "       veks12-journal [--journal JOURNAL] note edit NUMBER [--kind KIND] [--author NAME] "
    "[--] TEXT\n"
    "       veks12-journal [--journal JOURNAL] note delete NUMBER [--author NAME]\n"
    "       veks12-journal [--journal JOURNAL] notes [--device NAME] [--from DD.MM.YY] "
    "[--to DD.MM.YY] [--history]\n"
    "                      [--format csv|jsonl]\n"
    "       veks12-journal --help\n"
    "\n"
    "Keeps the whole event history of each device, stitched together from\n"
    "successive copies of its archive (.dat), in one journal: an SQLite file or a\n"
    "PostgreSQL server.\n"
    "\n"
    "  import             add archive copies to the journal\n"
    "  devices            list the devices: name, events, segments, first and last time\n"
    "  report             the journal report, newest event first\n"
    "  export             the events oldest first, as CSV (default) or JSON lines\n"
    "  check              check the journal's integrity and its own rules\n"
    "  backup             copy the journal to TARGET, a file that must not exist yet\n"
    "  rename             give DEVICE the name NEWNAME, or join it to the device NEWNAME\n"
    "  merge              join every device of the journal SOURCE, its notes with it,\n"
    "                     to the device of the same name (SOURCE is only read)\n"
    "  stats              counts per device: events, kinds, inputs, chatter, valves,\n"
    "                     days and flood slots, as CSV (default), JSON lines or text\n"
    "  due                per device: the last time, events per day, and by when the\n"
    "                     next copy must be taken before the ring overwrites events\n"
    "  note add           write a note on an event of a device, or an operator entry\n"
    "                     at a moment of its history\n"
    "  note edit          write a new version of note NUMBER\n"
    "  note delete        write the version that deletes note NUMBER (none is lost)\n"
    "  notes              the notes in the order of the histories, as CSV (default)\n"
    "                     or JSON lines\n"
    "\n"
    "  --journal JOURNAL  the journal: a file, or a server as a postgresql:// URI\n"
    "                     (default: $XDG_DATA_HOME/veks12/journal.sqlite,\n"
    "                     or ~/.local/share/veks12/journal.sqlite)\n"
    "  --device NAME      one device (import: the device the copies belong to)\n"
    "  --from DD.MM.YY    events from this date on\n"
    "  --to DD.MM.YY      events up to this date\n"
    "  --input N          events of input N (1 to 255)\n"
    "  --format FORMAT    csv or jsonl (stats: also text)\n"
    "  --event TIMESTAMP/RAW  the event as export writes it: its timestamp (empty\n"
    "                     when it has none), \"/\" and its 16 hexadecimal digits\n"
    "  --at MOMENT        an operator entry's moment on the device's clock,\n"
    "                     YYYY-MM-DDThh:mm:ss\n"
    "  --kind KIND        the note's kind (default Комментарий; edit keeps it)\n"
    "  --author NAME      who writes (default: $LOGNAME, $USER, the login name)\n"
    "  --history          every version of each note\n"
    "  --help             this text\n"
    "  --                 ends the options: every word after it is an archive\n"
    "                     (a backup's target, a device name of rename, a note's TEXT,\n"
    "                     merge's SOURCE)\n";

enum class Command {
  kImport,
  kDevices,
  kReport,
  kExport,
  kCheck,
  kBackup,
  kRename,
  kMerge,
  kStats,
  kDue,
  kNote,  // its verb follows
  kNoteAdd,
  kNoteEdit,
  kNoteDelete,
  kNotes,
};

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
  std::string source;              // of a merge
  std::vector<std::string> names;  // rename: DEVICE NEWNAME
  // Of the notes.
  std::optional<EventRecord> event;
  std::optional<std::string> moment;
  std::optional<std::string> kind;
  std::optional<std::string> author;
  std::int64_t number = 0;
  std::string text;
  bool history = false;
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
    case Command::kMerge:
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
    case Command::kNote:
      return false;
    case Command::kNoteAdd:
      return option == "--device" || option == "--event" || option == "--at" ||
             option == "--kind" || option == "--author";
    case Command::kNoteEdit:
      return option == "--kind" || option == "--author";
    case Command::kNoteDelete:
      return option == "--author";
    case Command::kNotes:
      return option == "--device" || option == "--from" || option == "--to" ||
             option == "--history" || option == "--format";
  }
  return false;
}

// "TIMESTAMP/RAW": the event's 16 lowercase hexadecimal digits after the
// timestamp `export` writes for it (nothing when it has none).
std::optional<EventRecord> ParseEventArgument(std::string_view text) {
  const auto slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view stamp = text.substr(0, slash), hex = text.substr(slash + 1);
  if (hex.size() != 2 * kRecordSize) return std::nullopt;
  EventRecord event{};
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const char c = hex[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return std::nullopt;
    event[i / 2] = static_cast<std::uint8_t>(event[i / 2] << 4 | digit);
  }
  if (EventTimestamp(event).value_or("") != stamp) return std::nullopt;
  return event;
}

// A note's NUMBER: decimal digits naming 1 or more. A number past the
// largest that can be stored names no note there is (the largest).
std::optional<std::int64_t> ParseNoteNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value > (INT64_MAX - 9) / 10 ? INT64_MAX : value * 10 + (c - '0');
  }
  if (value < 1) return std::nullopt;
  return value;
}

// The words of `note VERB`: NUMBER for edit and delete, then TEXT but for
// delete, which after "--" is the one word there.
std::optional<UsageError> ParseNoteWords(Request& request, std::span<const std::string> before,
                                         std::span<const std::string> after) {
  if (request.command != Command::kNoteAdd) {
    if (before.empty()) return UsageError{"note edit and delete need the note's NUMBER"};
    const auto number = ParseNoteNumber(before.front());
    if (!number) return UsageError{"NUMBER is a number from 1, not " + before.front()};
    request.number = *number;
    before = before.subspan(1);
  }
  if (request.command == Command::kNoteDelete) {
    if (!before.empty() || !after.empty()) return UsageError{"note delete takes NUMBER alone"};
    return std::nullopt;
  }
  if (before.size() + after.size() != 1) {
    return UsageError{"a note's TEXT is one word (quote it)"};
  }
  request.text = before.empty() ? after.front() : before.front();
  if (!before.empty() && request.text.starts_with('-')) {
    return UsageError{"a TEXT that begins with \"-\" stands after --"};
  }
  if (!IsValidNoteText(request.text)) {
    return UsageError{
        "a note's TEXT is UTF-8, not blank, without control characters but "
        "line feeds and TABs"};
  }
  if (request.command == Command::kNoteAdd) {
    if (!request.device) return UsageError{"note add needs --device"};
    if (request.event.has_value() == request.moment.has_value()) {
      return UsageError{"note add takes either --event or --at"};
    }
  }
  return std::nullopt;
}

std::variant<Request, UsageError, Help> ParseArgs(std::span<const std::string> args) {
  static const std::map<std::string, Command, std::less<>> kCommands = {
      {"import", Command::kImport}, {"devices", Command::kDevices}, {"report", Command::kReport},
      {"export", Command::kExport}, {"check", Command::kCheck},     {"backup", Command::kBackup},
      {"rename", Command::kRename}, {"stats", Command::kStats},     {"due", Command::kDue},
      {"merge", Command::kMerge},   {"note", Command::kNote},       {"notes", Command::kNotes}};
  Request request;
  std::map<std::string, std::string> options;
  std::optional<Command> command;
  std::vector<std::string> words;
  std::set<std::string, std::less<>> flags;
  bool optionsEnded = false;
  std::size_t wordsBeforeEnd = 0;  // how many words came before the end of the options
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded) {
      words.push_back(arg);
      continue;
    }
    if (arg == "--help") return Help{};
    if (arg == "--") {
      optionsEnded = true;
      wordsBeforeEnd = words.size();
      continue;
    }
    if (arg == "--history") {
      if (!flags.insert(arg).second) return UsageError{arg + " may be given once"};
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      static const char* const kOptions[] = {"--journal", "--device", "--from",  "--to",
                                             "--input",   "--format", "--event", "--at",
                                             "--kind",    "--author"};
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
  if (!optionsEnded) wordsBeforeEnd = words.size();
  if (*command == Command::kNote) {
    static const std::map<std::string, Command, std::less<>> kVerbs = {
        {"add", Command::kNoteAdd}, {"edit", Command::kNoteEdit}, {"delete", Command::kNoteDelete}};
    const auto verb = wordsBeforeEnd > 0 ? kVerbs.find(words.front()) : kVerbs.end();
    if (verb == kVerbs.end()) return UsageError{"note takes add, edit or delete"};
    command = verb->second;
    words.erase(words.begin());
    --wordsBeforeEnd;
  }
  request.command = *command;
  for (const std::string& flag : flags) {
    if (!Allows(*command, flag)) return UsageError{flag + " does not go with this command"};
  }
  request.history = flags.contains("--history");
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
    } else if (option == "--event") {
      request.event = ParseEventArgument(value);
      if (!request.event) {
        return UsageError{"--event takes TIMESTAMP/RAW as export writes them, not " + value};
      }
    } else if (option == "--at") {
      if (!IsValidNoteMoment(value)) {
        return UsageError{"--at takes YYYY-MM-DDThh:mm:ss (2000-2099), not " + value};
      }
      request.moment = value;
    } else if (option == "--kind" || option == "--author") {
      if (!IsValidNoteLabel(value)) {
        return UsageError{option + " takes 1 to 100 characters without control characters"};
      }
      (option == "--kind" ? request.kind : request.author) = value;
    }
  }
  if (request.command == Command::kImport) {
    if (words.empty()) return UsageError{"import needs at least one archive"};
    request.archives = std::move(words);
  } else if (request.command == Command::kBackup) {
    if (words.size() != 1) return UsageError{"backup needs one target file"};
    if (words.front().empty()) return UsageError{"backup needs a file name"};
    request.target = words.front();
  } else if (request.command == Command::kMerge) {
    if (words.size() != 1) return UsageError{"merge needs one source journal"};
    if (words.front().empty()) return UsageError{"merge needs a file name"};
    request.source = words.front();
  } else if (request.command == Command::kRename) {
    if (words.size() != 2) return UsageError{"rename takes DEVICE and NEWNAME"};
    for (const std::string& name : words) {
      if (!IsValidDeviceName(name)) {
        return UsageError{"rename takes names without control characters, not \"" + name + "\""};
      }
    }
    if (words[0] == words[1]) return UsageError{"rename takes two different names"};
    request.names = std::move(words);
  } else if (request.command == Command::kNoteAdd || request.command == Command::kNoteEdit ||
             request.command == Command::kNoteDelete) {
    const std::span<const std::string> all(words);
    if (auto usage =
            ParseNoteWords(request, all.first(wordsBeforeEnd), all.subspan(wordsBeforeEnd))) {
      return *usage;
    }
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

// A command's failure: its message on standard error, exit status 1.
int Failed(std::ostream& err, const JournalError& error) {
  err << "veks12-journal: " << error.message << '\n';
  return 1;
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
  if (!result.ok()) return Failed(err, result.error());
  for (const DeviceSummary& d : result.value()) {
    out << d.name << '\t' << d.events << '\t' << d.segments << '\t' << d.firstTimestamp.value_or("")
        << '\t' << d.lastTimestamp.value_or("") << '\n';
  }
  return 0;
}

int Events(Journal& journal, const Request& request, const LocalTime& localTime, std::ostream& out,
           std::ostream& err) {
  StreamSink sink(out);
  const JournalOutput written =
      request.command == Command::kReport
          ? WriteJournalReport(
                journal, FilterOf(request), {request.from, request.to, request.input, std::nullopt},
                sink, [&] { return static_cast<bool>(out); }, localTime)
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
  if (!result.ok()) return Failed(err, result.error());
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
  if (!result.ok()) return Failed(err, result.error());
  out << RenameOutcomeText(result.value()) << '\n';
  return 0;
}

// Joins every device of `source` to `journal`, device by device, one line
// each as it is committed.
int Merge(Journal& journal, const std::string& path, Journal& source,
          const std::string& shownSource, std::ostream& out, std::ostream& err) {
  int code = 0;
  const auto read = source.forEachDeviceCopy([&](const DeviceCopy& device) {
    auto merged = journal.mergeDevice(device, shownSource);
    if (!merged.ok() && IsJournalFailure(merged.error().kind)) {
      err << "veks12-journal: " << path << ": " << merged.error().message << '\n';
      code = 1;
      return false;
    }
    if (!merged.ok()) {
      err << shownSource << ": " << device.name << ": " << merged.error().message << '\n';
      code = 1;
      return true;
    }
    out << shownSource << ": " << MergeOutcomeText(merged.value()) << '\n';
    out.flush();
    return true;
  });
  if (!read.ok()) {
    err << "veks12-journal: " << shownSource << ": " << read.error().message << '\n';
    return 1;
  }
  return code;
}

int Stats(Journal& journal, const Request& request, std::ostream& out, std::ostream& err) {
  StatsFilter filter;
  filter.device = request.device;
  if (request.from) filter.fromDate = IsoDate(*request.from);
  if (request.to) filter.toDate = IsoDate(*request.to);
  auto result = journal.stats(filter);
  if (!result.ok()) return Failed(err, result.error());
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

// Who writes: --author, else the first name the environment gives.
std::optional<std::string> AuthorOf(const Request& request,
                                    const JournalCliEnvironment& environment) {
  if (request.author) return request.author;
  for (const char* name : {environment.logname, environment.user}) {
    if (name != nullptr && IsValidNoteLabel(name)) return std::string(name);
  }
  if (environment.accountName) {
    if (std::string name = environment.accountName(); IsValidNoteLabel(name)) return name;
  }
  return std::nullopt;
}

int WriteNote(Journal& journal, const Request& request, const NoteSignature& signature,
              std::ostream& out, std::ostream& err) {
  JournalResult<std::int64_t> result = request.number;
  if (request.command == Command::kNoteAdd) {
    result = journal.addNote({*request.device, request.event, std::nullopt, request.moment},
                             request.kind.value_or(std::string(kNoteKinds.front())), request.text,
                             signature);
  } else {
    const auto version =
        request.command == Command::kNoteEdit
            ? journal.editNote(request.number, request.kind, request.text, signature)
            : journal.deleteNote(request.number, signature);
    if (!version.ok()) result = version.error();
  }
  if (!result.ok()) return Failed(err, result.error());
  out << "примечание " << result.value() << '\n';
  return 0;
}

int Notes(Journal& journal, const Request& request, std::ostream& out, std::ostream& err) {
  NoteFilter filter;
  filter.device = request.device;
  if (request.from) filter.fromDate = IsoDate(*request.from);
  if (request.to) filter.toDate = IsoDate(*request.to);
  filter.history = request.history;
  auto result = journal.notes(filter);
  if (!result.ok()) return Failed(err, result.error());
  NoteWriter writer(out, request.format);
  for (const NoteVersion& note : result.value()) writer.write(note);
  return 0;
}

int Due(Journal& journal, const Request& request, std::ostream& out, std::ostream& err) {
  auto result = journal.due(request.device);
  if (!result.ok()) return Failed(err, result.error());
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
  // A server's location is shown without its password, wherever it is told.
  const auto shown = [](const std::string& location) {
    return IsServerLocation(location) ? ShownServerLocation(location) : location;
  };
  std::optional<std::string> path = request.journal;
  if (!path) path = DefaultJournalPath(environment.xdgDataHome, environment.home);
  if (!path) {
    err << "veks12-journal: не задан журнал: переменные HOME и XDG_DATA_HOME не указывают "
           "каталог (задайте --journal FILE)\n";
    return 1;
  }

  const bool writesNote = request.command == Command::kNoteAdd ||
                          request.command == Command::kNoteEdit ||
                          request.command == Command::kNoteDelete;
  NoteSignature signature;
  if (writesNote) {
    const std::optional<std::string> author = AuthorOf(request, environment);
    if (!author) {
      err << "veks12-journal: Не задан автор (--author)\n";
      return 1;
    }
    signature.author = *author;
    signature.written =
        environment.now ? environment.now()
                        : std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  }

  // A merge reads its source, which must be another journal, before the
  // target is opened (and perhaps made).
  std::unique_ptr<Journal> source;
  if (request.command == Command::kMerge) {
    if (SameJournalFile(request.source, *path)) {
      err << "veks12-journal: " << shown(request.source) << ": " << kMsgMergeSelf << '\n';
      return 1;
    }
    auto opened = Journal::Open(request.source, Journal::Access::kRead);
    if (!opened.ok()) {
      err << "veks12-journal: " << shown(request.source) << ": " << opened.error().message << '\n';
      return 1;
    }
    source = std::move(opened.value());
  }
  const bool imports = request.command == Command::kImport || request.command == Command::kMerge;
  const auto access = imports                                             ? Journal::Access::kImport
                      : request.command == Command::kRename || writesNote ? Journal::Access::kWrite
                                                                          : Journal::Access::kRead;
  auto opened = Journal::Open(*path, access);
  if (!opened.ok()) {
    err << "veks12-journal: " << shown(*path) << ": " << opened.error().message << '\n';
    return 1;
  }
  Journal& journal = *opened.value();
  // Two locations may name one journal on a server.
  if (source && source->isSameJournal(journal)) {
    err << "veks12-journal: " << shown(request.source) << ": " << kMsgMergeSelf << '\n';
    return 1;
  }
  int code = 0;
  switch (request.command) {
    case Command::kImport:
      code = Import(journal, shown(*path), request, out, err);
      break;
    case Command::kDevices:
      code = Devices(journal, out, err);
      break;
    case Command::kReport:
    case Command::kExport:
      code = Events(journal, request, environment.localTime, out, err);
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
    case Command::kMerge:
      code = Merge(journal, shown(*path), *source, shown(request.source), out, err);
      break;
    case Command::kStats:
      code = Stats(journal, request, out, err);
      break;
    case Command::kDue:
      code = Due(journal, request, out, err);
      break;
    case Command::kNote:
    case Command::kNoteAdd:
    case Command::kNoteEdit:
    case Command::kNoteDelete:
      code = WriteNote(journal, request, signature, out, err);
      break;
    case Command::kNotes:
      code = Notes(journal, request, out, err);
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
