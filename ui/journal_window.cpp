#include "ui/journal_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPrinter>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <algorithm>

#include "archive/event_decoder.h"
#include "journal/journal_output.h"
#include "journal/pg_connection.h"
#include "report/report_text.h"
#include "ui/background_work.h"
#include "ui/date_field.h"
#include "ui/dialog_services.h"
#include "ui/import_undo.h"
#include "ui/journal_choice_dialog.h"
#include "ui/journal_export.h"
#include "ui/journal_history_model.h"
#include "ui/note_actions.h"
#include "ui/report_box.h"
#include "ui/report_printer.h"
#include "ui/spooled_report.h"
#include "ui/summary_page.h"
#include "ui/table_copy.h"
#include "ui_journal_window.h"

namespace {

const QString kGeometryKey = QStringLiteral("journalWindow/geometry");
const QString kSplitterKey = QStringLiteral("journalWindow/splitter");
const QString kAnyEvent = QStringLiteral("все");

QString Text(const std::string& text) { return QString::fromStdString(text); }

// "YYYY-MM-DD..." as a date, invalid when the text is none.
QDate IsoDate(const std::optional<std::string>& timestamp) {
  if (!timestamp) return {};
  return QDate::fromString(Text(timestamp->substr(0, 10)), Qt::ISODate);
}

// The widest text of the input column: the codes that name an input, with
// every argument.
int WidestInputText(const QFontMetrics& metrics) {
  int widest = 0;
  for (const int code : {0, 1, 2, 3, 50, 51, 52}) {
    for (int argument = 0; argument <= 0xFF; ++argument) {
      const veks::EventRecord record{
          static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(argument), 0, 0, 0, 1, 1, 0};
      widest =
          std::max(widest, metrics.horizontalAdvance(Text(veks::TrimmedEventTexts(record)[1])));
    }
  }
  return widest;
}

}  // namespace

bool ReadsBefore(const QString& a, const QString& b) {
  static const QCollator collator = [] {
    QCollator russian(QLocale(QLocale::Russian, QLocale::Russia));
    russian.setNumericMode(true);  // "Насос 2" before "Насос 10"
    return russian;
  }();
  const int order = collator.compare(a, b);
  return order != 0 ? order < 0 : a < b;
}

QPoint PlaceBeside(const QRect& occupied, const QSize& frame, const QRect& screen) {
  const int gap = 8;
  const int right = screen.right() + 1 - (occupied.right() + 1 + gap);
  const int left = occupied.left() - gap - screen.left();
  int x;
  if (right >= frame.width()) {
    x = occupied.right() + 1 + gap;
  } else if (left >= frame.width()) {
    x = occupied.left() - gap - frame.width();
  } else if (right >= left) {
    x = screen.right() + 1 - frame.width();  // against the edge: the least overlap
  } else {
    x = screen.left();
  }
  x = std::max(screen.left(), std::min(x, screen.right() + 1 - frame.width()));
  const int y =
      std::max(screen.top(), std::min(occupied.top(), screen.bottom() + 1 - frame.height()));
  return {x, y};
}

JournalWindow::JournalWindow(UiServices& services, QWidget* parent)
    : QMainWindow(parent, Qt::Window),
      ui_(std::make_unique<Ui::JournalWindow>()),
      services_(services) {
  ui_->setupUi(this);
  setAttribute(Qt::WA_DeleteOnClose);
  setUpFilters();
  setUpTable();
  setUpNotes();
  SetupReportBox(ui_->ReportBox);
  ui_->Splitter->setStretchFactor(0, 3);
  ui_->Splitter->setStretchFactor(1, 1);
  connectFilters();
  connectActions();
  setUpKeys();
  restoreSettings();
  setUpOverview();
  reload();
  ui_->DeviceBox->setFocus();
}

void JournalWindow::setUpFilters() {
  // The journal's dates are those of the device's century.
  for (QDateEdit* date : {ui_->FromDate, ui_->ToDate}) {
    date->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
    date->setDate(QDate::currentDate());
  }
  ui_->EventBox->addItem(kAnyEvent);
  // The journal keeps the event texts without their leading and trailing blanks.
  for (const std::string& text : veks::EventKindTexts()) {
    const QString kind = Text(text).trimmed();
    if (ui_->EventBox->findText(kind, Qt::MatchExactly) < 0) ui_->EventBox->addItem(kind);
  }
}

void JournalWindow::setUpTable() {
  model_ = new JournalHistoryModel(this);
  QTableView* table = ui_->EventView;
  table->setModel(model_);
  model_->keepPlaceOf(table->selectionModel());
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Rows selected with Shift or Ctrl are copied with Ctrl+C, as in the main window.
  table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table->installEventFilter(this);
  table->setTabKeyNavigation(false);
  table->setWordWrap(false);
  table->setAlternatingRowColors(true);
  table->setCornerButtonEnabled(false);
  // Every row is as high as the next, so the view places a row by
  // arithmetic and never asks the model for more than the rows it shows.
  table->verticalHeader()->hide();
  table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  QHeaderView* header = table->horizontalHeader();
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setHighlightSections(false);
  // The event column takes what the window's width leaves.
  header->setSectionResizeMode(JournalHistoryModel::kEventColumn, QHeaderView::Stretch);
  // Columns sized once, for the widest text each can hold.
  const int padding = 3 * fontMetrics().averageCharWidth();
  // A damaged record's time and date bytes give up to three digits a field.
  header->resizeSection(
      JournalHistoryModel::kStampColumn,
      fontMetrics().horizontalAdvance(QStringLiteral("255.255.255 255:255:255")) + padding);
  header->resizeSection(JournalHistoryModel::kSegmentColumn,
                        fontMetrics().horizontalAdvance(QStringLiteral("Участок")) + padding);
  header->resizeSection(JournalHistoryModel::kInputColumn,
                        WidestInputText(fontMetrics()) + padding);
}

