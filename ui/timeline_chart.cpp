#include "ui/timeline_chart.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QRubberBand>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>

namespace {

using std::chrono::sys_days;
using std::chrono::year_month_day;

int MonthIndex(std::int64_t seconds) {
  const year_month_day date{sys_days{std::chrono::days{seconds / TimelineChart::kDay}}};
  return (static_cast<int>(date.year()) - 1970) * 12 + static_cast<int>(unsigned(date.month())) - 1;
}

std::int64_t MonthStart(int month) {
  const year_month_day date{std::chrono::year{1970 + month / 12},
                            std::chrono::month{static_cast<unsigned>(month % 12 + 1)},
                            std::chrono::day{1}};
  return static_cast<std::int64_t>(sys_days{date}.time_since_epoch().count()) * TimelineChart::kDay;
}

std::int64_t FloorTo(std::int64_t value, std::int64_t step) {
  return value >= 0 ? value / step * step : -((-value + step - 1) / step) * step;
}

// The colours of the kinds, the most frequent first; the last one stands for
// the rest together.
constexpr std::array<QRgb, TimelineChart::kKindsDrawn> kKindColours = {
    0x2e7d32, 0x1565c0, 0xef6c00, 0x6a1b9a, 0x00838f, 0xc62828, 0x9e9d24, 0x757575};

const QString kOtherKinds = QStringLiteral("прочие");

}  // namespace

std::int64_t DeviceSeconds(std::string_view stamp) {
  // "YYYY-MM-DDThh:mm:ss": the fields after the date are optional.
  const auto number = [&](std::size_t at, std::size_t length) -> int {
    if (stamp.size() < at + length) return at >= 11 ? 0 : -1;
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) {
      if (stamp[i] < '0' || stamp[i] > '9') return -1;
      value = value * 10 + (stamp[i] - '0');
    }
    return value;
  };
  const int y = number(0, 4), mo = number(5, 2), d = number(8, 2);
  const int h = number(11, 2), mi = number(14, 2), s = number(17, 2);
  if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || mi < 0 || s < 0) return -1;
  const year_month_day date{std::chrono::year{y}, std::chrono::month{static_cast<unsigned>(mo)},
                            std::chrono::day{static_cast<unsigned>(d)}};
  if (!date.ok()) return -1;
  return static_cast<std::int64_t>(sys_days{date}.time_since_epoch().count()) *
             TimelineChart::kDay +
         h * 3600 + mi * 60 + s;
}

QDate DeviceDate(std::int64_t seconds) {
  return QDate(1970, 1, 1).addDays(FloorTo(seconds, TimelineChart::kDay) / TimelineChart::kDay);
}

// The chart's own keys, wheel and drag.
class TimelineView : public QChartView {
 public:
  TimelineView(QChart* chart, TimelineChart& owner) : QChartView(chart), owner_(owner) {
    setFocusPolicy(Qt::StrongFocus);
    setRenderHint(QPainter::Antialiasing, false);
    band_ = new QRubberBand(QRubberBand::Rectangle, this);
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Plus:
      case Qt::Key_Equal:
        owner_.zoom(0.5);
        return;
      case Qt::Key_Minus:
        owner_.zoom(2.0);
        return;
      case Qt::Key_Left:
        owner_.pan(-0.25);
        return;
      case Qt::Key_Right:
        owner_.pan(0.25);
        return;
      case Qt::Key_Home:
        owner_.showAll();
        return;
      default:
        QChartView::keyPressEvent(event);
    }
  }
  void wheelEvent(QWheelEvent* event) override {
    const int steps = event->angleDelta().y();
    if (steps == 0) return QChartView::wheelEvent(event);
    const QRectF plot = chart()->plotArea();
    const double anchor =
        std::clamp((event->position().x() - plot.left()) / std::max(1.0, plot.width()), 0.0, 1.0);
    owner_.zoom(std::pow(0.8, steps / 120.0), anchor);
    event->accept();
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && chart()->plotArea().contains(event->position())) {
      dragFrom_ = event->position().x();
      dragging_ = true;
      setFocus(Qt::MouseFocusReason);
      event->accept();
      return;
    }
    QChartView::mousePressEvent(event);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!dragging_) return QChartView::mouseMoveEvent(event);
    const QRectF plot = chart()->plotArea();
    const double x = std::clamp(event->position().x(), plot.left(), plot.right());
    band_->setGeometry(QRectF(QPointF(std::min(dragFrom_, x), plot.top()),
                              QPointF(std::max(dragFrom_, x), plot.bottom()))
                           .toRect());
    band_->show();
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (!dragging_ || event->button() != Qt::LeftButton)
      return QChartView::mouseReleaseEvent(event);
    dragging_ = false;
    band_->hide();
    const QRectF plot = chart()->plotArea();
    const double x = std::clamp(event->position().x(), plot.left(), plot.right());
    // A click is no drag: it only takes the focus.
    if (std::abs(x - dragFrom_) >= 4) {
      owner_.dragged(chart()->mapToValue({std::min(dragFrom_, x), plot.center().y()}).x(),
                     chart()->mapToValue({std::max(dragFrom_, x), plot.center().y()}).x());
    }
    event->accept();
  }

 private:
  TimelineChart& owner_;
  QRubberBand* band_;
  double dragFrom_ = 0;
  bool dragging_ = false;
};

