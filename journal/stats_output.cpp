#include "journal/stats_output.h"

#include <algorithm>
#include <map>

#include "archive/event_decoder.h"
#include "report/event_export.h"

namespace veks {
namespace {

// How many entries of a long list the summary shows.
constexpr std::size_t kListed = 10;

// "DD.MM.YY" of "YYYY-MM-DD...".
std::string ShortDate(std::string_view iso) {
  return std::string(iso.substr(8, 2)) + "." + std::string(iso.substr(5, 2)) + "." +
         std::string(iso.substr(2, 2));
}

// "DD.MM.YY hh:m0-hh:m9" of a slot "YYYY-MM-DDThh:m0".
std::string SlotText(std::string_view slot) {
  const std::string start(slot.substr(11, 5));
  std::string end = start;
  end.back() = '9';
  return ShortDate(slot) + " " + start + "-" + end;
}

// Texts with their runs of digits compared as numbers: "МУК 2" before "МУК 10".
bool NaturalLess(std::string_view a, std::string_view b) {
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && isDigit(a[ei])) ++ei;
      while (ej < b.size() && isDigit(b[ej])) ++ej;
      // Equal numbers of equal length compare equal; a longer run is larger.
      const std::string_view x = a.substr(i, ei - i), y = b.substr(j, ej - j);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

// Lines of a table: the first column left-aligned, the others right-aligned,
// each as wide as its widest cell in characters.
void AppendTable(std::vector<std::string>& lines,
                 const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], CharacterCount(row[c]));
    }
  }
  for (const auto& row : rows) {
    std::string line = "  ";
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - CharacterCount(row[c]), ' ');
      line += c == 0 ? row[c] + pad : "  " + pad + row[c];
    }
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(std::move(line));
  }
}

// The summary of one device's rows.
class DeviceSummaryText {
 public:
  explicit DeviceSummaryText(std::span<const StatRow> rows) {
    for (const StatRow& row : rows) byMeasure_[row.measure].emplace_back(row.key, row.value);
  }

  void write(std::vector<std::string>& lines, const std::string& device,
             const StatsTitle& title) const {
    std::string heading = "Статистика: устройство " + device;
    if (title.from) heading += "  с " + *title.from;
    if (title.to) heading += "  по " + *title.to;
    lines.push_back(heading);
    lines.emplace_back();
    const std::int64_t segments = total(StatMeasure::kSegments);
    lines.push_back("Событий: " + std::to_string(total(StatMeasure::kEvents)) +
                    ", участков: " + std::to_string(segments));
    if (segments > 1) {
      lines.emplace_back(
          "Между участками события могли быть пропущены: дребезг и всплески там не видны.");
    }
    const auto& days = of(StatMeasure::kDay);
    if (days.empty()) {
      lines.emplace_back("Событий с датой нет.");
    } else {
      const auto busiest = std::max_element(days.begin(), days.end(),
                                            [](auto& a, auto& b) { return a.second < b.second; });
      lines.push_back("Дней с событиями: " + std::to_string(days.size()) + " (" +
                      ShortDate(days.front().first) + " - " + ShortDate(days.back().first) +
                      "), больше всего за день: " + std::to_string(busiest->second) + " (" +
                      ShortDate(busiest->first) + ")");
    }

    section(lines, "Частые события:");
    const auto kinds = byCount(of(StatMeasure::kKind));
    std::vector<std::vector<std::string>> table;
    for (std::size_t i = 0; i < std::min(kinds.size(), kListed); ++i) {
      const std::string& kind = kinds[i].first;
      table.push_back({kind.empty() ? "(без текста)" : kind, std::to_string(kinds[i].second)});
    }
    listed(lines, table, kinds.size());

    section(lines, "Самые активные входы (всего, вкл., выкл.):");
    const auto inputs = byCount(of(StatMeasure::kInput));
    table.clear();
    for (std::size_t i = 0; i < std::min(inputs.size(), kListed); ++i) {
      const std::string& input = inputs[i].first;
      table.push_back({input, std::to_string(inputs[i].second),
                       std::to_string(value(StatMeasure::kInputOn, input)),
                       std::to_string(value(StatMeasure::kInputOff, input))});
    }
    listed(lines, table, inputs.size());

    section(lines, "Дребезг входов (три события входа за " + std::to_string(kChatterSeconds) +
                       " с и быстрее):");
    table.clear();
    for (const auto& [input, n] : byCount(of(StatMeasure::kChatter))) {
      table.push_back({input, std::to_string(n)});
    }
    listed(lines, table, table.size());

    section(lines, "Клапаны (открыт, закрыт):");
    std::vector<std::string> modules;
    for (const auto& entry : of(StatMeasure::kValveOpened)) modules.push_back(entry.first);
    for (const auto& entry : of(StatMeasure::kValveClosed)) modules.push_back(entry.first);
    std::sort(modules.begin(), modules.end(),
              [](const std::string& x, const std::string& y) { return NaturalLess(x, y); });
    modules.erase(std::unique(modules.begin(), modules.end()), modules.end());
    table.clear();
    for (const std::string& module : modules) {
      table.push_back({module, std::to_string(value(StatMeasure::kValveOpened, module)),
                       std::to_string(value(StatMeasure::kValveClosed, module))});
    }
    listed(lines, table, table.size());

    section(lines, "Всплески (больше " + std::to_string(kFloodAbove) + " событий за 10 минут):");
    const auto floods = byCount(of(StatMeasure::kFloodSlot));
    table.clear();
    for (std::size_t i = 0; i < std::min(floods.size(), kListed); ++i) {
      table.push_back({SlotText(floods[i].first), std::to_string(floods[i].second)});
    }
    listed(lines, table, floods.size());
  }