void JournalWindow::setUpNotes() {
  notes_ = new NoteActions(this, services_, model_, ui_->EventView,
                           {[this] { return path_; }, [this] { return journal_.get(); },
                            [this] { return selection().filter.device; }});
  ui_->JournalMenuBar->addMenu(notes_->menu());
  // The filter row is full: the notes' filter stands beside the counts under the table.
  auto* statusRow = new QHBoxLayout;
  ui_->tableLayout->removeWidget(ui_->StatusLine);
  statusRow->addWidget(ui_->StatusLine, 1);
  statusRow->addWidget(notes_->onlyNotedCheck());
  ui_->tableLayout->addLayout(statusRow);
  QWidget::setTabOrder(ui_->EventView, notes_->onlyNotedCheck());
  QWidget::setTabOrder(notes_->onlyNotedCheck(), ui_->ReportBox);
  connect(notes_->onlyNotedCheck(), &QCheckBox::toggled, this, &JournalWindow::showHistory);
  connect(notes_, &NoteActions::written, this, &JournalWindow::clearReport);
}

void JournalWindow::connectFilters() {
  connect(ui_->DeviceBox, &QComboBox::currentIndexChanged, this, &JournalWindow::deviceChosen);
  connect(ui_->FromCheck, &QCheckBox::toggled, this, [this](bool on) {
    ui_->FromDate->setEnabled(on);
    showHistory();
  });
  connect(ui_->ToCheck, &QCheckBox::toggled, this, [this](bool on) {
    ui_->ToDate->setEnabled(on);
    showHistory();
  });
  connect(ui_->FromDate, &QDateEdit::dateChanged, this, [this] {
    if (ui_->FromCheck->isChecked()) showHistory();
  });
  connect(ui_->ToDate, &QDateEdit::dateChanged, this, [this] {
    if (ui_->ToCheck->isChecked()) showHistory();
  });
  connect(ui_->InputBox, &QSpinBox::valueChanged, this, &JournalWindow::showHistory);
  connect(ui_->EventBox, &QComboBox::currentIndexChanged, this, &JournalWindow::showHistory);
  // The table keeps its device; a report made for the other scope is stale.
  connect(ui_->AllDevicesCheck, &QCheckBox::toggled, ui_->ReportBox, &QPlainTextEdit::clear);
  connect(model_, &JournalHistoryModel::readFailed, this, [this](const QString& message) {
    if (offerReconnect(message)) return;
    services_.message(this, journalText(message), MessageIcon::kWarning);
    reload();
  });
  // Another process changed the journal: what can be undone may have too.
  connect(model_, &JournalHistoryModel::reloaded, this, [this] {
    showCounts();
    showUndoableImport();
    ui_->EventView->scrollTo(ui_->EventView->currentIndex());
  });
}

void JournalWindow::connectActions() {
  // The menu's mnemonic is Alt+Ж, which a Latin keyboard layout cannot type:
  // Alt+J and F10 open it too, its first item current. A plain Alt press
  // and release goes to the menu bar, as the style does it.
  for (const QKeySequence& keys : {QKeySequence(Qt::ALT | Qt::Key_J), QKeySequence(Qt::Key_F10)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [this] {
      ui_->JournalMenuBar->setActiveAction(ui_->JournalMenu->menuAction());
      ui_->JournalMenu->setActiveAction(ui_->JournalMenu->actions().value(0));
    });
  }
  connect(ui_->AChooseJournal, &QAction::triggered, this, [this] {
    if (ChooseJournal(this, services_)) reload();
  });
  connect(ui_->AOpenJournalFile, &QAction::triggered, this, &JournalWindow::openJournalFile);
  connect(ui_->ADefaultJournal, &QAction::triggered, this, &JournalWindow::useDefaultJournal);
  connect(ui_->AReload, &QAction::triggered, this, [this] { reload(); });
  connect(ui_->AReport, &QAction::triggered, this, [this] { composeReport(); });
  connect(ui_->APrintReport, &QAction::triggered, this, &JournalWindow::printReport);
  ui_->ASaveReport->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  connect(ui_->ASaveReport, &QAction::triggered, this, &JournalWindow::saveReport);
  connect(ui_->AExport, &QAction::triggered, this, &JournalWindow::exportEvents);
  summaryChoice_ = AddSummaryPageChoice(ui_->JournalMenu, ui_->AExport);
  connect(ui_->ANewest, &QAction::triggered, this, &JournalWindow::showNewest);
  connect(ui_->AOldest, &QAction::triggered, this, &JournalWindow::showOldest);
  connect(ui_->ARenameDevice, &QAction::triggered, this, &JournalWindow::renameDevice);
  connect(ui_->AUndoImport, &QAction::triggered, this, &JournalWindow::undoLastImport);
  connect(ui_->ACheckJournal, &QAction::triggered, this, &JournalWindow::checkJournal);
  connect(ui_->ABackupJournal, &QAction::triggered, this, &JournalWindow::backupJournal);
  connect(ui_->AClose, &QAction::triggered, this, &QWidget::close);
  connect(ui_->ReportButton, &QPushButton::clicked, ui_->AReport, &QAction::trigger);
  connect(ui_->PrintButton, &QPushButton::clicked, ui_->APrintReport, &QAction::trigger);
  connect(ui_->ExportButton, &QPushButton::clicked, ui_->AExport, &QAction::trigger);
  connect(ui_->NewestButton, &QPushButton::clicked, ui_->ANewest, &QAction::trigger);
  connect(ui_->OldestButton, &QPushButton::clicked, ui_->AOldest, &QAction::trigger);
}

