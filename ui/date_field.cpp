#include "ui/date_field.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>

namespace {

const QString kFormat = QStringLiteral("dd.MM.yyyy");
constexpr qsizetype kSectionDigits[] = {2, 2, 4};

bool IsSeparator(const QString& text) {
  return text == QLatin1String(".") || text == QLatin1String(",") || text == QLatin1String("/") ||
         text == QLatin1String("-") || text == QLatin1String(" ");
}

}  // namespace

void OpenCalendarPopup(QDateEdit* picker) {
  QStyleOptionComboBox option;
  option.initFrom(picker);
  option.editable = true;
  option.subControls = QStyle::SC_All;
  const QPointF arrow =
      picker->style()
          ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, picker)
          .center();
  QMouseEvent press(QEvent::MouseButtonPress, arrow, picker->mapToGlobal(arrow), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(picker, &press);
}

DateField::DateField(QWidget* parent) : QDateEdit(parent) { setDisplayFormat(kFormat); }

void DateField::startTyping() {
  const QString text = lineEdit()->text();
  const QStringList parts = text.split(QLatin1Char('.'));
  for (int i = 0; i < 3; ++i) sections_[i] = parts.value(i);
  const int cursor = lineEdit()->cursorPosition();
  if (lineEdit()->hasSelectedText() || (cursor > 0 && cursor < text.size())) {
    section_ = currentSectionIndex();
  } else {
    section_ = 0;  // a whole date, from its start
  }
  section_ = std::clamp(section_, 0, 2);
  fresh_ = true;
  typing_ = true;
  // The spin box's validator fits a day to the month as the text changes
  // (31.04 becomes 30.04); the typed text stays as typed.
  validator_ = lineEdit()->validator();
  lineEdit()->setValidator(nullptr);
}

void DateField::endTyping() {
  typing_ = false;
  showDate();
  // Only now: a validator set checks the text there, and would fit it.
  lineEdit()->setValidator(validator_);
}

void DateField::typeDigit(QChar digit) {
  QString& text = sections_[section_];
  if (fresh_) {
    text = digit;
  } else if (text.size() < kSectionDigits[section_]) {
    text += digit;
  } else if (section_ < 2) {
    moveTo(section_ + 1);
    sections_[section_] = digit;
  } else {
    QApplication::beep();
    return;
  }
  fresh_ = false;
  show();
  // The last digit of a year completes the date: a date of the range counts
  // at once, as a date picked does.
  if (section_ == 2 && sections_[2].size() == 4) {
    if (const std::optional<QDate> date = typedDate()) {
      setDate(*date);
      show();
    }
  }
}

void DateField::moveTo(int section) {
  section_ = section;
  fresh_ = true;
  show();
}

void DateField::show() {
  // The spin box must not see a partial text, nor a cursor moving through
  // one: either makes it read the text as its value, fitted to the month.
  const QSignalBlocker blocker(lineEdit());
  lineEdit()->setText(typedText());
  qsizetype start = 0;
  for (int i = 0; i < section_; ++i) start += sections_[i].size() + 1;
  const qsizetype length = sections_[section_].size();
  if (fresh_) {
    lineEdit()->setSelection(static_cast<int>(start), static_cast<int>(length));
  } else {
    lineEdit()->setCursorPosition(static_cast<int>(start + length));
  }
  QPalette palette;
  if (!typedDate()) palette.setColor(QPalette::Text, Qt::red);
  lineEdit()->setPalette(palette);
}

void DateField::showDate() {
  {
    const QSignalBlocker blocker(lineEdit());
    lineEdit()->setText(date().toString(kFormat));
  }
  lineEdit()->setPalette(QPalette());
  setCurrentSectionIndex(section_);
}

QString DateField::typedText() const {
  return sections_[0] + QLatin1Char('.') + sections_[1] + QLatin1Char('.') + sections_[2];
}

std::optional<QDate> DateField::typedDate() const {
  bool ok[3] = {};
  const int day = sections_[0].toInt(&ok[0]);
  const int month = sections_[1].toInt(&ok[1]);
  int year = sections_[2].toInt(&ok[2]);
  if (!ok[0] || !ok[1] || !ok[2] || sections_[0].size() > 2 || sections_[1].size() > 2) {
    return std::nullopt;
  }
  if (sections_[2].size() == 2) {
    year += 2000;
  } else if (sections_[2].size() != 4) {
    return std::nullopt;
  }
  const QDate typed(year, month, day);
  if (!typed.isValid() || typed < minimumDate() || typed > maximumDate()) return std::nullopt;
  return typed;
}

void DateField::finishTyping() {
  if (!typing_) return;
  const std::optional<QDate> typed = typedDate();
  if (typed) setDate(*typed);
  endTyping();
  if (!typed) emit typedDateRefused(typedText());
}

void DateField::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers =
      event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  if (event->key() == Qt::Key_Down && modifiers == Qt::AltModifier) {
    finishTyping();
    OpenCalendarPopup(this);
    return;
  }
  if (modifiers == Qt::NoModifier && !isReadOnly()) {
    const QString text = event->text();
    if (text.size() == 1 && text[0].isDigit() && text[0].unicode() < 128) {
      if (!typing_) startTyping();
      typeDigit(text[0]);
      return;
    }
    if (typing_) {
      if (IsSeparator(text)) {
        if (section_ < 2) moveTo(section_ + 1);
        return;
      }
      switch (event->key()) {
        case Qt::Key_Backspace:
          if ((fresh_ || sections_[section_].isEmpty()) && section_ > 0) --section_;
          fresh_ = false;
          sections_[section_].chop(1);
          show();
          return;
        case Qt::Key_Delete:
          sections_[section_].clear();
          fresh_ = false;
          show();
          return;
        case Qt::Key_Escape:
          endTyping();
          return;
        default:
          break;
      }
    }
  }
  // Enter, the arrows and the rest: what is typed counts first.
  finishTyping();
  QDateEdit::keyPressEvent(event);
}

bool DateField::focusNextPrevChild(bool next) {
  if (typing_) {
    const int section = section_ + (next ? 1 : -1);
    if (section >= 0 && section <= 2) {
      moveTo(section);
      return true;
    }
    finishTyping();
  }
  return QDateEdit::focusNextPrevChild(next);
}

void DateField::focusOutEvent(QFocusEvent* event) {
  finishTyping();
  QDateEdit::focusOutEvent(event);
}

void DateField::mousePressEvent(QMouseEvent* event) {
  finishTyping();
  QDateEdit::mousePressEvent(event);
}