TimelineChart::TimelineChart(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* controls = new QHBoxLayout;
  auto* periodLabel = new QLabel(QStringLiteral("&Шаг:"), this);
  periodBox_ = new QComboBox(this);
  periodBox_->setObjectName(QStringLiteral("TimelinePeriod"));
  periodBox_->addItems({QStringLiteral("авто"), QStringLiteral("месяц"), QStringLiteral("день"),
                        QStringLiteral("час")});
  periodLabel->setBuddy(periodBox_);
  hint_ = new QLabel(this);
  hint_->setObjectName(QStringLiteral("TimelineHint"));
  controls->addWidget(periodLabel);
  controls->addWidget(periodBox_);
  controls->addWidget(hint_, 1);
  layout->addLayout(controls);

  chart_ = new QChart;
  chart_->setMargins(QMargins(4, 4, 4, 4));
  chart_->legend()->setAlignment(Qt::AlignRight);
  QFont small = chart_->legend()->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  chart_->legend()->setFont(small);
  timeAxis_ = new QCategoryAxis;
  timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  countAxis_ = new QValueAxis;
  countAxis_->setLabelFormat(QStringLiteral("%d"));
  chart_->addAxis(timeAxis_, Qt::AlignBottom);
  chart_->addAxis(countAxis_, Qt::AlignLeft);
  const auto band = [&](const QString& name, QColor colour) {
    auto* area = new QAreaSeries(new QLineSeries, new QLineSeries);
    area->upperSeries()->setParent(area);
    area->lowerSeries()->setParent(area);
    area->setName(name);
    area->setBrush(colour);
    area->setPen(Qt::NoPen);
    return area;
  };
  // Drawn first, under the counts.
  gapArea_ = band(QStringLiteral("возможен пропуск событий"), QColor(120, 120, 120, 70));
  importArea_ = band(QStringLiteral("день импорта копии"), QColor(30, 90, 220, 60));
  for (QAreaSeries* area : {gapArea_, importArea_}) {
    chart_->addSeries(area);
    area->attachAxis(timeAxis_);
    area->attachAxis(countAxis_);
  }

  view_ = new TimelineView(chart_, *this);
  view_->setObjectName(QStringLiteral("TimelineView"));
  view_->setMinimumHeight(220);
  view_->setToolTip(
      QStringLiteral("Колесо, + и −: масштаб; ← и →: сдвиг; Home: весь период; "
                     "протяжка мышью: отбор по датам"));
  layout->addWidget(view_, 1);

  connect(periodBox_, &QComboBox::currentIndexChanged, this,
          [this](int index) { setPeriod(static_cast<Period>(index)); });
  setData({});
}

TimelineChart::~TimelineChart() = default;

QWidget* TimelineChart::view() const { return view_; }

