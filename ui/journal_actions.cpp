#include "ui/journal_actions.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStringList>
#include <algorithm>
#include <memory>

#include "journal/copy_events.h"
#include "journal/journal.h"
#include "journal/pg_connection.h"
#include "ui/background_work.h"
#include "ui/dialog_services.h"
#include "ui/journal_choice_dialog.h"
#include "ui/journal_location.h"
#include "ui/journal_window.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// Why a copy whose events two or more devices' histories hold cannot be
// added: to any one of them it would leave its events in two histories.
std::string ManyDevicesText(const std::vector<std::string>& devices) {
  std::string names;
  for (const std::string& device : devices) names += (names.empty() ? "" : ", ") + device;
  return "копия продолжает историю нескольких устройств (" + names +
         ") и не добавлена: сначала объедините эти устройства";
}

// When the device's next copy must be taken, before its ring overwrites
// events the journal does not hold yet; a moment already past says so. The
// moment is on the device's clock, compared with this computer's.
QString DueText(const veks::DueEstimate& estimate) {
  if (!estimate.last) {
    return QStringLiteral("срок следующей копии не рассчитать: нет событий с датой");
  }
  const QDateTime due = QDateTime::fromString(Text(estimate.due), Qt::ISODate);
  QString text = QStringLiteral("следующая копия нужна до ") +
                 due.toString(QStringLiteral("dd.MM.yyyy hh:mm"));
  if (due < QDateTime::currentDateTime()) text += QStringLiteral(" (срок прошел)");
  return text;
}

// While another program holds the journal, the work says that it waits,
// until the operator stops it.
std::function<bool()> WaitingFor(WorkProgress& progress) {
  return [&progress] {
    progress.setWaiting(true);
    return !progress.canceled();
  };
}

}  // namespace

JournalActions::JournalActions(QMainWindow* window, veks::ViewState& state, UiServices& services,
                               std::function<void()> chooseArchive)
    : QObject(window),
      window_(window),
      state_(state),
      services_(services),
      chooseArchive_(std::move(chooseArchive)) {
  QMenu* menu = window->menuBar()->addMenu(QStringLiteral("&Журнал"));
  menu->setObjectName(QStringLiteral("N2Journal"));
  add_ = menu->addAction(QStringLiteral("Добавить архив в журнал"));
  add_->setObjectName(QStringLiteral("AJournalAdd"));
  add_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
  open_ = menu->addAction(QStringLiteral("Открыть журнал"));
  open_->setObjectName(QStringLiteral("AJournalOpen"));
  open_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_J));
  choose_ = menu->addAction(QStringLiteral("Выбрать журнал…"));
  choose_->setObjectName(QStringLiteral("AJournalChoose"));
  connect(add_, &QAction::triggered, this, &JournalActions::addArchive);
  connect(open_, &QAction::triggered, this, &JournalActions::openJournal);
  connect(choose_, &QAction::triggered, this, [this] {
    if (ChooseJournal(dialogParent(), services_) && journalWindow_) journalWindow_->reload();
  });
  // The menu's mnemonic is Alt+Ж, which a Latin keyboard layout cannot type;
  // Alt+J opens it too.
  auto* openMenu = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_J), window);
  connect(openMenu, &QShortcut::activated, this, [window, menu, this] {
    window->menuBar()->setActiveAction(menu->menuAction());
    menu->setActiveAction(add_);
  });
}

JournalWindow* JournalActions::journalWindow() const { return journalWindow_; }

QWidget* JournalActions::dialogParent() const {
  if (journalWindow_ && journalWindow_->isActiveWindow()) return journalWindow_;
  return window_;
}

void JournalActions::openJournal() {
  if (!journalWindow_) {
    journalWindow_ = new JournalWindow(services_, window_);
    journalWindow_->addJournalAction(add_);
    journalWindow_->setChosenArchive([this] { return Text(state_.ArchiveName); });
    if (!journalWindow_->placeRestored()) {
      // Not on top of the main window: beside it. Its frame is taken to be
      // as thick as the main window's.
      const QRect outer = window_->frameGeometry(), inner = window_->geometry();
      const QSize frame = journalWindow_->size() + outer.size() - inner.size();
      journalWindow_->move(PlaceBeside(outer, frame, window_->screen()->availableGeometry()));
    }
  }
  journalWindow_->show();
  journalWindow_->raise();
  journalWindow_->activateWindow();
}

std::optional<std::string> JournalActions::askDevice(QWidget* parent, DeviceQuestion question) {
  for (;;) {
    const std::optional<QString> given = services_.askDeviceName(parent, question);
    if (!given) return std::nullopt;
    // Blanks around a name are a slip of the keyboard, unless a device of the
    // journal is named so.
    const QString name = question.existing.contains(*given) ? *given : given->trimmed();
    if (veks::IsValidDeviceName(name.toStdString())) return name.toStdString();
    services_.message(parent,
                      QStringLiteral("Неверное имя устройства: имя не может быть пустым "
                                     "или содержать управляющие символы"),
                      MessageIcon::kWarning);
    question.proposed = *given;
    question.continues = false;
  }
}

