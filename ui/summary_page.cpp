#include "ui/summary_page.h"

#include <QAction>
#include <QDate>
#include <QFontMetricsF>
#include <QMenu>
#include <QSettings>
#include <algorithm>
#include <cmath>
#include <map>

#include "journal/journal.h"
#include "ui/dialog_services.h"

namespace {

const QString kChosenKey = QStringLiteral("journal/summaryPage");

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString Number(std::int64_t n) { return QString::number(n); }

// The timeline's bars: a count per day, or per month when the days are too
// many to tell apart on a page. Every period from the first to the last is
// there, those without events at 0, so the gaps show as gaps.
struct Timeline {
  bool monthly = false;
  std::vector<std::pair<QDate, std::int64_t>> bars;
  std::int64_t highest = 0;
};

constexpr qint64 kMostDailyBars = 92;

Timeline TimelineOf(const std::map<QDate, std::int64_t>& days) {
  Timeline timeline;
  if (days.empty()) return timeline;
  const QDate first = days.begin()->first, last = days.rbegin()->first;
  timeline.monthly = first.daysTo(last) + 1 > kMostDailyBars;
  const auto start = [&](const QDate& day) {
    return timeline.monthly ? QDate(day.year(), day.month(), 1) : day;
  };
  for (QDate at = start(first); at <= last; at = timeline.monthly ? at.addMonths(1) : at.addDays(1))
    timeline.bars.emplace_back(at, 0);
  for (const auto& [day, n] : days) {
    const QDate bar = start(day);
    const auto found = std::lower_bound(
        timeline.bars.begin(), timeline.bars.end(), bar,
        [](const std::pair<QDate, std::int64_t>& a, const QDate& b) { return a.first < b; });
    found->second += n;
  }
  for (const auto& bar : timeline.bars) timeline.highest = std::max(timeline.highest, bar.second);
  return timeline;
}

// Paints the lines of the page from the top down.
class PagePen {
 public:
  PagePen(QPainter& painter, const QRectF& area) : painter_(painter), area_(area), y_(area.top()) {}

  void line(const QString& text, const QFont& font) {
    painter_.setFont(font);
    const QFontMetricsF metrics(font, painter_.device());
    painter_.drawText(QPointF(area_.left(), y_ + metrics.ascent()),
                      metrics.elidedText(text, Qt::ElideRight, area_.width()));
    y_ += metrics.lineSpacing();
  }
  // A text on the left and a number on the right end of the line.
  void row(const QString& text, const QString& number, const QFont& font) {
    painter_.setFont(font);
    const QFontMetricsF metrics(font, painter_.device());
    const qreal numberWidth = metrics.horizontalAdvance(number);
    const qreal gap = metrics.horizontalAdvance(QStringLiteral("  "));
    painter_.drawText(QPointF(area_.left(), y_ + metrics.ascent()),
                      metrics.elidedText(text, Qt::ElideRight, area_.width() - numberWidth - gap));
    painter_.drawText(QPointF(area_.right() - numberWidth, y_ + metrics.ascent()), number);
    y_ += metrics.lineSpacing();
  }
  void skip(qreal height) { y_ += height; }
  [[nodiscard]] qreal y() const { return y_; }
  [[nodiscard]] qreal left() const { return area_.bottom() - y_; }

 private:
  QPainter& painter_;
  QRectF area_;
  qreal y_;
};

void PaintTimeline(QPainter& painter, const QRectF& box, const Timeline& timeline,
                   const QFont& font) {
  const QFontMetricsF metrics(font, painter.device());
  painter.setFont(font);
  const QString top = Number(timeline.highest);
  const qreal axis = metrics.horizontalAdvance(top) + metrics.horizontalAdvance(QLatin1Char(' '));
  // Bars stand on the base line, the dates of the first and last bar below it.
  const QRectF plot(box.left() + axis, box.top() + metrics.ascent() / 2, box.width() - axis,
                    box.height() - metrics.lineSpacing() * 1.5);
  painter.drawText(QPointF(box.left(), plot.top() + metrics.ascent() / 2), top);
  painter.drawText(QPointF(plot.left() - axis, plot.bottom()), QStringLiteral("0"));
  painter.setPen(QPen(Qt::black, 0));
  painter.drawLine(QPointF(plot.left(), plot.bottom()), QPointF(plot.right(), plot.bottom()));
  painter.drawLine(QPointF(plot.left(), plot.top()), QPointF(plot.left(), plot.bottom()));
  const qreal step = plot.width() / static_cast<qreal>(timeline.bars.size());
  const qreal width = std::max(step * 0.8, step - painter.device()->logicalDpiX() / 72.0);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(70, 110, 170));
  for (std::size_t i = 0; i < timeline.bars.size(); ++i) {
    const qreal height =
        plot.height() * static_cast<qreal>(timeline.bars[i].second) / timeline.highest;
    if (height > 0) {
      painter.drawRect(QRectF(plot.left() + step * static_cast<qreal>(i) + (step - width) / 2,
                              plot.bottom() - height, width, height));
    }
  }
  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  const QString format =
      timeline.monthly ? QStringLiteral("MM.yyyy") : QStringLiteral("dd.MM.yyyy");
  const QString first = timeline.bars.front().first.toString(format);
  const QString last = timeline.bars.back().first.toString(format);
  const qreal baseline = plot.bottom() + metrics.lineSpacing();
  painter.drawText(QPointF(plot.left(), baseline), first);
  if (timeline.bars.size() > 1) {
    painter.drawText(QPointF(plot.right() - metrics.horizontalAdvance(last), baseline), last);
  }
}

}  // namespace

