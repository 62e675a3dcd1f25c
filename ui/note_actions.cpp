#include "ui/note_actions.h"

#include <pwd.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QMenu>
#include <QScopeGuard>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <ctime>

#include "journal/device_names.h"
#include "report/event_export.h"
#include "ui/dialog_services.h"
#include "ui/journal_location.h"
#include "ui/notes_pane.h"

namespace {

const QString kAuthorKey = QStringLiteral("notes/author");
const QString kKindsKey = QStringLiteral("notes/kinds");
const QString kMomentFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString LoginName() {
  for (const char* name : {"LOGNAME", "USER"}) {
    const QString value = qEnvironmentVariable(name);
    if (!value.isEmpty()) return value;
  }
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr) {
    return QString::fromLocal8Bit(entry->pw_name);
  }
  return {};
}

NoteActions::NoteActions(QMainWindow* window, UiServices& services, JournalHistoryModel* model,
                         QTableView* table, Window context)
    : QObject(window),
      window_(window),
      services_(services),
      model_(model),
      table_(table),
      context_(std::move(context)) {
  pane_ = new NotesPane(window);
  pane_->setObjectName(QStringLiteral("NotesPane"));
  dock_ = new QDockWidget(QStringLiteral("Примечания"), window);
  dock_->setObjectName(QStringLiteral("NotesDock"));
  dock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  dock_->setWidget(pane_);
  window->addDockWidget(Qt::RightDockWidgetArea, dock_);

  onlyNoted_ = new QCheckBox(QStringLiteral("только с &примечаниями"), window);
  onlyNoted_->setObjectName(QStringLiteral("NotesOnlyCheck"));
  onlyNoted_->setToolTip(QStringLiteral("Только события с примечаниями и записи оператора"));

  menu_ = new QMenu(QStringLiteral("П&римечания"), window);
  menu_->setObjectName(QStringLiteral("NotesMenu"));
  const auto action = [&](const char* name, const QString& text, const QKeySequence& keys,
                          void (NoteActions::*slot)()) {
    auto* made = new QAction(text, window);
    made->setObjectName(QString::fromLatin1(name));
    made->setShortcut(keys);
    made->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    menu_->addAction(made);
    connect(made, &QAction::triggered, this, slot);
    return made;
  };
  add_ = action("AAddNote", QStringLiteral("&Добавить примечание…"), QKeySequence(Qt::Key_Insert),
                &NoteActions::addNote);
  edit_ = action("AEditNote", QStringLiteral("&Изменить примечание…"), QKeySequence(Qt::Key_F4),
                 &NoteActions::editNote);
  delete_ = action("ADeleteNote", QStringLiteral("&Удалить примечание…"),
                   QKeySequence(Qt::CTRL | Qt::Key_Delete), &NoteActions::deleteNote);
  menu_->addSeparator();
  entry_ = action("AAddEntry", QStringLiteral("&Запись оператора…"),
                  QKeySequence(Qt::CTRL | Qt::Key_N), &NoteActions::addEntry);

  // A note's keys work in the table and the pane; elsewhere Ins, F4 and
  // Ctrl+Del stay the fields' own (F4 opens a list or a calendar). An entry
  // needs no row: its key works anywhere in the window.
  for (QAction* keyed : {add_, edit_, delete_}) {
    table->addAction(keyed);
    pane_->addAction(keyed);
  }
  entry_->setShortcutContext(Qt::WindowShortcut);
  window->addAction(entry_);

  contextMenu_ = new QMenu(table);
  contextMenu_->setObjectName(QStringLiteral("NotesContextMenu"));
  contextMenu_->addActions({add_, edit_, delete_});
  contextMenu_->addSeparator();
  contextMenu_->addAction(entry_);
  table->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(table, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = table_->indexAt(at);
    if (index.isValid()) table_->setCurrentIndex(index);
    contextMenu_->popup(table_->viewport()->mapToGlobal(at));
  });
  connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &NoteActions::showCurrent);
  connect(model, &QAbstractItemModel::modelReset, this, &NoteActions::showCurrent);
  connect(model, &JournalHistoryModel::reloaded, this, &NoteActions::showCurrent);
  connect(pane_, &NotesPane::versionsToggled, this, &NoteActions::showCurrent);
}

