// A read-only report box, in the main window and in the journal window: a
// plain text box with the report's tab stops, and a report sink that writes
// into it.
#pragma once

#include <QTextCursor>
#include <string>

#include "report/report_text.h"

class QPlainTextEdit;

// No wrapping, no undo, text selectable with the mouse and the keyboard and
// shown selected while another control has the focus, tab stops that line
// the report's columns up in the box's font.
void SetupReportBox(QPlainTextEdit* box);

// Writes report lines into a box through one text cursor inside one edit
// block, which lays the document out once instead of once a line; a line
// feed inside a line becomes a block break of its own. A new report is read
// from its title once the sink is gone; a box the sink left untouched keeps
// its selection.
class ReportBoxSink : public veks::ReportSink {
 public:
  explicit ReportBoxSink(QPlainTextEdit* box);
  ~ReportBoxSink() override;
  ReportBoxSink(const ReportBoxSink&) = delete;
  ReportBoxSink& operator=(const ReportBoxSink&) = delete;

  void clear() override;
  void appendLine(const std::string& text) override;

 private:
  QPlainTextEdit* box_;
  QTextCursor cursor_;
  bool empty_;
  bool changed_ = false;
};