std::optional<SummaryPage> SummaryOf(veks::Journal& journal, const veks::EventFilter& filter) {
  veks::StatsFilter stats;
  stats.device = filter.device;
  stats.fromDate = filter.fromDate;
  stats.toDate = filter.toDate;
  auto rows = journal.stats(stats);
  if (!rows.ok() || rows.value().empty()) return std::nullopt;
  const auto date = [](const std::optional<std::string>& iso) {
    return iso ? QDate::fromString(Text(*iso), Qt::ISODate).toString(QStringLiteral("dd.MM.yyyy"))
               : QString();
  };
  return SummaryPage{filter.device ? Text(*filter.device) : QStringLiteral("все устройства"),
                     date(filter.fromDate), date(filter.toDate),
                     filter.input || filter.eventText || filter.withNotes, std::move(rows.value())};
}

void PaintSummaryPage(QPainter& painter, const QRectF& area, const SummaryPage& page) {
  painter.save();
  std::int64_t events = 0, segments = 0, dated = 0, devices = 0;
  // Every device's rows add up: the page of all devices shows their sums.
  std::map<QString, std::int64_t> byKind;
  std::map<QDate, std::int64_t> days;
  for (const veks::StatRow& row : page.rows) {
    switch (row.measure) {
      case veks::StatMeasure::kEvents:
        events += row.value;
        ++devices;
        break;
      case veks::StatMeasure::kSegments:
        segments += row.value;
        break;
      case veks::StatMeasure::kKind:
        byKind[row.key.empty() ? QStringLiteral("(без текста)") : Text(row.key)] += row.value;
        break;
      case veks::StatMeasure::kDay:
        days[QDate::fromString(Text(row.key), Qt::ISODate)] += row.value;
        dated += row.value;
        break;
      default:
        break;
    }
  }
  // The commonest kinds first; equal counts by text.
  std::vector<std::pair<QString, std::int64_t>> kinds(byKind.begin(), byKind.end());
  std::stable_sort(kinds.begin(), kinds.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });

  const QFont body = painter.font();
  QFont title = body;
  title.setPointSizeF(body.pointSizeF() * 1.8);
  title.setBold(true);
  QFont heading = body;
  heading.setBold(true);
  const qreal spacing = QFontMetricsF(body, painter.device()).lineSpacing();

  PagePen pen(painter, area);
  pen.line(QStringLiteral("Сводка"), title);
  pen.skip(spacing / 2);
  pen.line(QStringLiteral("Устройство: ") + page.device, body);
  const QString from = !page.from.isEmpty() ? page.from
                       : days.empty()       ? QStringLiteral("—")
                                      : days.begin()->first.toString(QStringLiteral("dd.MM.yyyy"));
  const QString to = !page.to.isEmpty() ? page.to
                     : days.empty()     ? QStringLiteral("—")
                                    : days.rbegin()->first.toString(QStringLiteral("dd.MM.yyyy"));
  pen.line(QStringLiteral("Период: %1 – %2").arg(from, to), body);
  QString total = QStringLiteral("Событий: ") + Number(events);
  if (events > dated) total += QStringLiteral(", из них без даты: ") + Number(events - dated);
  pen.line(total, body);
  pen.line(QStringLiteral("Участков: %1, разрывов между ними: %2")
               .arg(Number(segments))
               .arg(Number(segments - devices)),
           body);
  if (segments > devices)
    pen.line(QStringLiteral("В разрывах между участками события могли быть пропущены."), body);
  if (page.narrowed) {
    pen.line(QStringLiteral("Отбор по входу, событию и примечаниям сужает отчет, не сводку."),
             body);
  }

  const Timeline timeline = TimelineOf(days);
  if (!timeline.bars.empty()) {
    pen.skip(spacing);
    pen.line(
        timeline.monthly ? QStringLiteral("События по месяцам") : QStringLiteral("События по дням"),
        heading);
    const qreal height = std::min(area.height() * 0.3, std::max(pen.left() - spacing * 4, 0.0));
    PaintTimeline(painter, QRectF(area.left(), pen.y(), area.width(), height), timeline, body);
    pen.skip(height);
  }

  pen.skip(spacing);
  pen.line(QStringLiteral("События по видам"), heading);
  // As many kinds as the page holds, the rest counted in the last line.
  const auto fits = static_cast<std::size_t>(std::max(0.0, std::floor(pen.left() / spacing)));
  const std::size_t shown = kinds.size() <= fits ? kinds.size() : fits > 0 ? fits - 1 : 0;
  for (std::size_t i = 0; i < shown; ++i) pen.row(kinds[i].first, Number(kinds[i].second), body);
  if (shown < kinds.size() && fits > 0) {
    std::int64_t rest = 0;
    for (std::size_t i = shown; i < kinds.size(); ++i) rest += kinds[i].second;
    pen.row(QStringLiteral("прочие (видов: %1)").arg(kinds.size() - shown), Number(rest), body);
  }
  painter.restore();
}

std::function<void(QPainter&, const QRectF&)> SummaryFrontPage(veks::Journal& journal,
                                                               const veks::EventFilter& filter) {
  std::optional<SummaryPage> page = SummaryOf(journal, filter);
  if (!page) return {};
  return [page = std::move(*page)](QPainter& painter, const QRectF& area) {
    PaintSummaryPage(painter, area, page);
  };
}

QAction* AddSummaryPageChoice(QMenu* menu, QAction* before) {
  auto* choice = new QAction(QStringLiteral("Сводка на первой странице"), menu);
  choice->setObjectName(QStringLiteral("ASummaryPage"));
  choice->setCheckable(true);
  choice->setChecked(ProgramSettings()->value(kChosenKey, false).toBool());
  QObject::connect(choice, &QAction::toggled,
                   [](bool chosen) { ProgramSettings()->setValue(kChosenKey, chosen); });
  menu->insertAction(before, choice);
  return choice;
}