void JournalActions::addArchive() {
  QWidget* parent = dialogParent();
  if (state_.ArchiveName.empty()) {
    chooseArchive_();
    if (state_.ArchiveName.empty()) return;
  }
  const std::string archive = state_.ArchiveName;
  const QString file = QFileInfo(Text(archive)).fileName();
  const auto say = [&](const std::string& text, MessageIcon icon = MessageIcon::kWarning) {
    services_.message(parent, file + QStringLiteral(": ") + Text(text), icon);
  };
  const std::optional<QString> path = JournalLocation();
  if (!path) {
    services_.message(parent, NoJournalPathText(), MessageIcon::kWarning);
    return;
  }
  const auto journalFailed = [&](const veks::JournalError& error) {
    services_.message(parent,
                      ShownJournalLocation(*path) + QStringLiteral(": ") + Text(error.message),
                      MessageIcon::kWarning);
  };
  // A server that wants a password nothing gave yet: asked before the work,
  // which must not ask anything.
  if (IsServerJournal(*path) && !veks::HasServerPassword(path->toStdString())) {
    (void)AskServerPassword(parent, services_, *path);
  }
  // The copy is read once, first: one that cannot be read, or holds no
  // event, needs no device name and makes no journal; the proposal and the
  // import rest on the same events. Reading and proposing run off the GUI
  // thread, as the import does.
  const std::string journalPath = path->toStdString();
  std::optional<std::variant<std::vector<veks::EventRecord>, veks::CopyReadError>> copy;
  std::optional<veks::JournalError> openFailed;
  std::optional<veks::JournalResult<std::string>> proposed;
  std::optional<veks::JournalResult<std::vector<veks::DeviceSummary>>> devices;
  const WorkEnd read =
      RunBackgroundWork(parent, QStringLiteral("Чтение архива…"), [&](WorkProgress& progress) {
        copy = veks::ReadCopyEvents(archive);
        const auto* events = std::get_if<std::vector<veks::EventRecord>>(&*copy);
        if (events == nullptr || events->empty()) return;
        // The proposal only reads the journal (an older one is not brought
        // up to date for a question the operator may cancel), and its
        // connection closes before the dialog.
        auto opened = veks::Journal::Open(journalPath, veks::Journal::Access::kRead);
        if (!opened.ok()) {
          if (opened.error().kind != veks::JournalError::Kind::kMissing) {
            openFailed = opened.error();
          }
          return;
        }
        opened.value()->setBusyWait(WaitingFor(progress));
        proposed = opened.value()->proposedDevice(archive, *events);
        if (proposed->ok()) devices = opened.value()->devices();
      });
  if (read == WorkEnd::kCanceled) return;
  if (const auto* error = std::get_if<veks::CopyReadError>(&*copy)) return say(error->message);
  const auto& events = std::get<std::vector<veks::EventRecord>>(*copy);
  if (events.empty()) return say("архив пуст", MessageIcon::kInformation);
  if (openFailed) return journalFailed(*openFailed);

  DeviceQuestion question{Text(archive), {}, false, {}};
  if (proposed) {
    if (!proposed->ok() && proposed->error().kind == veks::JournalError::Kind::kManyDevices) {
      return say(ManyDevicesText(proposed->error().devices));
    }
    if (!proposed->ok()) return journalFailed(proposed->error());
    question.proposed = Text(proposed->value());
    if (!devices->ok()) return journalFailed(devices->error());
    for (const veks::DeviceSummary& summary : devices->value()) {
      question.existing << Text(summary.name);
    }
    std::sort(question.existing.begin(), question.existing.end(), ReadsBefore);
    question.continues = question.existing.contains(question.proposed);
  } else {
    question.proposed = Text(veks::DeviceNameForFile(archive));
  }
  const std::optional<std::string> device = askDevice(parent, question);
  if (!device) return;
  // Another program may hold the journal (an import of its own): the
  // progress dialog says that the import waits, and "Отмена" stops waiting.
  std::optional<veks::JournalResult<veks::ImportOutcome>> outcome;
  std::optional<veks::JournalResult<std::vector<veks::DueEstimate>>> due;
  std::optional<veks::JournalError> importOpenFailed;
  const WorkEnd imported = RunBackgroundWork(
      parent, QStringLiteral("Добавление архива в журнал…"), [&](WorkProgress& progress) {
        auto opened = veks::Journal::Open(journalPath, veks::Journal::Access::kImport);
        if (!opened.ok()) {
          importOpenFailed = opened.error();
          return;
        }
        opened.value()->setBusyWait(WaitingFor(progress));
        outcome = opened.value()->importEvents(archive, events, device);
        if (outcome->ok()) due = opened.value()->due(outcome->value().device);
      });
  if (importOpenFailed) return journalFailed(*importOpenFailed);
  // A cancel that came after the import was done leaves it done: the
  // outcome is told either way, except for a wait the operator stopped.
  if (imported == WorkEnd::kCanceled && !outcome->ok()) {
    if (journalWindow_) journalWindow_->reload(device);
    return say("архив не добавлен: ожидание журнала прервано", MessageIcon::kInformation);
  }
  // The journal window behind the message shows the history as it is now.
  if (journalWindow_) journalWindow_->reload(device);
  if (outcome->ok()) {
    // What came of it stays in the status bar with the device's next due
    // moment, which the copy just added has moved.
    QString status = Text(veks::ImportOutcomeText(outcome->value()));
    if (due && due->ok() && due->value().size() == 1) {
      status += "; " + DueText(due->value().front());
    }
    window_->statusBar()->showMessage(status);
    say(veks::ImportOutcomeText(outcome->value()), MessageIcon::kInformation);
  } else {
    say(outcome->error().message);
  }
}
