// Shows one device's history from the journal in a table view, newest first,
// with a row "--- возможен пропуск событий ---" where one segment ends and an
// older one begins. However long the history, it reads only the pages of rows
// the view asks for and keeps a few of them; it never loads the whole history.
// When the journal has moved on since the rows were counted (another import),
// it counts them again in the new state rather than show rows of two states.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

class QItemSelectionModel;
class QTimer;

namespace veks {
class HistoryPages;
}

class JournalHistoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kStampColumn, kEventColumn, kInputColumn, kSegmentColumn, kColumnCount };
  static constexpr int kPageRows = 256;
  static constexpr std::size_t kCachedPages = 8;

  explicit JournalHistoryModel(QObject* parent = nullptr);
  ~JournalHistoryModel() override;

  // Shows `view`, or nothing. The view's journal must outlive it here, until
  // the next setView.
  void setView(std::unique_ptr<veks::HistoryPages> view);
  [[nodiscard]] const veks::HistoryPages* view() const { return view_.get(); }
  // The selection whose current row keeps its place when the rows are
  // counted again: the same distance from the oldest row, where imports
  // seldom add, so the operator stays on the event he was reading.
  void keepPlaceOf(QItemSelectionModel* selection) { place_ = selection; }

  // The rows that stand between two segments.
  [[nodiscard]] std::vector<int> gapRows() const;
  // How many pages were read from the journal since the model was made.
  [[nodiscard]] std::int64_t pagesRead() const { return pagesRead_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // A page could not be read (the journal's message). Emitted once per view,
  // from the event loop: the table shows the rows as empty meanwhile.
  void readFailed(const QString& message);
  // The rows were counted again in the journal's new state (the model was
  // reset; the current row, when there was one, stands at its place).
  void reloaded();

 private:
  struct Row {
    bool gap = false;
    QString texts[kColumnCount];
  };
  using Page = std::vector<Row>;
  const Row* row(int index) const;
  void reloadView();

  std::unique_ptr<veks::HistoryPages> view_;
  // Recently read pages, the most recent first.
  mutable std::list<std::pair<std::int64_t, Page>> pages_;
  mutable std::int64_t pagesRead_ = 0;
  mutable bool failed_ = false;
  mutable QString failure_;
  // Reports a failed read from the event loop: a message box from inside a
  // paint would nest an event loop there.
  QTimer* reportFailure_ = nullptr;
  // Counts the rows again from the event loop, for the same reason.
  QTimer* reload_ = nullptr;
  mutable bool changed_ = false;
  QItemSelectionModel* place_ = nullptr;
};