TimelineData PrepareTimeline(const std::vector<veks::SeriesPoint>& hours,
                             const std::vector<veks::MissingSpan>& gaps,
                             const std::vector<std::string>& imports) {
  TimelineData data;
  // Kinds by their counts, the most frequent first; beyond the drawn ones,
  // the rest together.
  std::map<std::string, std::int64_t> totals;
  for (const veks::SeriesPoint& point : hours) totals[point.kind] += point.count;
  std::vector<std::pair<std::int64_t, std::string>> byCount;
  for (const auto& [kind, total] : totals) byCount.emplace_back(-total, kind);
  std::sort(byCount.begin(), byCount.end());
  constexpr auto kDrawn = static_cast<std::size_t>(TimelineChart::kKindsDrawn);
  const std::size_t own = byCount.size() <= kDrawn ? byCount.size() : kDrawn - 1;
  std::map<std::string, int> kindIndex;
  for (std::size_t i = 0; i < byCount.size(); ++i) {
    if (i < own) {
      const std::string& kind = byCount[i].second;
      data.kinds << (kind.empty() ? QStringLiteral("без текста") : QString::fromStdString(kind));
    }
    kindIndex[byCount[i].second] = static_cast<int>(std::min(i, own));
  }
  if (own < byCount.size()) data.kinds << kOtherKinds;

  data.counts.reserve(hours.size());
  for (const veks::SeriesPoint& point : hours) {
    const std::int64_t at = DeviceSeconds(point.period);
    if (at < 0) continue;
    data.counts.push_back(
        {at / TimelineChart::kHour, MonthIndex(at), kindIndex[point.kind], point.count});
  }
  std::stable_sort(data.counts.begin(), data.counts.end(),
                   [](const auto& a, const auto& b) { return a.hour < b.hour; });
  for (const veks::MissingSpan& gap : gaps) {
    const std::int64_t from = DeviceSeconds(gap.from), to = DeviceSeconds(gap.to);
    if (from >= 0 && to > from) data.gaps.emplace_back(from, to);
  }
  for (const std::string& stamp : imports) {
    const std::int64_t at = DeviceSeconds(stamp);
    if (at >= 0) data.importDays.push_back(FloorTo(at, TimelineChart::kDay));
  }
  return data;
}

void TimelineChart::setData(TimelineData data, const QString& empty) {
  data_ = std::move(data);
  // The old kinds' areas go; the new ones come in the kinds' order.
  for (QAreaSeries* area : areas_) {
    chart_->removeSeries(area);
    delete area;
  }
  areas_.clear();
  for (int kind = 0; kind < data_.kinds.size(); ++kind) {
    auto* area = new QAreaSeries(new QLineSeries, new QLineSeries);
    area->upperSeries()->setParent(area);
    area->lowerSeries()->setParent(area);
    area->setName(data_.kinds[kind]);
    const QColor colour(kKindColours[static_cast<std::size_t>(kind) % kKindColours.size()]);
    area->setBrush(colour);
    area->setPen(QPen(colour.darker(130), 0));
    chart_->addSeries(area);
    area->attachAxis(timeAxis_);
    area->attachAxis(countAxis_);
    areas_.push_back(area);
  }

  if (data_.counts.empty()) {
    dataFrom_ = 0;
    dataTo_ = kDay;
    chart_->setTitle(empty);
  } else {
    chart_->setTitle({});
    dataFrom_ = data_.counts.front().hour * kHour;
    dataTo_ = (data_.counts.back().hour + 1) * kHour;
  }
  from_ = dataFrom_;
  to_ = dataTo_;
  showRange(dataFrom_, dataTo_);
}

std::int64_t TimelineChart::longestSpan(Period period) const {
  switch (period) {
    case Period::kHour:
      return 14 * kDay;
    case Period::kDay:
      return 3 * 366 * kDay;
    case Period::kMonth:
    case Period::kAuto:
      break;
  }
  return std::numeric_limits<std::int64_t>::max() / 4;
}

TimelineChart::Period TimelineChart::periodFor(std::int64_t span) const {
  if (span <= 4 * kDay) return Period::kHour;
  if (span <= 200 * kDay) return Period::kDay;
  return Period::kMonth;
}

void TimelineChart::showRange(std::int64_t from, std::int64_t to) {
  const std::int64_t whole = std::max(dataTo_ - dataFrom_, kMinSpan);
  std::int64_t span = std::clamp(to - from, kMinSpan, std::min(whole, longestSpan(asked_)));
  // Kept over the data where it fits, else centred on the data.
  const std::int64_t centre = from + (to - from) / 2;
  from = centre - span / 2;
  if (span >= dataTo_ - dataFrom_) {
    from = dataFrom_ - (span - (dataTo_ - dataFrom_)) / 2;
  } else {
    from = std::clamp(from, dataFrom_, dataTo_ - span);
  }
  from_ = from;
  to_ = from + span;
  redraw();
}