HistoryNotes NoteActions::sources(const veks::EventFilter& filter) const {
  HistoryNotes notes;
  veks::Journal* journal = context_.journal();
  if (journal == nullptr) return notes;
  notes.notesAt = [journal](std::span<const veks::EventPlace> places) {
    return journal->notesAt(places, false);
  };
  if (filter.input || filter.eventText) return notes;
  veks::NoteFilter entries;
  entries.device = filter.device;
  entries.fromDate = filter.fromDate;
  entries.toDate = filter.toDate;
  entries.entriesOnly = true;
  notes.entries = [journal, entries] { return journal->notes(entries); };
  notes.entriesKey = filter.device.value_or("") + '\n' + filter.fromDate.value_or("") + '\n' +
                     filter.toDate.value_or("");
  return notes;
}

void NoteActions::setEnabled(bool enabled) {
  for (QAction* action : {add_, edit_, delete_, entry_}) action->setEnabled(enabled);
  if (!enabled) pane_->showNotes({});
}

void NoteActions::showCurrent() {
  const int row = table_->currentIndex().row();
  veks::Journal* journal = context_.journal();
  if (journal == nullptr || row < 0) return pane_->showNotes({});
  const bool history = pane_->versionsShown();
  if (const veks::NoteVersion* entry = model_->entryAt(row)) {
    if (!history) return pane_->showNotes({*entry});
    veks::NoteFilter all;
    all.device = entry->device;
    all.history = true;
    all.entriesOnly = true;
    auto notes = journal->notes(all);
    std::vector<veks::NoteVersion> versions;
    if (notes.ok()) {
      for (veks::NoteVersion& v : notes.value()) {
        if (v.number == entry->number) versions.push_back(std::move(v));
      }
    }
    return pane_->showNotes(std::move(versions));
  }
  const auto event = model_->eventAt(row);
  if (!event) return pane_->showNotes({});
  auto notes = journal->notesAt(std::span(&event->first, 1), history);
  pane_->showNotes(notes.ok() ? std::move(notes.value()) : std::vector<veks::NoteVersion>{});
}

void NoteActions::say(const QString& text) {
  const std::optional<QString> path = context_.path();
  services_.message(window_,
                    path ? ShownJournalLocation(*path) + QStringLiteral(": ") + text : text,
                    MessageIcon::kWarning);
}

std::optional<std::string> NoteActions::author() {
  const auto settings = ProgramSettings();
  const QString kept = settings->value(kAuthorKey).toString();
  if (!kept.isEmpty()) return kept.toStdString();
  QString offered = LoginName();
  for (;;) {
    const std::optional<QString> given = services_.askAuthor(window_, offered);
    if (!given) return std::nullopt;
    const QString name = given->trimmed();
    if (veks::IsValidNoteLabel(name.toStdString())) {
      settings->setValue(kAuthorKey, name);
      return name.toStdString();
    }
    services_.message(window_,
                      QStringLiteral("Недопустимое имя: от 1 до 100 знаков, без управляющих "
                                     "символов"),
                      MessageIcon::kWarning);
    offered = *given;
  }
}

QStringList NoteActions::kinds() const {
  QStringList kinds;
  for (const std::string_view kind : veks::kNoteKinds) {
    kinds << QString::fromUtf8(kind.data(), static_cast<qsizetype>(kind.size()));
  }
  for (const QString& kind : ProgramSettings()->value(kKindsKey).toStringList()) {
    if (!kinds.contains(kind)) kinds << kind;
  }
  return kinds;
}

void NoteActions::keepKind(const QString& kind) {
  if (kinds().contains(kind)) return;
  const auto settings = ProgramSettings();
  settings->setValue(kKindsKey, settings->value(kKindsKey).toStringList() << kind);
}

bool NoteActions::write(
    const std::function<veks::JournalResult<std::int64_t>(veks::Journal&)>& work) {
  veks::Journal* reading = context_.journal();
  const std::optional<QString> path = context_.path();
  if (reading == nullptr || !path) return false;
  if (const auto& readOnly = reading->readOnlyReason()) {
    say(Text(veks::kMsgJournalReadOnly) + QStringLiteral(": ") + Text(*readOnly));
    return false;
  }
  std::optional<veks::JournalError> error;
  for (;;) {
    error.reset();
    {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
      auto opened = veks::Journal::Open(path->toStdString(), veks::Journal::Access::kWrite);
      if (opened.ok()) {
        auto done = work(*opened.value());
        if (!done.ok()) error = done.error();
      } else {
        error = opened.error();
      }
    }
    // A server out of reach (gone, or the connection lost) took nothing: what the operator wrote is
    // still here and may be written again once the journal can be reached.
    if (!error || error->kind != veks::JournalError::Kind::kUnavailable ||
        !IsServerJournal(*path)) {
      break;
    }
    if (!services_.confirm(window_, ShownJournalLocation(*path) + QStringLiteral(": ") +
                                        Text(error->message) +
                                        QStringLiteral("\nИзменение не сохранено. Повторить?"))) {
      services_.message(window_, QStringLiteral("Изменение не сохранено."), MessageIcon::kWarning);
      model_->refresh();
      return false;
    }
  }
  if (error) {
    say(Text(error->message));
    // Another process may have changed what the note stands on.
    model_->refresh();
    return false;
  }
  model_->refresh();
  showCurrent();
  emit written();
  return true;
}

