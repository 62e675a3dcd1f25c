// The journal window: one device's history from the event journal, newest
// first, filtered by a date range, an input and a kind of event; the journal
// report of what the filters show, printed or not; and the export of the same
// events to CSV or JSON lines. It only reads the journal.
#pragma once

#include <QMainWindow>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_report.h"

namespace Ui {
class JournalWindow;
}
class JournalHistoryModel;
class UiServices;

class JournalWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit JournalWindow(UiServices& services, QWidget* parent = nullptr);
  ~JournalWindow() override;

  // Opens the journal file afresh and shows what it holds now. The device
  // shown stays when the journal still has it; else `device`, when the
  // journal has it; else the first. The filters stay as they were.
  void reload(const std::optional<std::string>& device = std::nullopt);
  // Puts an action of the program (adding an archive) first in the menu.
  void addJournalAction(QAction* action);

  [[nodiscard]] JournalHistoryModel* historyModel() const { return model_; }

 private:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void deviceChosen();
  void showHistory();
  // The gap rows and the counts of the history shown.
  void showCounts();
  void showEmpty(const QString& text);
  void setFiltersEnabled(bool enabled);
  void composeReport();
  void printReport();
  void exportEvents();
  void openJournalFile();
  void useDefaultJournal();
  void showNewest();
  void showOldest();
  [[nodiscard]] veks::EventFilter filter() const;
  [[nodiscard]] veks::JournalReportTitle reportTitle() const;
  [[nodiscard]] bool isJournalFile(const QString& path) const;

  std::unique_ptr<Ui::JournalWindow> ui_;
  UiServices& services_;
  std::optional<QString> path_;
  // The model's view reads through the journal: the model lets go of its
  // view before the journal closes.
  std::unique_ptr<veks::Journal> journal_;
  std::vector<veks::DeviceSummary> devices_;
  JournalHistoryModel* model_ = nullptr;
};

// The journal file the program works with: the one last opened in the
// journal window (kept in the settings), else the default one. Nothing when
// neither is known.
[[nodiscard]] std::optional<QString> JournalFilePath();
// Remembers `path` as the journal file; an empty path returns to the default.
void SetJournalFilePath(const QString& path);
// Why there is no journal file to work with.
[[nodiscard]] QString NoJournalPathText();
