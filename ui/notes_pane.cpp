#include "ui/notes_pane.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "ui/journal_history_model.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString LocalWrittenText(const std::string& written) {
  const QDateTime utc = QDateTime::fromString(Text(written), Qt::ISODate);
  if (!utc.isValid()) return Text(written);
  return utc.toLocalTime().toString(QStringLiteral("dd.MM.yy hh:mm"));
}

QString NoteVersionText(const veks::NoteVersion& note, bool withVersion) {
  QString head =
      note.moment
          ? QStringLiteral("запись оператора %1, %2").arg(note.number).arg(EntryMomentText(note))
          : QStringLiteral("примечание %1").arg(note.number);
  if (withVersion) head += QStringLiteral(", версия %1").arg(note.version);
  head += QStringLiteral(" (%1, %2, %3)")
              .arg(Text(note.kind), Text(note.author), LocalWrittenText(note.written));
  if (withVersion && note.deleted) head += QStringLiteral(" — удалено");
  return head + QLatin1Char('\n') + Text(note.text);
}

NotesPane::NotesPane(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  title_ = new QLabel(this);
  title_->setWordWrap(true);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("NoteList"));
  list_->setWordWrap(true);
  list_->setAlternatingRowColors(true);
  versions_ = new QCheckBox(QStringLiteral("&Версии"), this);
  versions_->setObjectName(QStringLiteral("VersionsCheck"));
  versions_->setToolTip(QStringLiteral("Показать все версии примечаний: кто и когда их менял"));
  // The pane gives way to the table when the window is narrow.
  for (QWidget* part : std::initializer_list<QWidget*>{title_, list_, versions_}) {
    part->setMinimumWidth(fontMetrics().averageCharWidth() * 8);
  }
  layout->addWidget(title_);
  layout->addWidget(list_, 1);
  layout->addWidget(versions_);
  connect(versions_, &QCheckBox::toggled, this, &NotesPane::versionsToggled);
  showNotes({});
}

void NotesPane::showNotes(std::vector<veks::NoteVersion> notes) {
  notes_ = std::move(notes);
  list_->clear();
  for (const veks::NoteVersion& note : notes_) {
    list_->addItem(NoteVersionText(note, versionsShown()));
  }
  title_->setText(notes_.empty() ? QStringLiteral("Примечаний нет")
                                 : QStringLiteral("Примечания:"));
}

bool NotesPane::versionsShown() const { return versions_->isChecked(); }

const veks::NoteVersion* NotesPane::currentNote() const {
  if (notes_.empty()) return nullptr;
  const int row = list_->currentRow();
  if (row < 0 || row >= static_cast<int>(notes_.size())) return &notes_.front();
  return &notes_[static_cast<std::size_t>(row)];
}