void JournalWindow::setUpKeys() {
  // The window's keys (Ctrl+E, Ctrl+Home, ...) reach its actions from the
  // date and number fields too, which would take them as editing keys; the
  // report box keeps Ctrl+Home and Ctrl+End for moving in the report.
  for (QWidget* field :
       std::initializer_list<QWidget*>{ui_->FromDate, ui_->ToDate, ui_->InputBox, ui_->ReportBox}) {
    field->installEventFilter(this);
  }
  // A typed date that is no date is said once typing has ended, out of the
  // focus change that ended it.
  for (DateField* date : {ui_->FromDate, ui_->ToDate}) {
    connect(
        date, &DateField::typedDateRefused, this,
        [this, date](const QString& text) {
          services_.message(this,
                            QStringLiteral("Дата %1 не принята: такой даты нет или она вне "
                                           "%2–%3 годов. Дата осталась прежней.")
                                .arg(text)
                                .arg(date->minimumDate().year())
                                .arg(date->maximumDate().year()),
                            MessageIcon::kWarning);
        },
        Qt::QueuedConnection);
  }
}

void JournalWindow::restoreSettings() {
  const auto settings = ProgramSettings();
  placeRestored_ = restoreGeometry(settings->value(kGeometryKey).toByteArray());
  if (!placeRestored_) resize(960, 640);
  ui_->Splitter->restoreState(settings->value(kSplitterKey).toByteArray());
}

JournalWindow::~JournalWindow() {
  const auto settings = ProgramSettings();
  settings->setValue(kGeometryKey, saveGeometry());
  settings->setValue(kSplitterKey, ui_->Splitter->saveState());
  model_->setView(nullptr);
  clearReport();
  ReturnFreedMemory();
}

void JournalWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownBefore_) return;
  shownBefore_ = true;
  // However the window was left, it opens with room for kRowsShown rows:
  // taken from the report box first (it keeps four lines), then added to
  // the window's height.
  QTableView* table = ui_->EventView;
  const int rowHeight = table->verticalHeader()->defaultSectionSize();
  const auto missing = [&] {
    layout()->activate();
    return kRowsShown * rowHeight - table->viewport()->height();
  };
  const auto takeFromReport = [&] {
    QList<int> sizes = ui_->Splitter->sizes();
    const int taken = std::min(missing(), std::max(0, sizes[1] - 4 * rowHeight));
    if (taken <= 0) return;
    sizes[0] += taken;
    sizes[1] -= taken;
    ui_->Splitter->setSizes(sizes);
  };
  takeFromReport();
  // The splitter gives part of each growth to the box: a few rounds.
  for (int round = 0; round < 8 && missing() > 0; ++round) {
    const int room = screen()->availableGeometry().height() - frameGeometry().height();
    if (room <= 0) break;
    resize(width(), height() + std::min(missing(), room));
    takeFromReport();
  }
}

