// The journal window's overview of the device shown: the timeline, the
// statistics of the device and dates the filters choose, and when each
// device's next copy is due. What it shows is read off the GUI thread; the
// panel says when it is being read and when it could not be.
#pragma once

#include <QDate>
#include <QWidget>
#include <memory>

#include "journal/journal_stats.h"
#include "ui/overview_loader.h"
#include "ui/stats_tables.h"

class QLabel;
class TimelineChart;

class OverviewPanel : public QWidget {
  Q_OBJECT

 public:
  explicit OverviewPanel(QWidget* parent = nullptr);

  // Reads the overview of `filter` (its device named) from the journal at
  // `path` anew; a read still under way is dropped.
  void showOverview(const QString& path, const veks::StatsFilter& filter);
  // Shows nothing but `text`.
  void showNothing(const QString& text);
  // Whether an overview asked for is still being read.
  [[nodiscard]] bool loading() const { return loader_->busy(); }

  [[nodiscard]] TimelineChart* timeline() const { return timeline_; }
  [[nodiscard]] StatsTables* tables() const { return tables_; }
  [[nodiscard]] DueTable* dueTable() const { return due_; }

 signals:
  void rangeChosen(QDate from, QDate to);
  void chosen(const TableChoice& choice);
  void deviceChosen(const QString& device);
  // An overview asked for is shown.
  void shown();

 private:
  void loaded(const std::shared_ptr<const OverviewLoader::Result>& result);

  OverviewLoader* loader_;
  QLabel* state_;
  TimelineChart* timeline_;
  StatsTables* tables_;
  DueTable* due_;
};