 private:
  using Entries = std::vector<std::pair<std::string, std::int64_t>>;

  const Entries& of(StatMeasure measure) const {
    static const Entries kNone;
    const auto found = byMeasure_.find(measure);
    return found == byMeasure_.end() ? kNone : found->second;
  }
  std::int64_t total(StatMeasure measure) const {
    return of(measure).empty() ? 0 : of(measure).front().second;
  }
  std::int64_t value(StatMeasure measure, const std::string& key) const {
    for (const auto& [k, n] : of(measure)) {
      if (k == key) return n;
    }
    return 0;
  }
  // Largest first; equal counts in the keys' order.
  static Entries byCount(Entries entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
      return a.second != b.second ? a.second > b.second : NaturalLess(a.first, b.first);
    });
    return entries;
  }
  static void section(std::vector<std::string>& lines, const std::string& heading) {
    lines.emplace_back();
    lines.push_back(heading);
  }
  // The table, "  нет" when it is empty, and how many were left out.
  static void listed(std::vector<std::string>& lines,
                     const std::vector<std::vector<std::string>>& table, std::size_t all) {
    if (table.empty()) lines.emplace_back("  нет");
    AppendTable(lines, table);
    if (all > table.size()) lines.push_back("  и ещё " + std::to_string(all - table.size()));
  }

  std::map<StatMeasure, Entries> byMeasure_;
};

}  // namespace

StatsWriter::StatsWriter(std::ostream& out, StatsFormat format) : out_(out), format_(format) {}

void StatsWriter::write(const StatRow& row) {
  line_.clear();
  if (format_ == StatsFormat::kJsonl) {
    line_ += "{\"device\":";
    AppendJsonString(line_, row.device);
    line_ += ",\"measure\":";
    AppendJsonString(line_, MeasureName(row.measure));
    line_ += ",\"key\":";
    AppendJsonString(line_, row.key);
    line_ += ",\"value\":";
    line_ += std::to_string(row.value);
    line_ += "}\n";
  } else {
    if (!headerDone_) line_ += "device,measure,key,value\r\n";
    headerDone_ = true;
    AppendCsvField(line_, row.device);
    line_ += ',';
    line_ += MeasureName(row.measure);
    line_ += ',';
    AppendCsvField(line_, row.key);
    line_ += ',';
    line_ += std::to_string(row.value);
    line_ += "\r\n";
  }
  out_ << line_;
}

std::vector<std::string> StatsSummary(std::span<const StatRow> rows, const StatsTitle& title) {
  std::vector<std::string> lines;
  for (std::size_t first = 0; first < rows.size();) {
    std::size_t end = first;
    while (end < rows.size() && rows[end].device == rows[first].device) ++end;
    if (!lines.empty()) lines.emplace_back();
    DeviceSummaryText(rows.subspan(first, end - first)).write(lines, rows[first].device, title);
    first = end;
  }
  return lines;
}

std::string DueLine(const DueEstimate& estimate) {
  if (!estimate.last) return estimate.device + "\t\t\t";
  return estimate.device + "\t" + *estimate.last + "\t" + RateText(estimate.rateMilli) + "\t" +
         estimate.due;
}

}  // namespace veks
