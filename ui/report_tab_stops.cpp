#include "ui/report_tab_stops.h"

#include <QFontMetricsF>
#include <algorithm>
#include <array>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "archive/event_decoder.h"
#include "report/report_text.h"

namespace {

struct CellTexts {
  std::vector<std::string> event;
  std::vector<std::string> input;
};

// Every event text, and the input texts of every shape. Digits share one
// width in the fonts a desktop offers, so arguments that give numbers of one,
// two and three digits (and every input of a МУК, every button parity) stand
// for all 256.
const CellTexts& AllCellTexts() {
  static const CellTexts texts = [] {
    std::vector<int> arguments;
    for (const auto& [from, to] : {std::pair{0, 11}, {100, 111}, {250, 255}}) {
      for (int a = from; a <= to; ++a) arguments.push_back(a);
    }
    std::set<std::string> event;
    std::set<std::string> input;
    for (int code = 0; code <= 0xFF; ++code) {
      for (const int argument : arguments) {
        const std::array<std::uint8_t, 8> record{
            static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(argument), 0, 0, 0, 1, 1, 0};
        const veks::EventRow row = veks::DecodeEventRow(record);
        event.insert(row[0]);
        input.insert(row[1]);
      }
    }
    return CellTexts{{event.begin(), event.end()}, {input.begin(), input.end()}};
  }();
  return texts;
}

struct ColumnWidths {
  qreal shortMax = 0;  // the texts that get one TAB more
  qreal longMin = std::numeric_limits<qreal>::max();
  qreal longMax = 0;
};

// The header line does not follow the gap rule: its cell `header` gets the
// short texts' TABs when `headerIsShort`, the longer texts' otherwise.
ColumnWidths Measure(const QFontMetricsF& metrics, const std::vector<std::string>& texts,
                     std::size_t longFrom, const QString& header, bool headerIsShort) {
  ColumnWidths widths;
  const auto add = [&](qreal width, bool isShort) {
    if (isShort) {
      widths.shortMax = std::max(widths.shortMax, width);
    } else {
      widths.longMin = std::min(widths.longMin, width);
      widths.longMax = std::max(widths.longMax, width);
    }
  };
  add(metrics.horizontalAdvance(header), headerIsShort);
  for (const std::string& text : texts) {
    add(metrics.horizontalAdvance(QString::fromStdString(text)),
        veks::CharacterCount(text) < longFrom);
  }
  widths.longMax = std::max(widths.longMax, widths.shortMax);
  return widths;
}

}  // namespace

QList<QTextOption::Tab> ReportTabStops(const QFont& font, const QPaintDevice* device) {
  const QFontMetricsF metrics = device ? QFontMetricsF(font, device) : QFontMetricsF(font);
  const qreal blank = metrics.horizontalAdvance(QLatin1Char(' '));
  const CellTexts& texts = AllCellTexts();
  QList<QTextOption::Tab> stops;
  qreal columnStart = 0;
  const auto stop = [&](qreal offset) {
    stops.append(QTextOption::Tab(columnStart + offset, QTextOption::LeftTab));
  };
  for (const ColumnWidths& w :
       {Measure(metrics, texts.event, veks::kEventTwoTabsFrom, QStringLiteral("Событие"), true),
        Measure(metrics, texts.input, veks::kInputTwoTabsFrom, QStringLiteral("  Номер входа"),
                false)}) {
    // In a font where some short text is wider than a longer one no stop
    // separates them; the short texts keep their column then.
    stop(w.shortMax < w.longMin ? (w.shortMax + w.longMin) / 2 : w.shortMax + blank);
    stop(w.longMax + blank);
    columnStart += w.longMax + 2 * blank;
    stop(0);
  }
  // Time bytes of 100 or more give three digits.
  const qreal time = std::max(metrics.horizontalAdvance(QStringLiteral(" Время")),
                              metrics.horizontalAdvance(QStringLiteral("255:255:255")));
  stop(time + blank);
  columnStart += time + 2 * blank;
  stop(0);
  return stops;
}
