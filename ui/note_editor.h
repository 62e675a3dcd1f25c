// The dialog that takes a note's kind and text, and an operator entry's
// moment: the kind chosen from the list or typed, the text over several lines.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <optional>

class QComboBox;
class QDateTimeEdit;
class QDialogButtonBox;
class QPlainTextEdit;

// What the dialog offers: its caption, the kinds of the list, the kind and
// text it starts with, and for an operator entry the moment it starts with.
struct NoteQuestion {
  QString title;
  QStringList kinds;
  QString kind;
  QString text;
  std::optional<QDateTime> moment;
};

// What the operator gave: the kind and the text, and the entry's moment
// (seconds; on the device's clock, no zone).
struct NoteAnswer {
  QString kind;
  QString text;
  std::optional<QDateTime> moment;
};

class NoteEditor : public QDialog {
  Q_OBJECT

 public:
  explicit NoteEditor(const NoteQuestion& question, QWidget* parent = nullptr);
  [[nodiscard]] NoteAnswer answer() const;

 private:
  // OK only while the kind is given and the text is not blank.
  void updateOk();

  QComboBox* kind_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  QDateTimeEdit* moment_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};
