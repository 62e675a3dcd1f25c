// The overview's tables: the statistics of the filters (the busiest inputs,
// chattering inputs, valve operations per МУК, flood slots, kinds of event),
// and each device's next due copy. Activating a row (Enter, a double click)
// asks the journal's table to show what the row counts.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QTabWidget>
#include <QTableWidget>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal_stats.h"

// What a row asks of the journal table's filters; what is not set stays.
struct TableChoice {
  std::optional<int> input;     // the input number, 0 for any input
  std::optional<QString> kind;  // the kind of event, empty for any
  std::optional<QDate> day;     // the dates: this day alone
};

class StatsTables : public QTabWidget {
  Q_OBJECT

 public:
  explicit StatsTables(QWidget* parent = nullptr);
  // The rows of one device (ComputeStats); none: the tables are empty.
  void setStats(const std::vector<veks::StatRow>& rows);

 signals:
  void chosen(const TableChoice& choice);

 private:
  QTableWidget* addTable(const char* name, const QString& title, const QStringList& columns);
  QTableWidget* inputs_;
  QTableWidget* chatter_;
  QTableWidget* valves_;
  QTableWidget* floods_;
  QTableWidget* kinds_;
};

// How near a device's due moment is: past it, within kSoonDays of `now`, or
// further off (or not known).
enum class DueState { kFar, kSoon, kPast };
inline constexpr int kSoonDays = 7;
// `due` is "YYYY-MM-DDThh:mm" on the device's clock, read as `now`'s own
// clock: the device keeps no zone.
[[nodiscard]] DueState DueStateOf(const std::string& due, const QDateTime& now);

class DueTable : public QTableWidget {
  Q_OBJECT

 public:
  explicit DueTable(QWidget* parent = nullptr);
  // The estimates by device, each past or near due moment marked by its
  // colour and its words both.
  void setDue(const std::vector<veks::DueEstimate>& due, const QDateTime& now);

 signals:
  void deviceChosen(const QString& device);
};

// The input number of an input text "МУК q вх i": 1-6 for МУК 1, 7-12 for
// МУК 2, ...; nothing for another text.
[[nodiscard]] std::optional<int> InputNumber(const QString& input);