void TimelineChart::zoom(double factor, double anchor) {
  const double span = static_cast<double>(to_ - from_);
  const double at = static_cast<double>(from_) + anchor * span;
  const double newSpan = std::max<double>(kMinSpan, span * factor);
  showRange(static_cast<std::int64_t>(std::llround(at - anchor * newSpan)),
            static_cast<std::int64_t>(std::llround(at + (1 - anchor) * newSpan)));
}

void TimelineChart::pan(double fraction) {
  const auto shift = static_cast<std::int64_t>(std::llround(fraction * double(to_ - from_)));
  showRange(from_ + shift, to_ + shift);
}

void TimelineChart::showAll() { showRange(dataFrom_, dataTo_); }

void TimelineChart::setPeriod(Period period) {
  asked_ = period;
  if (periodBox_->currentIndex() != static_cast<int>(period)) {
    const QSignalBlocker blocker(periodBox_);
    periodBox_->setCurrentIndex(static_cast<int>(period));
  }
  showRange(from_, to_);
}

void TimelineChart::dragged(double fromX, double toX) {
  if (data_.counts.empty()) return;  // no dates to choose
  const auto from = static_cast<std::int64_t>(std::floor(fromX));
  // The drag's end second is the last one it covers.
  const auto to = static_cast<std::int64_t>(std::ceil(toX)) - 1;
  emit rangeChosen(DeviceDate(std::max(from, dataFrom_)), DeviceDate(std::min(to, dataTo_ - 1)));
}

