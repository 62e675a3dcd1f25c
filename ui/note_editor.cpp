#include "ui/note_editor.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>

NoteEditor::NoteEditor(const NoteQuestion& question, QWidget* parent) : QDialog(parent) {
  setWindowTitle(question.title);
  auto* form = new QFormLayout(this);
  if (question.moment) {
    moment_ = new QDateTimeEdit(*question.moment, this);
    moment_->setObjectName(QStringLiteral("MomentEdit"));
    moment_->setTimeSpec(Qt::LocalTime);
    moment_->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    // The device's clock counts the years of one century.
    moment_->setDateTimeRange(QDateTime(QDate(2000, 1, 1), QTime(0, 0)),
                              QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59)));
    moment_->setCalendarPopup(true);
    auto* label = new QLabel(QStringLiteral("&Дата и время:"), this);
    label->setBuddy(moment_);
    form->addRow(label, moment_);
  }
  kind_ = new QComboBox(this);
  kind_->setObjectName(QStringLiteral("KindBox"));
  kind_->setEditable(true);
  kind_->setInsertPolicy(QComboBox::NoInsert);
  kind_->addItems(question.kinds);
  kind_->setCurrentText(question.kind);
  auto* kindLabel = new QLabel(QStringLiteral("&Вид:"), this);
  kindLabel->setBuddy(kind_);
  form->addRow(kindLabel, kind_);
  text_ = new QPlainTextEdit(question.text, this);
  text_->setObjectName(QStringLiteral("NoteText"));
  text_->setTabChangesFocus(true);
  auto* textLabel = new QLabel(QStringLiteral("&Текст:"), this);
  textLabel->setBuddy(text_);
  form->addRow(textLabel, text_);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->button(QDialogButtonBox::Ok)->setToolTip(QStringLiteral("Ctrl+Enter"));
  form->addRow(buttons_);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // Enter makes a new line of the text: Ctrl+Enter saves.
  for (const QKeySequence& keys :
       {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [this] {
      if (buttons_->button(QDialogButtonBox::Ok)->isEnabled()) accept();
    });
  }
  connect(kind_, &QComboBox::currentTextChanged, this, &NoteEditor::updateOk);
  connect(text_, &QPlainTextEdit::textChanged, this, &NoteEditor::updateOk);
  updateOk();
  text_->setFocus();
  resize(480, 280);
}

void NoteEditor::updateOk() {
  buttons_->button(QDialogButtonBox::Ok)
      ->setEnabled(!kind_->currentText().trimmed().isEmpty() &&
                   !text_->toPlainText().trimmed().isEmpty());
}

NoteAnswer NoteEditor::answer() const {
  NoteAnswer given{kind_->currentText().trimmed(), text_->toPlainText(), std::nullopt};
  if (moment_ != nullptr) given.moment = moment_->dateTime();
  return given;
}
