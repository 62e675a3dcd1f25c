// The journal window: one device's history from the event journal, newest
// first, filtered by a date range, an input and a kind of event; the journal
// report of what the filters show, printed or not; and the export of the same
// events to CSV or JSON lines, of that device or, when the operator asks, of
// every device. It reads the journal; its menu also renames and joins
// devices, checks the journal and makes a backup copy of it.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_report.h"
#include "ui/journal_location.h"
#include "ui/report_file.h"

namespace Ui {
class JournalWindow;
}
class JournalHistoryModel;
class NoteActions;
class OverviewPanel;
class QDockWidget;
class SpooledReport;
class UiServices;

// What the window's device and filters choose, said twice: for the journal
// (ISO dates) and for the report's title (dates as the operator reads them).
struct JournalSelection {
  veks::EventFilter filter;
  veks::JournalReportTitle title;
};

class JournalWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit JournalWindow(UiServices& services, QWidget* parent = nullptr);
  ~JournalWindow() override;

  // Opens the journal afresh and shows what it holds now; the title and the
  // line above the filters say which journal it is. The device
  // shown stays when the journal still has it; else `device`, when the
  // journal has it; else the first. The filters stay as they were.
  void reload(const std::optional<std::string>& device = std::nullopt);
  // Puts an action of the program (adding an archive) first in the menu.
  void addJournalAction(QAction* action);
  // Where the archive chosen in the main window is, which no save or export
  // of this window may replace (an empty name when none is chosen).
  void setChosenArchive(std::function<QString()> archive) { chosenArchive_ = std::move(archive); }

  [[nodiscard]] JournalHistoryModel* historyModel() const { return model_; }
  [[nodiscard]] OverviewPanel* overview() const { return overview_; }
  // Whether the window took the place and size it had when last closed.
  [[nodiscard]] bool placeRestored() const { return placeRestored_; }

  // The table shows at least this many rows when the window opens.
  static constexpr int kRowsShown = 15;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The set-up steps of the constructor.
  void setUpFilters();
  void setUpTable();
  // The notes' menu, pane and filter (note_actions.h).
  void setUpNotes();
  void connectFilters();
  void connectActions();
  void setUpKeys();
  void restoreSettings();

  bool eventFilter(QObject* watched, QEvent* event) override;
  void deviceChosen();
  void showHistory();
  // The gap rows and the counts of the history shown.
  void showCounts();
  void showEmpty(const QString& text);
  void setFiltersEnabled(bool enabled);
  // Makes the report of what the filters show, off the GUI thread, and
  // shows its beginning in the report box; false when it could not be made
  // (said so) or the operator cancelled.
  bool composeReport();
  void clearReport();
  // Printing and saving give the whole report made last, off the GUI thread.
  void printReport();
  void saveReport();
  // Writes the report to `file`, whole or not at all; false when it was not
  // (a failure said so).
  bool writeReport(const QString& file, ReportFileFormat format, const ReportPageStyle& style,
                   const PdfPages& pages);
  [[nodiscard]] ReportPageStyle printStyle() const;
  // Puts the summary page before the report when the operator chose it; run
  // in the work's thread.
  [[nodiscard]] std::function<void(ReportPageStyle&)> summaryStep() const;
  void exportEvents();
  void openJournalFile();
  void useDefaultJournal();
  void showNewest();
  void showOldest();
  // Gives the device shown a new name, or joins it with another device (after
  // the operator confirms), through a journal opened for writing meanwhile.
  void renameDevice();
  // Looks up whether the device shown has an import to undo, and offers it.
  void showUndoableImport();
  // Undoes the last import into the device shown, once the operator confirms.
  void undoLastImport();
  // The journal's check, off the GUI thread: "журнал исправен" or the problems.
  void checkJournal();
  // A copy of the journal into a new file, off the GUI thread.
  void backupJournal();
  // The device shown and the filters: what the table shows.
  [[nodiscard]] JournalSelection selection() const;
  // What the report, its printing and saving, and the export take: the
  // table's selection, of every device when "Все устройства" is checked.
  [[nodiscard]] JournalSelection outputSelection() const;
  [[nodiscard]] OwnFiles ownFiles() const;
  // "JOURNAL: MESSAGE": a message of the journal, saying which one it is.
  [[nodiscard]] QString journalText(const QString& message) const;
  // When `message` says the connection to the journal's server was lost:
  // says so, offers to connect again and, when the operator agrees, opens
  // the journal anew showing the same device, filters and rows. False for
  // any other message, which the caller then reports.
  bool offerReconnect(const QString& message);
  // "PREFIX-DEVICE-YYYY-MM-DD.SUFFIX": the device shown ("все-устройства"
  // when every device is asked for) and the last day the filters show, the
  // "по" date or the last day of the devices.
  [[nodiscard]] QString proposedName(const QString& prefix, const QString& suffix) const;

  // The overview beside the table (journal_window_overview.cpp): the dock,
  // its menu item (F9), and what its rows and drags do to the filters.
  void setUpOverview();
  void makeRoomForOverview();
  // Sets both dates of the filter and shows the history anew, once.
  void setDateFilter(QDate from, QDate to);
  // Reads the overview anew when it is shown and its device or dates changed.
  void refreshOverview();
  void overviewNothing(const QString& text);

  std::unique_ptr<Ui::JournalWindow> ui_;
  UiServices& services_;
  std::optional<QString> path_;
  // The model's view reads through the journal: the model lets go of its
  // view before the journal closes.
  std::unique_ptr<veks::Journal> journal_;
  // The report whose beginning the box shows; none while the box is empty.
  // Printing and saving hold it too, so that the window may drop it meanwhile
  // (a reload from the event loop) while the work reads on.
  std::shared_ptr<SpooledReport> report_;
  std::vector<veks::DeviceSummary> devices_;
  // The device shown's last import, while it can be undone.
  std::optional<veks::UndoableImport> undoable_;
  JournalHistoryModel* model_ = nullptr;
  NoteActions* notes_ = nullptr;
  std::function<QString()> chosenArchive_;
  bool placeRestored_ = false;
  QAction* summaryChoice_ = nullptr;  // "Сводка на первой странице" of the printed report
  bool shownBefore_ = false;
  OverviewPanel* overview_ = nullptr;
  QDockWidget* overviewDock_ = nullptr;
  QAction* overviewAction_ = nullptr;
  std::optional<veks::StatsFilter> overviewFor_;  // what the overview was asked for last
  std::unique_ptr<QObject> overviewLinks_;        // the context of the overview's connections
};

// Device names in the order a person reads them (Russian collation, numbers
// by value): "Арка" before "Ёлка", "Насос 2" before "Насос 10".
[[nodiscard]] bool ReadsBefore(const QString& a, const QString& b);

// Where a window whose frame is `frame` big goes beside the window at
// `occupied` on `screen` (all outer, frame included): to its right, else to
// its left, top edges level; where neither side has room, against the
// screen's edge on the roomier side, overlapping it as little as the screen
// allows. The frame's top left corner.
[[nodiscard]] QPoint PlaceBeside(const QRect& occupied, const QSize& frame, const QRect& screen);
