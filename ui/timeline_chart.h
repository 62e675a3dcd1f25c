// The overview's timeline: a device's stamped events per hour, day or month,
// stacked by kind, over a range the operator zooms from years to hours with
// the wheel or the keys (+ and - zoom, the arrows pan, Home shows it all).
// Bands mark where events may be missing between two segments and the days
// copies were imported; dragging over the chart chooses a range of dates.
//
// Times are the device's clock, which has no zone: a moment is kept as
// seconds from 1970-01-01T00:00:00 of that clock, never as a local time.
#pragma once

#include <QDate>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "journal/journal_overview.h"

class QAreaSeries;
class QCategoryAxis;
class QChart;
class QComboBox;
class QLabel;
class QRubberBand;
class QValueAxis;
class TimelineView;

// A device's counts made ready for the timeline, a work for any thread: the
// texts read and the kinds ordered once, not at every zoom.
struct TimelineData {
  struct Count {
    std::int64_t hour;  // hours since the epoch of the device's clock
    int month;          // months since 1970-01
    int kind;           // index into kinds
    std::int64_t count;
  };
  std::vector<Count> counts;  // by hour
  QStringList kinds;          // drawn order, the most frequent (bottom) first
  std::vector<std::pair<std::int64_t, std::int64_t>> gaps;  // [from, to) in seconds
  std::vector<std::int64_t> importDays;                     // each day's first second
};

// The timeline's data of hourly counts (SeriesPoint periods "YYYY-MM-DDThh"),
// gaps and imports ("YYYY-MM-DDT..."): kinds beyond the most frequent ones
// the chart draws are counted together as one.
[[nodiscard]] TimelineData PrepareTimeline(const std::vector<veks::SeriesPoint>& hours,
                                           const std::vector<veks::MissingSpan>& gaps,
                                           const std::vector<std::string>& imports);

class TimelineChart : public QWidget {
  Q_OBJECT

 public:
  enum class Period { kAuto, kMonth, kDay, kHour };

  explicit TimelineChart(QWidget* parent = nullptr);
  ~TimelineChart() override;

  // Shows a device's counts (PrepareTimeline) over the whole of their
  // range. No counts: the chart says `empty`.
  void setData(TimelineData data, const QString& empty = {});

  // The range shown, [from, to) in seconds of the device's clock.
  [[nodiscard]] std::int64_t shownFrom() const { return from_; }
  [[nodiscard]] std::int64_t shownTo() const { return to_; }
  // Shows [from, to), kept within the data's range and at least kMinSpan long.
  void showRange(std::int64_t from, std::int64_t to);
  // Zooms by `factor` (below 1: in) keeping the moment at `anchor` (0 the
  // left edge, 1 the right) where it is.
  void zoom(double factor, double anchor = 0.5);
  // Moves the range by `fraction` of its width (negative: back in time).
  void pan(double fraction);
  void showAll();

  // The period asked for (kAuto: chosen from the range) and the one shown.
  void setPeriod(Period period);
  [[nodiscard]] Period shownPeriod() const { return shown_; }

  [[nodiscard]] QChart* chart() const { return chart_; }
  // The kinds' areas, bottom first: each one's upper line holds, for every
  // period shown, two points at its start and its end with the count of its
  // kind and those below it.
  [[nodiscard]] const std::vector<QAreaSeries*>& kindAreas() const { return areas_; }
  [[nodiscard]] QWidget* view() const;

  static constexpr std::int64_t kHour = 3600;
  static constexpr std::int64_t kDay = 86'400;
  static constexpr std::int64_t kMinSpan = 6 * kHour;
  // Kinds beyond the most frequent are drawn together as one.
  static constexpr int kKindsDrawn = 8;

 signals:
  // The operator dragged over the dates from `from` to `to` (in order).
  void rangeChosen(QDate from, QDate to);

 private:
  friend class TimelineView;
  void redraw();
  [[nodiscard]] Period periodFor(std::int64_t span) const;
  [[nodiscard]] std::int64_t longestSpan(Period period) const;
  void dragged(double fromX, double toX);

  TimelineData data_;
  std::int64_t dataFrom_ = 0, dataTo_ = kDay;
  std::int64_t from_ = 0, to_ = kDay;
  Period asked_ = Period::kAuto;
  Period shown_ = Period::kDay;

  QComboBox* periodBox_ = nullptr;
  QLabel* hint_ = nullptr;
  TimelineView* view_ = nullptr;
  QChart* chart_ = nullptr;
  QCategoryAxis* timeAxis_ = nullptr;
  QValueAxis* countAxis_ = nullptr;
  std::vector<QAreaSeries*> areas_;
  QAreaSeries* gapArea_ = nullptr;
  QAreaSeries* importArea_ = nullptr;
};

// Seconds of "YYYY-MM-DDThh:mm:ss" (or a shorter prefix, the rest taken as
// zero) on the device's clock; -1 for a text that is no such moment.
[[nodiscard]] std::int64_t DeviceSeconds(std::string_view stamp);
// The day of a moment of the device's clock.
[[nodiscard]] QDate DeviceDate(std::int64_t seconds);