void TimelineChart::redraw() {
  shown_ = asked_ == Period::kAuto ? periodFor(to_ - from_) : asked_;
  // The periods the range touches, [start, end) each.
  std::vector<std::int64_t> edges;
  int firstMonth = 0;
  if (shown_ == Period::kMonth) {
    firstMonth = MonthIndex(from_);
    for (int month = firstMonth; edges.empty() || edges.back() < to_; ++month) {
      edges.push_back(MonthStart(month));
    }
  } else {
    const std::int64_t step = shown_ == Period::kHour ? kHour : kDay;
    for (std::int64_t at = FloorTo(from_, step); edges.empty() || edges.back() < to_; at += step) {
      edges.push_back(at);
    }
  }
  const std::size_t bins = edges.size() - 1;
  const std::size_t kinds = data_.kinds.size();
  std::vector<std::int64_t> sums(bins * kinds);
  const std::int64_t firstHour = edges.front() / kHour;
  auto count = std::lower_bound(
      data_.counts.begin(), data_.counts.end(), firstHour,
      [](const TimelineData::Count& c, std::int64_t hour) { return c.hour < hour; });
  for (; count != data_.counts.end() && count->hour * kHour < edges.back(); ++count) {
    std::size_t bin = 0;
    switch (shown_) {
      case Period::kHour:
        bin = static_cast<std::size_t>(count->hour - firstHour);
        break;
      case Period::kDay:
        bin = static_cast<std::size_t>((count->hour - firstHour) / 24);
        break;
      default:
        bin = static_cast<std::size_t>(count->month - firstMonth);
        break;
    }
    sums[bin * kinds + static_cast<std::size_t>(count->kind)] += count->count;
  }

  // Each kind's area lies on those below it: a step per period.
  std::int64_t highest = 0;
  QList<QPointF> below;
  below.reserve(static_cast<qsizetype>(2 * bins));
  for (std::size_t bin = 0; bin < bins; ++bin) {
    below << QPointF(edges[bin], 0) << QPointF(edges[bin + 1], 0);
  }
  std::vector<std::int64_t> stacked(bins);
  for (std::size_t kind = 0; kind < kinds; ++kind) {
    QList<QPointF> above;
    above.reserve(below.size());
    for (std::size_t bin = 0; bin < bins; ++bin) {
      stacked[bin] += sums[bin * kinds + kind];
      highest = std::max(highest, stacked[bin]);
      const auto y = static_cast<double>(stacked[bin]);
      above << QPointF(edges[bin], y) << QPointF(edges[bin + 1], y);
    }
    areas_[kind]->lowerSeries()->replace(below);
    areas_[kind]->upperSeries()->replace(above);
    below = std::move(above);
  }
  countAxis_->setRange(0, std::max<double>(4, static_cast<double>(highest) * 1.05));
  countAxis_->applyNiceNumbers();
  const double top = countAxis_->max();

  // Bands from the floor to the top of the chart.
  const auto bands = [&](QAreaSeries* area, const auto& spans) {
    QList<QPointF> upper, lower;
    for (const auto& [from, to] : spans) {
      if (to <= from_ || from >= to_) continue;
      upper << QPointF(from, 0) << QPointF(from, top) << QPointF(to, top) << QPointF(to, 0);
      lower << QPointF(from, 0) << QPointF(to, 0);
    }
    area->upperSeries()->replace(upper);
    area->lowerSeries()->replace(lower);
    // A band is named in the legend only where it shows something.
    chart_->legend()->markers(area).value(0)->setVisible(!upper.isEmpty());
  };
  bands(gapArea_, data_.gaps);
  std::vector<std::pair<std::int64_t, std::int64_t>> importSpans;
  for (const std::int64_t day : data_.importDays) importSpans.emplace_back(day, day + kDay);
  bands(importArea_, importSpans);

  // Labels at round moments, as many as the width holds.
  for (const QString& label : timeAxis_->categoriesLabels()) timeAxis_->remove(label);
  timeAxis_->setStartValue(static_cast<double>(from_));
  const std::int64_t span = to_ - from_;
  static constexpr std::array<std::int64_t, 9> kSteps = {
      kHour, 2 * kHour, 3 * kHour, 6 * kHour, 12 * kHour, kDay, 2 * kDay, 7 * kDay, 14 * kDay};
  const auto label = [&](std::int64_t at, const QString& format) {
    const QDateTime moment(
        DeviceDate(at),
        QTime::fromMSecsSinceStartOfDay(static_cast<int>((at - FloorTo(at, kDay)) * 1000)),
        Qt::UTC);
    timeAxis_->append(moment.toString(format), static_cast<double>(at));
  };
  // A label takes about twelve average characters of room.
  const qreal width = chart_->plotArea().width() > 0 ? chart_->plotArea().width() : view_->width();
  const std::int64_t most = std::clamp<std::int64_t>(
      static_cast<std::int64_t>(width / (12 * view_->fontMetrics().averageCharWidth())), 2, 10);
  const auto fitting = std::find_if(kSteps.begin(), kSteps.end(),
                                    [&](std::int64_t step) { return span / step <= most; });
  if (fitting != kSteps.end()) {
    const std::int64_t step = *fitting;
    const QString format = step < kDay ? QStringLiteral("dd.MM hh:mm") : QStringLiteral("dd.MM.yy");
    for (std::int64_t at = FloorTo(from_, step) + step; at < to_; at += step) label(at, format);
  } else {
    static constexpr std::array<int, 7> kMonthSteps = {1, 2, 3, 6, 12, 24, 60};
    const int months = static_cast<int>(span / (30 * kDay));
    const int step = *std::find_if(kMonthSteps.begin(), kMonthSteps.end() - 1,
                                   [&](int s) { return months / s <= most; });
    const QString format = step >= 12 ? QStringLiteral("yyyy") : QStringLiteral("MM.yyyy");
    for (int month = (MonthIndex(from_) / step + 1) * step; MonthStart(month) < to_;
         month += step) {
      label(MonthStart(month), format);
    }
  }
  timeAxis_->setRange(static_cast<double>(from_), static_cast<double>(to_));

  static const QString kNames[] = {QString(), QStringLiteral("по месяцам"),
                                   QStringLiteral("по дням"), QStringLiteral("по часам")};
  hint_->setText(QStringLiteral("%1 — %2, событий %3")
                     .arg(DeviceDate(from_).toString(QStringLiteral("dd.MM.yyyy")),
                          DeviceDate(to_ - 1).toString(QStringLiteral("dd.MM.yyyy")),
                          kNames[static_cast<int>(shown_)]));
}
