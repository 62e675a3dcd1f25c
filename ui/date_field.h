// The journal window's date fields: a date picker whose typed dates are
// taken as typed, or refused visibly, never altered.
#pragma once

#include <QDateEdit>

class QValidator;
#include <array>
#include <optional>

// Opens the picker's calendar, as a press on its arrow does: the picker opens
// it for that press only.
void OpenCalendarPopup(QDateEdit* picker);

// A QDateEdit ("dd.MM.yyyy") that takes typing as text: typed digits fill
// the day, month and year as typed, none is fitted to the month (31 stays 31
// while the field shows April), and the field never moves on by itself
// before a full section is followed by another digit, so that Tab or "."
// after "20" goes to the month. Typing starts in the selected section (Tab
// selects the day), in the section under the cursor, or, with the cursor at
// either end of the text, in the day. A year of four digits, or of two
// (taken as 20YY), completes a date; a complete date of the field's range
// is taken at once, and whatever is typed is taken or refused when typing
// ends (Enter, leaving the field, a key that is no typing); Escape drops it.
// While the text is no date it is shown in red. Alt+Down opens the calendar.
class DateField : public QDateEdit {
  Q_OBJECT

 public:
  explicit DateField(QWidget* parent = nullptr);

  // Takes or refuses what is typed, if anything is; typing ends.
  void finishTyping();
  [[nodiscard]] bool isTyping() const { return typing_; }

 signals:
  // What was typed, when typing ended, was no date of the field's range; the
  // field shows its date again.
  void typedDateRefused(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void startTyping();
  void endTyping();
  void typeDigit(QChar digit);
  void moveTo(int section);
  void show();
  void showDate();
  [[nodiscard]] std::optional<QDate> typedDate() const;
  [[nodiscard]] QString typedText() const;

  bool typing_ = false;
  std::array<QString, 3> sections_;  // day, month, year as typed
  int section_ = 0;
  bool fresh_ = true;                      // the next digit replaces the section
  const QValidator* validator_ = nullptr;  // the spin box's, set aside while typing
};