std::optional<veks::NoteVersion> NoteActions::chosenNote() {
  const veks::NoteVersion* chosen = pane_->currentNote();
  if (chosen == nullptr) {
    say(QStringLiteral("У выбранной строки нет примечаний"));
    return std::nullopt;
  }
  // With the versions shown, any version stands for its note: its newest.
  std::optional<veks::NoteVersion> newest;
  for (const veks::NoteVersion& v : pane_->notes()) {
    if (v.number == chosen->number) newest = v;
  }
  return newest;
}

void NoteActions::addNote() {
  const std::optional<std::string> device = context_.device();
  if (!device || !table_->isEnabled()) return;
  const auto event = model_->eventAt(table_->currentIndex().row());
  if (!event) {
    say(QStringLiteral("Выберите событие в таблице: примечание относится к событию"));
    return;
  }
  const std::optional<std::string> signedBy = author();
  if (!signedBy) return;
  const std::optional<NoteAnswer> given = services_.askNote(
      window_,
      {QStringLiteral("Примечание к событию"), kinds(), kinds().front(), {}, std::nullopt});
  if (!given) return;
  veks::NoteTarget target{*device, event->second, event->first, std::nullopt};
  if (write([&](veks::Journal& journal) {
        return journal.addNote(target, given->kind.toStdString(), given->text.toStdString(),
                               {*signedBy, std::time(nullptr)});
      })) {
    keepKind(given->kind);
  }
}

void NoteActions::editNote() {
  const std::optional<veks::NoteVersion> note = chosenNote();
  if (!note) return;
  const std::optional<std::string> signedBy = author();
  if (!signedBy) return;
  const std::optional<NoteAnswer> given =
      services_.askNote(window_, {QStringLiteral("Примечание %1").arg(note->number), kinds(),
                                  Text(note->kind), Text(note->text), std::nullopt});
  if (!given) return;
  if (write([&](veks::Journal& journal) {
        return journal.editNote(note->number, given->kind.toStdString(), given->text.toStdString(),
                                {*signedBy, std::time(nullptr)});
      })) {
    keepKind(given->kind);
  }
}

void NoteActions::deleteNote() {
  const std::optional<veks::NoteVersion> note = chosenNote();
  if (!note) return;
  const QString what = note->moment ? QStringLiteral("запись оператора %1").arg(note->number)
                                    : QStringLiteral("примечание %1").arg(note->number);
  if (!services_.confirm(window_, QStringLiteral("Удалить %1?\nВсе его версии остаются в "
                                                 "журнале и видны по флажку «Версии».")
                                      .arg(what))) {
    return;
  }
  const std::optional<std::string> signedBy = author();
  if (!signedBy) return;
  write([&](veks::Journal& journal) {
    return journal.deleteNote(note->number, {*signedBy, std::time(nullptr)});
  });
}

void NoteActions::addEntry() {
  const std::optional<std::string> device = context_.device();
  if (!device) return;
  // The entry starts at the moment of the event chosen, else now.
  QDateTime moment = QDateTime::currentDateTime();
  if (const auto event = model_->eventAt(table_->currentIndex().row())) {
    if (const auto stamp = veks::EventTimestamp(event->second)) {
      const QDateTime at = QDateTime::fromString(Text(*stamp).left(19), kMomentFormat);
      if (at.isValid()) moment = at;
    }
  }
  moment.setTime(QTime(moment.time().hour(), moment.time().minute(), moment.time().second()));
  const std::optional<std::string> signedBy = author();
  if (!signedBy) return;
  const std::optional<NoteAnswer> given = services_.askNote(
      window_, {QStringLiteral("Запись оператора"), kinds(), kinds().front(), {}, moment});
  if (!given || !given->moment) return;
  veks::NoteTarget target{*device, std::nullopt, std::nullopt,
                          given->moment->toString(kMomentFormat).toStdString()};
  if (write([&](veks::Journal& journal) {
        return journal.addNote(target, given->kind.toStdString(), given->text.toStdString(),
                               {*signedBy, std::time(nullptr)});
      })) {
    keepKind(given->kind);
  }
}