bool JournalWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->EventView && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    const QString text = SelectionAsTsv(*ui_->EventView);
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
    return true;
  }
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    if (watched == ui_->ReportBox) {
      if (pressed == ui_->ANewest->shortcut() || pressed == ui_->AOldest->shortcut()) {
        key->accept();  // the box's own key
        return true;
      }
    } else if (std::ranges::any_of(ui_->JournalMenu->actions(), [&](const QAction* action) {
                 return !action->shortcut().isEmpty() && action->shortcut() == pressed;
               })) {
      // What is typed in a date counts before the action runs.
      if (auto* date = qobject_cast<DateField*>(watched)) date->finishTyping();
      return true;  // left unaccepted, the key goes to the window's action
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void JournalWindow::addJournalAction(QAction* action) {
  QAction* first = ui_->JournalMenu->actions().value(0);
  ui_->JournalMenu->insertAction(first, action);
  ui_->JournalMenu->insertSeparator(first);
}

void JournalWindow::reload(const std::optional<std::string>& device) {
  const int shown = ui_->DeviceBox->currentIndex();
  const std::optional<std::string> current =
      shown >= 0 && shown < static_cast<int>(devices_.size())
          ? std::optional<std::string>(devices_[static_cast<std::size_t>(shown)].name)
          : std::nullopt;
  model_->setView(nullptr);
  model_->forgetEntries();
  journal_.reset();
  overviewFor_.reset();  // the journal may have changed: the overview is read anew
  devices_.clear();
  {
    const QSignalBlocker blocker(ui_->DeviceBox);
    ui_->DeviceBox->clear();
  }
  path_ = JournalLocation();
  const bool server = path_ && IsServerJournal(*path_);
  ui_->JournalFileLabel->setText(
      (server ? QStringLiteral("Журнал на сервере: ") : QStringLiteral("Файл журнала: ")) +
      (path_ ? ShownJournalLocation(*path_) : QStringLiteral("не задан")));
  setWindowTitle(path_ ? QStringLiteral("Журнал событий — ") + ShownJournalLocation(*path_)
                       : QStringLiteral("Журнал событий"));
  if (!path_) {
    showEmpty(NoJournalPathText());
    return;
  }
  // A journal not made yet is no failure: the first archive added makes it.
  if (!server && !QFileInfo::exists(*path_)) {
    showEmpty(
        QStringLiteral("Журнал еще не создан: в него не добавлен ни один архив.\n"
                       "Добавить архив: «Журнал → Добавить архив в журнал» (Ctrl+J)."));
    return;
  }
  const auto failed = [&](const veks::JournalError& error) {
    journal_.reset();
    const QString text = journalText(Text(error.message));
    showEmpty(text);
    services_.message(this, text, MessageIcon::kWarning);
  };
  // A server may take its connect timeout to answer: it is reached off the
  // GUI thread, the window repainting meanwhile.
  const auto open = [&] {
    const std::string location = path_->toStdString();
    if (!server) return veks::Journal::Open(location, veks::Journal::Access::kRead);
    std::optional<veks::JournalResult<std::unique_ptr<veks::Journal>>> result;
    RunBackgroundWork(this, QStringLiteral("Подключение к журналу…"), [&](WorkProgress&) {
      result.emplace(veks::Journal::Open(location, veks::Journal::Access::kRead));
    });
    return std::move(*result);
  };
  auto opened = open();
  // A server that wants a password nothing gave: the operator is asked.
  if (!opened.ok() && server && opened.error().kind == veks::JournalError::Kind::kUnavailable &&
      AskServerPassword(this, services_, *path_)) {
    opened = open();
  }
  if (!opened.ok() && opened.error().kind == veks::JournalError::Kind::kMissing && server) {
    showEmpty(
        QStringLiteral("Журнала на сервере еще нет: в него не добавлен ни один архив.\n"
                       "Добавить архив: «Журнал → Добавить архив в журнал» (Ctrl+J)."));
    return;
  }
  if (!opened.ok()) return failed(opened.error());
  journal_ = std::move(opened.value());
  if (const auto& readOnly = journal_->readOnlyReason()) {
    ui_->JournalFileLabel->setText(ui_->JournalFileLabel->text() + QStringLiteral(" — ") +
                                   Text(veks::kMsgJournalReadOnly) + QStringLiteral(": ") +
                                   Text(*readOnly));
  }
  auto devices = journal_->devices();
  if (!devices.ok() && offerReconnect(Text(devices.error().message))) return;
  if (!devices.ok()) return failed(devices.error());
  devices_ = std::move(devices.value());
  std::stable_sort(devices_.begin(), devices_.end(), [](const auto& a, const auto& b) {
    return ReadsBefore(Text(a.name), Text(b.name));
  });
  if (devices_.empty()) {
    showEmpty(
        QStringLiteral("Журнал пуст: в него не добавлен ни один архив.\n"
                       "Добавить архив: «Журнал → Добавить архив в журнал» (Ctrl+J)."));
    return;
  }
  const auto indexOf = [&](const std::optional<std::string>& name) {
    const auto found = std::find_if(devices_.begin(), devices_.end(),
                                    [&](const auto& summary) { return name == summary.name; });
    return found == devices_.end() ? -1 : static_cast<int>(found - devices_.begin());
  };
  int chosen = indexOf(current);
  if (chosen < 0) chosen = std::max(indexOf(device), 0);
  {
    const QSignalBlocker blocker(ui_->DeviceBox);
    for (const veks::DeviceSummary& summary : devices_) ui_->DeviceBox->addItem(Text(summary.name));
    ui_->DeviceBox->setCurrentIndex(chosen);
  }
  setFiltersEnabled(true);
  deviceChosen();
}

void JournalWindow::deviceChosen() {
  const int index = ui_->DeviceBox->currentIndex();
  if (index < 0 || index >= static_cast<int>(devices_.size())) return;
  const veks::DeviceSummary& device = devices_[static_cast<std::size_t>(index)];
  // A date range not in use starts from the device's first and last days.
  const std::pair<QDateEdit*, QDate> edges[] = {{ui_->FromDate, IsoDate(device.firstTimestamp)},
                                                {ui_->ToDate, IsoDate(device.lastTimestamp)}};
  for (const auto& [edit, date] : edges) {
    if (edit->isEnabled() || !date.isValid()) continue;
    const QSignalBlocker blocker(edit);
    edit->setDate(date);
  }
  showHistory();
  showUndoableImport();
}

void JournalWindow::showHistory() {
  // Every change of the device, the filters or the journal comes here: a
  // report made before it no longer shows what the table does, and printing
  // or saving makes the report anew.
  clearReport();
  model_->setView(nullptr);
  ui_->EventView->clearSpans();
  if (!journal_ || ui_->DeviceBox->currentIndex() < 0) return;
  auto view = journal_->view(selection().filter);
  if (!view.ok()) {
    if (offerReconnect(Text(view.error().message))) return;
    const QString text = journalText(Text(view.error().message));
    showEmpty(text);
    services_.message(this, text, MessageIcon::kWarning);
    return;
  }
  model_->setView(std::move(view.value()), notes_->sources(selection().filter));
  refreshOverview();
  showCounts();
  ui_->TablePages->setCurrentWidget(ui_->EventView);
  ui_->EventView->scrollToTop();
}

void JournalWindow::showCounts() {
  ui_->EventView->clearSpans();
  for (const int row : model_->gapRows()) {
    ui_->EventView->setSpan(row, 0, 1, JournalHistoryModel::kColumnCount);
  }
  const auto& shown = *model_->view();
  const veks::EventFilter f = selection().filter;
  const bool filtered = f.fromDate || f.toDate || f.input || f.eventText || f.withNotes;
  ui_->StatusLine->setText(shown.eventCount() == 0
                               ? QStringLiteral("Нет событий по отбору")
                               : (filtered ? QStringLiteral("Событий по отбору: %1, участков: %2")
                                           : QStringLiteral("Событий: %1, участков: %2"))
                                     .arg(shown.eventCount())
                                     .arg(shown.segmentCount()));
}

void JournalWindow::showEmpty(const QString& text) {
  model_->setView(nullptr);
  ui_->EventView->clearSpans();
  ui_->EmptyLabel->setText(text);
  ui_->TablePages->setCurrentWidget(ui_->EmptyLabel);
  ui_->StatusLine->clear();
  clearReport();
  overviewNothing(text);
  setFiltersEnabled(false);
  undoable_.reset();
  ui_->AUndoImport->setEnabled(false);
}

void JournalWindow::setFiltersEnabled(bool enabled) {
  ui_->FilterGroup->setEnabled(enabled);
  notes_->setEnabled(enabled);
  for (QAction* action : {ui_->AReport, ui_->APrintReport, ui_->ASaveReport, ui_->AExport,
                          ui_->ANewest, ui_->AOldest, ui_->ARenameDevice}) {
    action->setEnabled(enabled);
  }
  for (QPushButton* button : {ui_->ReportButton, ui_->PrintButton, ui_->ExportButton,
                              ui_->NewestButton, ui_->OldestButton}) {
    button->setEnabled(enabled);
  }
  ui_->AllDevicesCheck->setEnabled(enabled);
}

JournalSelection JournalWindow::selection() const {
  JournalSelection chosen;
  veks::EventFilter& f = chosen.filter;
  veks::JournalReportTitle& title = chosen.title;
  const int index = ui_->DeviceBox->currentIndex();
  if (index >= 0 && index < static_cast<int>(devices_.size())) {
    f.device = devices_[static_cast<std::size_t>(index)].name;
  }
  // The journal takes ISO dates; the title shows them as the operator reads them.
  const auto dates = [](const QDateEdit* edit, std::optional<std::string>& iso,
                        std::optional<std::string>& shown) {
    iso = edit->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    shown = edit->date().toString(QStringLiteral("dd.MM.yy")).toStdString();
  };
  if (ui_->FromCheck->isChecked()) dates(ui_->FromDate, f.fromDate, title.from);
  if (ui_->ToCheck->isChecked()) dates(ui_->ToDate, f.toDate, title.to);
  if (ui_->InputBox->value() > 0) f.input = title.input = ui_->InputBox->value();
  if (ui_->EventBox->currentIndex() > 0) {
    f.eventText = title.event = ui_->EventBox->currentText().toStdString();
  }
  f.withNotes = notes_->onlyNotedCheck()->isChecked();
  return chosen;
}

JournalSelection JournalWindow::outputSelection() const {
  JournalSelection chosen = selection();
  if (ui_->AllDevicesCheck->isChecked()) chosen.filter.device.reset();
  return chosen;
}

void JournalWindow::clearReport() {
  ui_->ReportBox->clear();
  report_.reset();
}

bool JournalWindow::composeReport() {
  if (!journal_ || !path_) return false;
  clearReport();
  // The work reads through a journal of its own thread, with what the
  // window's filters say now.
  const std::string path = path_->toStdString();
  const JournalSelection chosen = outputSelection();
  const std::int64_t expected = model_->rowCount();
  SpooledReport::Made made;
  RunBackgroundWork(this, QStringLiteral("Составление отчета…"), [&](WorkProgress& progress) {
    made = SpooledReport::Make(path, chosen.filter, chosen.title, expected, progress);
  });
  if (made.error) {
    services_.message(this, journalText(Text(made.error->message)),
                      made.error->kind == veks::JournalError::Kind::kNoEvents
                          ? MessageIcon::kInformation
                          : MessageIcon::kWarning);
  }
  if (!made.report) return false;
  report_ = std::move(made.report);
  ShowReportStart(*report_, ui_->ReportBox);
  ReturnFreedMemory();
  return true;
}

void JournalWindow::printReport() {
  if (!journal_) return;
  if (!report_ && !composeReport()) return;
  QPrinter printer(QPrinter::HighResolution);
  if (!services_.printDialog(this, &printer)) return;
  printer.setDocName(QStringLiteral("Журнал событий"));
  ReportPageStyle style = printStyle();
  TakePageRange(printer, style);
  const QString file = printer.outputFileName();
  // Printing to a file is a save too.
  if (!file.isEmpty() && RefuseOwnFile(this, services_, file, ownFiles())) return;
  if (!file.isEmpty() && printer.outputFormat() == QPrinter::PdfFormat) {
    // Written beside its place and put there whole: a cancelled or failed
    // print leaves no part of a file, and an older one as it was.
    writeReport(file, ReportFileFormat::kPdf, style, PrinterPdfPages(printer, printer.docName()));
    return;
  }
  PrintOutcome printed = PrintOutcome::kFailed;
  RunBackgroundWork(this, QStringLiteral("Печать отчета…"),
                    [&, report = report_, summary = summaryStep()](WorkProgress& progress) {
                      summary(style);
                      printed = PrintReport(*report, style, printer, PageProgress(progress));
                    });
  ReturnFreedMemory();
  if (printed == PrintOutcome::kFailed) {
    services_.message(this, QStringLiteral("Печать не удалась: принтер недоступен"),
                      MessageIcon::kWarning);
  }
}

bool JournalWindow::writeReport(const QString& file, ReportFileFormat format,
                                const ReportPageStyle& style, const PdfPages& pages) {
  SaveOutcome outcome;
  RunBackgroundWork(this, QStringLiteral("Запись отчета…"),
                    [&, report = report_, summary = summaryStep(),
                     style = style](WorkProgress& progress) mutable {
                      summary(style);
                      outcome = SaveReportLines(*report, file, format, style, pages,
                                                PageProgress(progress));
                    });
  ReturnFreedMemory();
  if (outcome.outcome == PrintOutcome::kFailed) {
    services_.message(this,
                      QStringLiteral("Отчет не удается сохранить в файл %1: %2")
                          .arg(QDir::toNativeSeparators(file), outcome.reason),
                      MessageIcon::kWarning);
  }
  return outcome.outcome == PrintOutcome::kPrinted;
}

ReportPageStyle JournalWindow::printStyle() const {
  ReportPageStyle style{ui_->ReportBox->font(),
                        Text(veks::ReportHeaderLine(veks::EventTable::HeaderRow())),
                        ReportPageStyle::Numbering::kOfTotal};
  return style;
}

std::function<void(ReportPageStyle&)> JournalWindow::summaryStep() const {
  if (!path_ || !summaryChoice_->isChecked()) return [](ReportPageStyle&) {};
  // The summary's statistics are read in the work's thread, through a journal
  // of its own: over a million events they would hold up the window.
  return [path = path_->toStdString(), filter = outputSelection().filter](ReportPageStyle& style) {
    auto opened = veks::Journal::Open(path, veks::Journal::Access::kRead);
    if (opened.ok()) style.frontPage = SummaryFrontPage(*opened.value(), filter);
  };
}

void JournalWindow::saveReport() {
  if (!journal_) return;
  // As for printing, an empty box gets the report of what the filters show;
  // the file holds the whole report, however little of it the box shows.
  if (!report_ && !composeReport()) return;
  const std::optional<SaveChoice> choice = AskReportFile(
      this, services_, proposedName(QStringLiteral("отчет"), QStringLiteral("pdf")), ownFiles());
  if (!choice) return;
  if (writeReport(choice->fileName, ReportFormatOf(choice->fileName, choice->filter), printStyle(),
                  PrinterPdfPages(report_->title()))) {
    statusBar()->showMessage(QStringLiteral("Отчет сохранен: ") +
                             QDir::toNativeSeparators(choice->fileName));
  }
}

QString JournalWindow::journalText(const QString& message) const {
  return path_ ? ShownJournalLocation(*path_) + QStringLiteral(": ") + message : message;
}

bool JournalWindow::offerReconnect(const QString& message) {
  if (!message.startsWith(QString::fromUtf8(veks::kMsgServerLost))) return false;
  // What was shown, to show again once connected: the device and the
  // filters stay in their fields; the row and the scroll are kept here.
  const int row = ui_->EventView->currentIndex().row();
  const int scrolled = ui_->EventView->verticalScrollBar()->value();
  const QString text = journalText(message);
  showEmpty(text);
  journal_.reset();
  if (!services_.confirm(this, QStringLiteral("Связь с сервером журнала потеряна. "
                                              "Подключиться снова?"))) {
    return true;
  }
  reload();
  if (!journal_ || row < 0 || model_->rowCount() == 0) return true;
  ui_->EventView->setCurrentIndex(model_->index(std::min(row, model_->rowCount() - 1), 0));
  ui_->EventView->verticalScrollBar()->setValue(scrolled);
  return true;
}

OwnFiles JournalWindow::ownFiles() const {
  return OwnFiles{chosenArchive_ ? chosenArchive_() : QString(), JournalFileOf(path_)};
}

QString JournalWindow::proposedName(const QString& prefix, const QString& suffix) const {
  QString name = prefix;
  const int index = ui_->DeviceBox->currentIndex();
  if (index < 0 || index >= static_cast<int>(devices_.size())) {
    return name + QLatin1Char('.') + suffix;
  }
  const veks::DeviceSummary& device = devices_[static_cast<std::size_t>(index)];
  std::optional<std::string> lastTimestamp = device.lastTimestamp;
  if (ui_->AllDevicesCheck->isChecked()) {
    name += QStringLiteral("-все-устройства");
    for (const veks::DeviceSummary& summary : devices_) {
      lastTimestamp = std::max(lastTimestamp, summary.lastTimestamp);
    }
  } else {
    const QString deviceName = FileNamePart(Text(device.name));
    if (!deviceName.isEmpty()) name += QLatin1Char('-') + deviceName;
  }
  const QDate last = ui_->ToCheck->isChecked() ? ui_->ToDate->date() : IsoDate(lastTimestamp);
  if (last.isValid()) name += QLatin1Char('-') + last.toString(Qt::ISODate);
  return name + QLatin1Char('.') + suffix;
}

void JournalWindow::exportEvents() {
  if (!journal_ || !path_) return;
  const std::optional<SaveChoice> choice = services_.saveFileName(
      this, QStringLiteral("Экспорт событий"),
      {kExportCsvFilter, kExportJsonlFilter, kExportNotesCsvFilter, kExportNotesJsonlFilter},
      proposedName(QStringLiteral("события"), QStringLiteral("csv")));
  if (!choice) return;
  if (const std::optional<QString> refusal = ExportRefusal(choice->fileName, ownFiles())) {
    services_.message(this, *refusal, MessageIcon::kWarning);
    return;
  }
  // The export reads through a journal of its own thread.
  const std::string path = path_->toStdString();
  const veks::EventFilter filter = outputSelection().filter;
  const veks::ExportFormat format = ExportFormatOf(choice->fileName, choice->filter);
  const QString fileName = choice->fileName;
  const bool notes = ExportsNotes(choice->filter);
  const std::int64_t expected = model_->rowCount();
  ExportFileOutcome outcome;
  std::optional<veks::JournalError> openFailed;
  RunBackgroundWork(this, QStringLiteral("Экспорт событий…"), [&](WorkProgress& progress) {
    auto opened = veks::Journal::Open(path, veks::Journal::Access::kRead);
    if (!opened.ok()) {
      openFailed = opened.error();
      return;
    }
    std::int64_t events = 0;
    progress.setTotal(expected);
    outcome = ExportToFile(*opened.value(), filter, format, fileName, notes, [&] {
      if (++events % 1024 == 0) progress.setDone(events);
      return !progress.canceled();
    });
  });
  ReturnFreedMemory();
  if (openFailed) {
    services_.message(this, journalText(Text(openFailed->message)), MessageIcon::kWarning);
    return;
  }
  if (outcome.canceled) return;
  if (outcome.error) {
    services_.message(this, *outcome.error,
                      outcome.noEvents ? MessageIcon::kInformation : MessageIcon::kWarning);
    return;
  }
  services_.message(this,
                    (ExportsNotes(choice->filter) ? QStringLiteral("Записано примечаний: %1\n%2")
                                                  : QStringLiteral("Записано событий: %1\n%2"))
                        .arg(outcome.events)
                        .arg(QDir::toNativeSeparators(choice->fileName)),
                    MessageIcon::kInformation);
}

void JournalWindow::openJournalFile() {
  const std::optional<QString> chosen =
      services_.openFileName(this, QStringLiteral("Выбор файла журнала"), QStringLiteral("sqlite"),
                             QStringLiteral("Журналы событий (*.sqlite);;Все файлы (*)"));
  if (!chosen) return;
  // A file that exists must be a journal; one that does not is a journal
  // still to be made, by the first archive added.
  if (QFileInfo::exists(*chosen)) {
    auto opened = veks::Journal::Open(chosen->toStdString(), veks::Journal::Access::kRead);
    if (!opened.ok()) {
      services_.message(
          this,
          QDir::toNativeSeparators(*chosen) + QStringLiteral(": ") + Text(opened.error().message),
          MessageIcon::kWarning);
      return;
    }
  }
  SetJournalLocation(QFileInfo(*chosen).absoluteFilePath());
  reload();
}

void JournalWindow::useDefaultJournal() {
  SetJournalLocation({});
  reload();
}

void JournalWindow::showNewest() {
  if (model_->rowCount() == 0) return;
  ui_->EventView->setCurrentIndex(model_->index(0, 0));
  ui_->EventView->scrollToTop();
  ui_->EventView->setFocus();
}

void JournalWindow::showOldest() {
  if (model_->rowCount() == 0) return;
  ui_->EventView->setCurrentIndex(model_->index(model_->rowCount() - 1, 0));
  ui_->EventView->scrollToBottom();
  ui_->EventView->setFocus();
}

void JournalWindow::renameDevice() {
  const int index = ui_->DeviceBox->currentIndex();
  if (!path_ || index < 0 || index >= static_cast<int>(devices_.size())) return;
  const std::string device = devices_[static_cast<std::size_t>(index)].name;
  QStringList others;
  for (const veks::DeviceSummary& summary : devices_) {
    if (summary.name != device) others << Text(summary.name);
  }
  QString offered = Text(device);
  QString name;
  for (;;) {
    const std::optional<QString> given =
        services_.askNewDeviceName(this, Text(device), offered, others);
    if (!given) return;
    // Blanks around a name are a slip of the keyboard, unless a device of the
    // journal is named so.
    name = others.contains(*given) ? *given : given->trimmed();
    if (name == Text(device)) return;  // the name it has: nothing to do
    if (veks::IsValidDeviceName(name.toStdString())) break;
    services_.message(this,
                      QStringLiteral("Неверное имя устройства: имя не может быть пустым "
                                     "или содержать управляющие символы"),
                      MessageIcon::kWarning);
    offered = *given;
  }
  // Joining cannot be undone: the device's own history is gone from the list.
  if (others.contains(name) &&
      !services_.confirm(this, QStringLiteral("Объединить историю устройства «%1» с историей "
                                              "устройства «%2»?\nУстройство «%1» исчезнет из "
                                              "журнала; объединение нельзя отменить.")
                                   .arg(Text(device), name))) {
    return;
  }
  // The window reads only; the rename writes through a journal of its own,
  // closed as soon as it is done, off the GUI thread: another program may
  // hold the journal, and the operator may stop waiting for it.
  std::optional<veks::JournalError> error;
  std::optional<veks::RenameOutcome> outcome;
  const std::string path = path_->toStdString();
  const WorkEnd end =
      RunBackgroundWork(this, QStringLiteral("Переименование устройства…"), [&](WorkProgress& p) {
        auto opened = veks::Journal::Open(path, veks::Journal::Access::kWrite);
        if (!opened.ok()) {
          error = opened.error();
          return;
        }
        opened.value()->setBusyWait([&p] {
          p.setWaiting(true);
          return !p.canceled();
        });
        auto renamed = opened.value()->renameDevice(device, name.toStdString());
        if (renamed.ok()) {
          outcome = std::move(renamed.value());
        } else {
          error = renamed.error();
        }
      });
  if (error && end == WorkEnd::kCanceled) return;  // the wait was stopped: nothing changed
  if (error) {
    services_.message(this, journalText(Text(error->message)), MessageIcon::kWarning);
    // Another process may have renamed or joined the device meanwhile.
    if (error->kind == veks::JournalError::Kind::kUnknownDevice) reload();
    return;
  }
  services_.message(this, Text(veks::RenameOutcomeText(*outcome)), MessageIcon::kInformation);
  reload(outcome->newName);
}

void JournalWindow::showUndoableImport() {
  undoable_.reset();
  const int index = ui_->DeviceBox->currentIndex();
  // A journal this process cannot write has nothing it could undo.
  if (journal_ && !journal_->readOnlyReason() && index >= 0 &&
      index < static_cast<int>(devices_.size())) {
    auto last = journal_->lastImport(devices_[static_cast<std::size_t>(index)].name);
    if (last.ok()) undoable_ = std::move(last.value());
  }
  ui_->AUndoImport->setEnabled(undoable_.has_value());
}

void JournalWindow::undoLastImport() {
  const int index = ui_->DeviceBox->currentIndex();
  if (!path_ || !undoable_ || index < 0 || index >= static_cast<int>(devices_.size())) return;
  const std::string device = devices_[static_cast<std::size_t>(index)].name;
  const UndoImportEnd end =
      AskAndUndoLastImport(this, services_, path_->toStdString(), device, *undoable_);
  if (end.error) {
    services_.message(this, journalText(end.text), MessageIcon::kWarning);
    // Another import or undo came meanwhile: the window shows the journal as it is.
    reload();
    return;
  }
  if (!end.done) return;
  services_.message(this, end.text, MessageIcon::kInformation);
  reload(device);
}

void JournalWindow::checkJournal() {
  if (!path_) {
    services_.message(this, NoJournalPathText(), MessageIcon::kWarning);
    return;
  }
  // The check reads through a journal of its own thread; the window's own
  // journal stays with the window.
  const std::string path = path_->toStdString();
  std::optional<veks::JournalResult<std::vector<std::string>>> result;
  const WorkEnd end =
      RunBackgroundWork(this, QStringLiteral("Проверка журнала…"), [&](WorkProgress&) {
        auto opened = veks::Journal::Open(path, veks::Journal::Access::kRead);
        result = opened.ok() ? opened.value()->check() : opened.error();
      });
  // The check cannot stop midway; "Отмена" means the operator no longer waits
  // for its answer.
  if (end == WorkEnd::kCanceled) return;
  if (!result->ok()) {
    services_.message(this, journalText(Text(result->error().message)), MessageIcon::kWarning);
    return;
  }
  const std::vector<std::string>& problems = result->value();
  if (problems.empty()) {
    services_.message(this, journalText(QStringLiteral("журнал исправен")),
                      MessageIcon::kInformation);
    return;
  }
  // A message box holds a screenful; the command line lists every problem.
  constexpr std::size_t kShown = 20;
  QStringList lines;
  for (std::size_t i = 0; i < std::min(problems.size(), kShown); ++i) lines << Text(problems[i]);
  if (problems.size() > kShown) {
    lines << QStringLiteral("… и еще %1 (все выводит «veks12-journal check»)")
                 .arg(problems.size() - kShown);
  }
  services_.message(
      this, journalText(QStringLiteral("журнал неисправен:\n")) + lines.join(QLatin1Char('\n')),
      MessageIcon::kCritical);
}

void JournalWindow::backupJournal() {
  if (!path_) {
    services_.message(this, NoJournalPathText(), MessageIcon::kWarning);
    return;
  }
  const std::optional<SaveChoice> choice = services_.saveFileName(
      this, QStringLiteral("Резервная копия журнала"),
      {QStringLiteral("Журналы событий (*.sqlite)")},
      QStringLiteral("журнал-%1.sqlite").arg(QDate::currentDate().toString(Qt::ISODate)));
  if (!choice) return;
  const QString target = choice->fileName;
  const QString shown = QDir::toNativeSeparators(target);
  // The save dialog asks whether to replace a file that is there, but a copy
  // never replaces one (the journal's own file included): say so plainly.
  if (QFileInfo::exists(target)) {
    services_.message(this,
                      QStringLiteral("%1: копия не записана: файл уже существует.\n"
                                     "Резервная копия никогда не заменяет файл: "
                                     "выберите новое имя.")
                          .arg(shown),
                      MessageIcon::kWarning);
    return;
  }
  const std::string path = path_->toStdString();
  const std::string to = target.toStdString();
  std::optional<veks::JournalResult<std::int64_t>> result;
  // The copy cannot stop midway, and once made it stays: whatever the
  // operator pressed, the outcome is told.
  RunBackgroundWork(this, QStringLiteral("Резервная копия журнала…"), [&](WorkProgress&) {
    auto opened = veks::Journal::Open(path, veks::Journal::Access::kRead);
    result = opened.ok() ? opened.value()->backup(to) : opened.error();
  });
  if (!result->ok()) {
    services_.message(this, shown + QStringLiteral(": ") + Text(result->error().message),
                      MessageIcon::kWarning);
    return;
  }
  services_.message(this, QStringLiteral("%1: событий %2").arg(shown).arg(result->value()),
                    MessageIcon::kInformation);
}
