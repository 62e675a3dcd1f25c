// Shows one device's history from the journal in a table view, newest first,
// with a row "--- возможен пропуск событий ---" where one segment ends and an
// older one begins. However long the history, it reads only the pages of rows
// the view asks for and keeps a few of them; it never loads the whole history.
// When the journal has moved on since the rows were counted (another import),
// it counts them again in the new state rather than show rows of two states.
// Events that carry notes are marked; operator entries stand as rows of their
// own at their places among the events.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal_notes.h"
#include "journal/journal_types.h"

class QItemSelectionModel;
class QTimer;

namespace veks {
class HistoryPages;
}

// Where the model reads notes: the notes (newest versions, not deleted) of
// the events at some places, and the operator entries that the history shown
// takes, in the order of the device's history (Journal::notes). Either may
// be left out: no marks, no entries.
struct HistoryNotes {
  std::function<veks::JournalResult<std::vector<veks::NoteVersion>>(
      std::span<const veks::EventPlace>)>
      notesAt;
  std::function<veks::JournalResult<std::vector<veks::NoteVersion>>()> entries;
  // What `entries` reads (the device and dates): a history of the same key
  // counted in the same state of the journal takes the entries read last.
  std::string entriesKey;
};

class JournalHistoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kStampColumn, kEventColumn, kInputColumn, kSegmentColumn, kColumnCount };
  static constexpr int kPageRows = 256;
  static constexpr std::size_t kCachedPages = 8;
  // The number of notes of a row's event (an int); an operator entry's row: -1.
  static constexpr int kNotesRole = Qt::UserRole + 1;

  explicit JournalHistoryModel(QObject* parent = nullptr);
  ~JournalHistoryModel() override;

  // Shows `view`, or nothing. The view's journal must outlive it here, until
  // the next setView.
  void setView(std::unique_ptr<veks::HistoryPages> view, HistoryNotes notes = {});
  [[nodiscard]] const veks::HistoryPages* view() const { return view_.get(); }
  // The selection whose current row keeps its place when the rows are
  // counted again: the same distance from the oldest row, where imports
  // seldom add, so the operator stays on the event he was reading.
  void keepPlaceOf(QItemSelectionModel* selection) { place_ = selection; }

  // Forgets the entries read last (the journal was opened anew).
  void forgetEntries() { cached_.reset(); }
  // Counts the rows and reads the entries again (after a note was written),
  // the current row kept as when the journal moves on.
  void refresh();

  // The rows that stand between two segments.
  [[nodiscard]] std::vector<int> gapRows() const;
  // The event a row shows (where it stands and its bytes); nothing for a gap
  // row, an entry's row or a row that could not be read.
  [[nodiscard]] std::optional<std::pair<veks::EventPlace, veks::EventRecord>> eventAt(
      int row) const;
  // The operator entry a row shows, or none.
  [[nodiscard]] const veks::NoteVersion* entryAt(int row) const;
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
    int notes = 0;
    veks::EventPlace place;
    veks::EventRecord raw{};
    QString texts[kColumnCount];
  };
  using Page = std::vector<Row>;
  // The row of the history at `index` among the history's own rows.
  const Row* row(std::int64_t index) const;
  // What a row of the table is: an entry (its index), or a row of the history.
  struct At {
    bool entry = false;
    std::int64_t index = 0;
  };
  [[nodiscard]] At at(int row) const;
  QVariant entryData(const veks::NoteVersion& entry, const QModelIndex& index, int role) const;
  // Reads the entries and their places; false when that failed (said so).
  bool readEntries();
  // Places `entries` (in the device's order) among the rows.
  bool placeEntries(const std::vector<veks::NoteVersion>& entries);
  void fail(const QString& message) const;
  void reloadView();

  std::unique_ptr<veks::HistoryPages> view_;
  HistoryNotes notes_;
  // The entries shown, newest first, and the table row of each, ascending.
  std::vector<veks::NoteVersion> entries_;
  std::vector<std::int64_t> entryRows_;
  // The entries read last, with what they were read for: placing a
  // device's entries takes a pass over its events by time.
  struct CachedEntries {
    std::string key;
    std::pair<std::int64_t, std::int64_t> state;
    std::vector<veks::NoteVersion> entries;
  };
  std::optional<CachedEntries> cached_;
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

// An operator entry's moment as the table shows dates and times: "DD.MM.YY hh:mm:ss".
[[nodiscard]] QString EntryMomentText(const veks::NoteVersion& entry);
