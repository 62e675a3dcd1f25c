#include "ui/report_box.h"

#include <QPalette>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextOption>

#include "ui/report_tab_stops.h"

void SetupReportBox(QPlainTextEdit* box) {
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  box->setUndoRedoEnabled(false);
  box->setReadOnly(true);
  box->setTabChangesFocus(true);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QPalette palette = box->palette();
  for (const auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  box->setPalette(palette);
  QTextOption option = box->document()->defaultTextOption();
  option.setTabs(ReportTabStops(box->font()));
  box->document()->setDefaultTextOption(option);
}

ReportBoxSink::ReportBoxSink(QPlainTextEdit* box)
    : box_(box), cursor_(box->document()), empty_(box->document()->isEmpty()) {
  cursor_.movePosition(QTextCursor::End);
  cursor_.beginEditBlock();
}

ReportBoxSink::~ReportBoxSink() {
  cursor_.endEditBlock();
  if (changed_) box_->moveCursor(QTextCursor::Start);
}

void ReportBoxSink::clear() {
  cursor_.endEditBlock();
  box_->document()->clear();
  cursor_ = QTextCursor(box_->document());
  cursor_.beginEditBlock();
  empty_ = true;
  changed_ = true;
}

// The cursor stays at the end of the document: moving it would lay the block
// out, which is most of the cost of a long report.
void ReportBoxSink::appendLine(const std::string& text) {
  if (!empty_) cursor_.insertBlock();
  cursor_.insertText(QString::fromStdString(text));
  empty_ = false;
  changed_ = true;
}
