// The main window: the event table, the status line, the browsing group, the
// print group with the report box, the toolbar and the menu. Its handlers set
// the view state and call the core; the core does the work.
#pragma once

#include <QMainWindow>
#include <memory>

#include "archive/event_table.h"
#include "archive/loader_host.h"
#include "archive/view_state.h"

namespace Ui {
class TForm_main;
}
class ControlFocus;
class EventTableModel;
class UiServices;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;
struct OwnFiles;
struct ReportPageStyle;

class TForm_main : public QMainWindow, private veks::LoaderHost {
  Q_OBJECT

 public:
  TForm_main(veks::ViewState& state, UiServices& services, QWidget* parent = nullptr);
  ~TForm_main() override;

  // Fixes the outer size (frame included) at 882 x 692 and centres the window
  // on its screen; call once the window is shown and its frame is known.
  void applyOuterGeometry();

  [[nodiscard]] const veks::EventTable& eventTable() const { return table_; }

 private slots:
  void FormCreate();
  void OpenFileClick();
  void ToolButton6Click();
  void Button1Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void Button6Click();
  void Button8Click();
  void Button9Click();
  void DateTimePicker2Change();
  void EditBlocExit(QLineEdit* field);
  void But1Click();
  void But3Click();
  void But5Click();
  void SaveReportClick();

 private:
  // veks::LoaderHost: what the block loader shows through the window.
  void showMessage(const std::string& text) override;
  void setNewestStamp(const std::string& text) override;
  void setStatusLine(const std::string& text) override;
  [[nodiscard]] std::string statusLine() const override;
  void enableStepButtons() override;
  void tableRewritten() override;
  void flushTableRewrite();
  void showStatusLine();

  bool eventFilter(QObject* watched, QEvent* event) override;
  // The number box's key filter; returns true when the key is consumed.
  bool EditBlocKeyDown(QLineEdit* field, int virtualKey);
  void RejectInput(QLineEdit* field);
  QWidget* nextControl(QWidget* field) const;
  void controlExited(QWidget* control);
  void finishDateChange();
  void copyGridSelection() const;
  void setupReportBox(QPlainTextEdit* box);
  // Prints the box's report as its pages show it; says so when the printer
  // could not be used.
  void printBox(const QPlainTextEdit* box, QPrinter& printer);
  [[nodiscard]] static ReportPageStyle printStyle(const QPlainTextEdit* box);
  // The files no save or print to a file may replace.
  [[nodiscard]] OwnFiles ownFiles() const;

  // Runs a handler; an error it raises goes to the error display, and what
  // the handler did before the error stays done.
  template <typename Handler>
  void guarded(Handler&& handler);

  std::unique_ptr<Ui::TForm_main> ui_;
  veks::ViewState& state_;
  UiServices& services_;
  veks::EventTable table_;
  EventTableModel* model_ = nullptr;
  ControlFocus* focus_ = nullptr;
  QWidget* calendar_ = nullptr;  // the date picker's drop-down calendar
  bool datePending_ = false;     // a date moved in the open calendar, not yet searched
  bool batchingLoads_ = false;
  bool tableRewritePending_ = false;
  // The status line; the label shows it (at once, or after a batch of loads).
  std::string status_;
  bool statusPending_ = false;
};
