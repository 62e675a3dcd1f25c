// What the journal window does with notes: the menu "Примечания" and the
// table's context menu (add, edit and delete a note, add an operator entry),
// the pane beside the table with the chosen row's notes, and where the
// table's model reads its marks and entries.
//
// The window reads its journal; each note is written through a journal
// opened for writing just for it, in one transaction, after which the table
// and the pane read the journal again. A journal that cannot be written says
// why and is left as it was.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

#include "journal/journal.h"
#include "ui/journal_history_model.h"

class QAction;
class QCheckBox;
class QDockWidget;
class QMainWindow;
class QMenu;
class QTableView;
class NotesPane;
class UiServices;

class NoteActions : public QObject {
  Q_OBJECT

 public:
  // What the window tells of itself: its journal file, the journal it reads
  // (none while there is none), and the device shown.
  struct Window {
    std::function<std::optional<QString>()> path;
    std::function<veks::Journal*()> journal;
    std::function<std::optional<std::string>()> device;
  };
  NoteActions(QMainWindow* window, UiServices& services, JournalHistoryModel* model,
              QTableView* table, Window context);

  // The menu "Примечания", its actions with their keys.
  [[nodiscard]] QMenu* menu() const { return menu_; }
  [[nodiscard]] NotesPane* pane() const { return pane_; }
  // The filter's check box "только с примечаниями", for the window's filters.
  [[nodiscard]] QCheckBox* onlyNotedCheck() const { return onlyNoted_; }
  // Where the model reads notes for the history shown under `filter`: marks
  // of events, and the entries whose moment passes the filter's dates (none
  // under an input or event filter, as in the journal report).
  [[nodiscard]] HistoryNotes sources(const veks::EventFilter& filter) const;
  void setEnabled(bool enabled);

  // Shows the notes of the table's current row in the pane.
  void showCurrent();

  void addNote();
  void editNote();
  void deleteNote();
  void addEntry();

 signals:
  // A note was written: what was read before it (a report) is out of date.
  void written();

 private:
  // The name that signs notes: the one kept in the settings, else asked once
  // (the login name offered) and kept. None when the operator cancelled.
  std::optional<std::string> author();
  // The kinds offered: the usual ones, then those the operator added.
  [[nodiscard]] QStringList kinds() const;
  void keepKind(const QString& kind);
  // Writes through a journal opened for writing meanwhile; false, said so,
  // when it could not. The table and the pane read the journal again.
  bool write(const std::function<veks::JournalResult<std::int64_t>(veks::Journal&)>& work);
  // The newest version of the note chosen in the pane, or of the current
  // row's only note or entry; none (said so) when there is none.
  std::optional<veks::NoteVersion> chosenNote();
  void say(const QString& text);

  QMainWindow* window_;
  UiServices& services_;
  JournalHistoryModel* model_;
  QTableView* table_;
  Window context_;
  NotesPane* pane_ = nullptr;
  QDockWidget* dock_ = nullptr;
  QMenu* menu_ = nullptr;
  QCheckBox* onlyNoted_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  QAction* add_ = nullptr;
  QAction* edit_ = nullptr;
  QAction* delete_ = nullptr;
  QAction* entry_ = nullptr;
};

// The system's login name: $LOGNAME, else $USER, else the password
// database's; empty when none gives one.
[[nodiscard]] QString LoginName();
