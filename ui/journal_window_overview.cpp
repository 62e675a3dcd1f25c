// The journal window's overview: a dock beside the table, its menu item, and
// what its rows and drags do to the table's filters.
#include <QAction>
#include <QDockWidget>
#include <QMenu>
#include <QScreen>
#include <QSettings>

#include "ui/dialog_services.h"
#include "ui/journal_window.h"
#include "ui/overview_panel.h"
#include "ui/timeline_chart.h"
#include "ui_journal_window.h"

namespace {

const QString kOverviewShownKey = QStringLiteral("journalWindow/overview");
// Room for the timeline's labels and the tables' columns.
constexpr int kOverviewWidth = 560;

}  // namespace

void JournalWindow::setUpOverview() {
  overview_ = new OverviewPanel(this);
  overviewDock_ = new QDockWidget(QStringLiteral("Обзор"), this);
  overviewDock_->setObjectName(QStringLiteral("OverviewDock"));
  overviewDock_->setAllowedAreas(Qt::RightDockWidgetArea | Qt::BottomDockWidgetArea);
  overviewDock_->setWidget(overview_);
  addDockWidget(Qt::RightDockWidgetArea, overviewDock_);

  overviewAction_ = new QAction(QStringLiteral("Обзор: график и статистика"), this);
  overviewAction_->setObjectName(QStringLiteral("AOverview"));
  overviewAction_->setCheckable(true);
  overviewAction_->setShortcut(QKeySequence(Qt::Key_F9));
  // After "to the oldest event": it shows the same history another way.
  const QList<QAction*> items = ui_->JournalMenu->actions();
  const qsizetype after = items.indexOf(ui_->AOldest);
  ui_->JournalMenu->insertAction(items.value(after + 1), overviewAction_);

  const bool shown = ProgramSettings()->value(kOverviewShownKey, false).toBool();
  overviewAction_->setChecked(shown);
  overviewDock_->setVisible(shown);
  if (shown)
    resizeDocks({overviewDock_}, {std::max(kOverviewWidth, width() * 2 / 5)}, Qt::Horizontal);
  // The overview's connections live while the window's members do: the dock
  // hides as the window's base part deletes it, and that must reach no
  // window any more.
  overviewLinks_ = std::make_unique<QObject>();
  QObject* const links = overviewLinks_.get();
  connect(overviewAction_, &QAction::toggled, links, [this](bool on) {
    ProgramSettings()->setValue(kOverviewShownKey, on);
    overviewDock_->setVisible(on);
    if (on) {
      makeRoomForOverview();
      refreshOverview();
      overview_->timeline()->view()->setFocus(Qt::ShortcutFocusReason);
    } else {
      ui_->EventView->setFocus(Qt::ShortcutFocusReason);
    }
  });
  // The dock's own close button.
  connect(overviewDock_, &QDockWidget::visibilityChanged, links, [this](bool visible) {
    // Hidden with the window, or covered by another dock: still open.
    if (!visible && !overviewDock_->isHidden()) return;
    if (overviewAction_->isChecked() != visible) {
      const QSignalBlocker blocker(overviewAction_);
      overviewAction_->setChecked(visible);
      ProgramSettings()->setValue(kOverviewShownKey, visible);
    }
    if (visible) refreshOverview();
  });

  connect(overview_, &OverviewPanel::rangeChosen, links,
          [this](QDate from, QDate to) { setDateFilter(from, to); });
  connect(overview_, &OverviewPanel::chosen, links, [this](const TableChoice& choice) {
    {
      const QSignalBlocker input(ui_->InputBox), kind(ui_->EventBox);
      if (choice.input) ui_->InputBox->setValue(*choice.input);
      if (choice.kind)
        ui_->EventBox->setCurrentIndex(
            std::max(0, ui_->EventBox->findText(*choice.kind, Qt::MatchExactly)));
    }
    if (choice.day) {
      setDateFilter(*choice.day, *choice.day);
    } else {
      showHistory();
    }
  });
  connect(overview_, &OverviewPanel::deviceChosen, links, [this](const QString& device) {
    const int index = ui_->DeviceBox->findText(device, Qt::MatchExactly);
    if (index >= 0) ui_->DeviceBox->setCurrentIndex(index);
  });
}

void JournalWindow::makeRoomForOverview() {
  // The window grows by the overview's width where the screen has room, so
  // that the table keeps its own; else the two share the window.
  const int wanted = std::max(kOverviewWidth, width() * 2 / 5);
  const QRect screenRect = screen()->availableGeometry();
  const int grow = std::clamp(screenRect.width() - frameGeometry().width(), 0, wanted);
  if (grow > 0 && !isMaximized() && !isFullScreen()) {
    resize(width() + grow, height());
    const int over = frameGeometry().right() - screenRect.right();
    if (over > 0) move(x() - over, y());
  }
  resizeDocks({overviewDock_}, {wanted}, Qt::Horizontal);
}

void JournalWindow::setDateFilter(QDate from, QDate to) {
  {
    const QSignalBlocker blockers[] = {QSignalBlocker(ui_->FromCheck), QSignalBlocker(ui_->ToCheck),
                                       QSignalBlocker(ui_->FromDate), QSignalBlocker(ui_->ToDate)};
    for (const auto& [check, date, day] : {std::tuple(ui_->FromCheck, ui_->FromDate, from),
                                           std::tuple(ui_->ToCheck, ui_->ToDate, to)}) {
      check->setChecked(true);
      date->setEnabled(true);
      date->setDate(day);
    }
  }
  showHistory();
}

void JournalWindow::refreshOverview() {
  if (overview_ == nullptr || overviewDock_->isHidden()) return;
  const veks::EventFilter shown = selection().filter;
  if (!journal_ || !path_ || !shown.device) return;
  veks::StatsFilter wanted{shown.device, shown.fromDate, shown.toDate};
  // The input and kind filters narrow the table, not the overview.
  if (overviewFor_ && overviewFor_->device == wanted.device &&
      overviewFor_->fromDate == wanted.fromDate && overviewFor_->toDate == wanted.toDate) {
    return;
  }
  overview_->showOverview(*path_, wanted);
  overviewFor_ = std::move(wanted);
}

void JournalWindow::overviewNothing(const QString& text) {
  overviewFor_.reset();
  if (overview_ != nullptr) overview_->showNothing(text);
}
