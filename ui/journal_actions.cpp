#include "ui/journal_actions.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStringList>
#include <algorithm>
#include <memory>

#include "journal/copy_events.h"
#include "journal/journal.h"
#include "ui/dialog_services.h"
#include "ui/journal_window.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

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
  connect(add_, &QAction::triggered, this, &JournalActions::addArchive);
  connect(open_, &QAction::triggered, this, &JournalActions::openJournal);
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

std::optional<std::string> JournalActions::askDevice(QWidget* parent, const QString& proposed,
                                                     const QStringList& existing) {
  QString offered = proposed;
  for (;;) {
    const std::optional<QString> given = services_.askDeviceName(parent, offered, existing);
    if (!given) return std::nullopt;
    // Blanks around a name are a slip of the keyboard, unless a device of the
    // journal is named so.
    const QString name = existing.contains(*given) ? *given : given->trimmed();
    if (veks::IsValidDeviceName(name.toStdString())) return name.toStdString();
    services_.message(parent,
                      QStringLiteral("Неверное имя устройства: имя не может быть пустым "
                                     "или содержать управляющие символы"),
                      MessageIcon::kWarning);
    offered = *given;
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
  const std::optional<QString> path = JournalFilePath();
  if (!path) {
    services_.message(parent, NoJournalPathText(), MessageIcon::kWarning);
    return;
  }
  const auto journalFailed = [&](const veks::JournalError& error) {
    services_.message(parent,
                      QDir::toNativeSeparators(*path) + QStringLiteral(": ") + Text(error.message),
                      MessageIcon::kWarning);
  };
  // The copy is read first: one that cannot be read, or holds no event, needs
  // no device name and makes no journal.
  const auto copy = veks::ReadCopyEvents(archive);
  if (const auto* error = std::get_if<veks::CopyReadError>(&copy)) return say(error->message);
  if (std::get<std::vector<veks::EventRecord>>(copy).empty()) {
    return say("архив пуст", MessageIcon::kInformation);
  }

  std::unique_ptr<veks::Journal> journal;
  QString proposed;
  QStringList existing;
  if (QFileInfo::exists(*path)) {
    auto opened = veks::Journal::Open(path->toStdString(), veks::Journal::Access::kImport);
    if (!opened.ok()) return journalFailed(opened.error());
    journal = std::move(opened.value());
    auto device = journal->proposedDevice(archive);
    if (!device.ok()) return say(device.error().message);
    proposed = Text(device.value());
    auto devices = journal->devices();
    if (!devices.ok()) return journalFailed(devices.error());
    for (const veks::DeviceSummary& summary : devices.value()) existing << Text(summary.name);
    std::sort(existing.begin(), existing.end(), ReadsBefore);
  } else {
    proposed = Text(veks::DeviceNameForFile(archive));
  }
  const std::optional<std::string> device = askDevice(parent, proposed, existing);
  if (!device) return;
  if (!journal) {
    auto created = veks::Journal::Open(path->toStdString(), veks::Journal::Access::kImport);
    if (!created.ok()) return journalFailed(created.error());
    journal = std::move(created.value());
  }
  auto outcome = journal->importArchive(archive, device);
  journal.reset();
  // The journal window behind the message shows the history as it is now.
  if (journalWindow_) journalWindow_->reload(device);
  if (outcome.ok()) {
    say(veks::ImportOutcomeText(outcome.value()), MessageIcon::kInformation);
  } else {
    say(outcome.error().message);
  }
}
