#include "ui/journal_window.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPrinter>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSettings>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <ostream>
#include <streambuf>

#include "archive/event_decoder.h"
#include "journal/journal_output.h"
#include "report/event_export.h"
#include "ui/dialog_services.h"
#include "ui/journal_history_model.h"
#include "ui/report_box.h"
#include "ui_journal_window.h"

namespace {

const QString kJournalFileKey = QStringLiteral("journal/file");
const QString kGeometryKey = QStringLiteral("journalWindow/geometry");
const QString kSplitterKey = QStringLiteral("journalWindow/splitter");
const QString kCsvFilter = QStringLiteral("CSV, UTF-8 (*.csv)");
const QString kJsonlFilter = QStringLiteral("JSON lines (*.jsonl)");
const QString kAnyEvent = QStringLiteral("все");

QString Text(const std::string& text) { return QString::fromStdString(text); }

// "YYYY-MM-DD..." as a date, invalid when the text is none.
QDate IsoDate(const std::optional<std::string>& timestamp) {
  if (!timestamp) return {};
  return QDate::fromString(Text(timestamp->substr(0, 10)), Qt::ISODate);
}

// Export lines go to the file a buffer at a time.
class FileStreamBuf : public std::streambuf {
 public:
  explicit FileStreamBuf(QIODevice& device) : device_(device) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }

 protected:
  int_type overflow(int_type ch) override {
    if (!flush()) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(ch);
      pbump(1);
    }
    return traits_type::not_eof(ch);
  }
  int sync() override { return flush() ? 0 : -1; }

 private:
  bool flush() {
    const qint64 size = pptr() - pbase();
    if (size > 0 && device_.write(pbase(), size) != size) return false;
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return true;
  }

  QIODevice& device_;
  std::array<char, 1 << 16> buffer_{};
};

}  // namespace

std::optional<QString> JournalFilePath() {
  const QString chosen = ProgramSettings()->value(kJournalFileKey).toString();
  if (!chosen.isEmpty()) return chosen;
  const auto path = veks::DefaultJournalPath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  if (!path) return std::nullopt;
  return Text(*path);
}

void SetJournalFilePath(const QString& path) {
  const auto settings = ProgramSettings();
  if (path.isEmpty()) {
    settings->remove(kJournalFileKey);
  } else {
    settings->setValue(kJournalFileKey, path);
  }
}

QString NoJournalPathText() {
  return QStringLiteral(
      "Не задан файл журнала: переменные HOME и XDG_DATA_HOME не указывают каталог. "
      "Откройте файл журнала: «Журнал → Открыть файл журнала…» (Ctrl+O).");
}

JournalWindow::JournalWindow(UiServices& services, QWidget* parent)
    : QMainWindow(parent, Qt::Window),
      ui_(std::make_unique<Ui::JournalWindow>()),
      services_(services) {
  ui_->setupUi(this);
  setAttribute(Qt::WA_DeleteOnClose);

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

  model_ = new JournalHistoryModel(this);
  QTableView* table = ui_->EventView;
  table->setModel(model_);
  model_->keepPlaceOf(table->selectionModel());
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
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
  header->resizeSection(
      JournalHistoryModel::kStampColumn,
      fontMetrics().horizontalAdvance(QStringLiteral("00.00.00 00:00:00")) + padding);
  header->resizeSection(JournalHistoryModel::kSegmentColumn,
                        fontMetrics().horizontalAdvance(QStringLiteral("Участок")) + padding);
  header->resizeSection(
      JournalHistoryModel::kInputColumn,
      fontMetrics().horizontalAdvance(QStringLiteral("МУК 128 закрыть")) + padding);

  SetupReportBox(ui_->ReportBox);
  ui_->Splitter->setStretchFactor(0, 3);
  ui_->Splitter->setStretchFactor(1, 1);

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
  connect(model_, &JournalHistoryModel::readFailed, this, [this](const QString& message) {
    services_.message(this, message);
    reload();
  });
  connect(model_, &JournalHistoryModel::reloaded, this, [this] {
    showCounts();
    ui_->EventView->scrollTo(ui_->EventView->currentIndex());
  });

  connect(ui_->AOpenJournalFile, &QAction::triggered, this, &JournalWindow::openJournalFile);
  connect(ui_->ADefaultJournal, &QAction::triggered, this, &JournalWindow::useDefaultJournal);
  connect(ui_->AReload, &QAction::triggered, this, [this] { reload(); });
  connect(ui_->AReport, &QAction::triggered, this, &JournalWindow::composeReport);
  connect(ui_->APrintReport, &QAction::triggered, this, &JournalWindow::printReport);
  connect(ui_->AExport, &QAction::triggered, this, &JournalWindow::exportEvents);
  connect(ui_->ANewest, &QAction::triggered, this, &JournalWindow::showNewest);
  connect(ui_->AOldest, &QAction::triggered, this, &JournalWindow::showOldest);
  connect(ui_->AClose, &QAction::triggered, this, &QWidget::close);
  connect(ui_->ReportButton, &QPushButton::clicked, ui_->AReport, &QAction::trigger);
  connect(ui_->PrintButton, &QPushButton::clicked, ui_->APrintReport, &QAction::trigger);
  connect(ui_->ExportButton, &QPushButton::clicked, ui_->AExport, &QAction::trigger);
  connect(ui_->NewestButton, &QPushButton::clicked, ui_->ANewest, &QAction::trigger);
  connect(ui_->OldestButton, &QPushButton::clicked, ui_->AOldest, &QAction::trigger);

  // Ctrl+Home and Ctrl+End go to the newest and the oldest event from the
  // date and number fields too, where they would only move the text cursor.
  for (QWidget* field :
       std::initializer_list<QWidget*>{ui_->FromDate, ui_->ToDate, ui_->InputBox}) {
    field->installEventFilter(this);
  }

  const auto settings = ProgramSettings();
  if (!restoreGeometry(settings->value(kGeometryKey).toByteArray())) resize(960, 640);
  ui_->Splitter->restoreState(settings->value(kSplitterKey).toByteArray());

  reload();
  ui_->DeviceBox->setFocus();
}

JournalWindow::~JournalWindow() {
  const auto settings = ProgramSettings();
  settings->setValue(kGeometryKey, saveGeometry());
  settings->setValue(kSplitterKey, ui_->Splitter->saveState());
  model_->setView(nullptr);
}

bool JournalWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    // Left unaccepted, the key goes to the window's action.
    if (pressed == ui_->ANewest->shortcut() || pressed == ui_->AOldest->shortcut()) return true;
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
  journal_.reset();
  devices_.clear();
  {
    const QSignalBlocker blocker(ui_->DeviceBox);
    ui_->DeviceBox->clear();
  }
  path_ = JournalFilePath();
  ui_->JournalFileLabel->setText(
      QStringLiteral("Файл журнала: ") +
      (path_ ? QDir::toNativeSeparators(*path_) : QStringLiteral("не задан")));
  if (!path_) {
    showEmpty(NoJournalPathText());
    return;
  }
  // A journal not made yet is no failure: the first archive added makes it.
  if (!QFileInfo::exists(*path_)) {
    showEmpty(
        QStringLiteral("Журнал еще не создан: в него не добавлен ни один архив.\n"
                       "Добавить архив: «Журнал → Добавить архив в журнал» (Ctrl+J)."));
    return;
  }
  const auto failed = [&](const veks::JournalError& error) {
    journal_.reset();
    const QString text =
        QDir::toNativeSeparators(*path_) + QStringLiteral(": ") + Text(error.message);
    showEmpty(text);
    services_.message(this, text);
  };
  auto opened = veks::Journal::Open(path_->toStdString(), veks::Journal::Access::kRead);
  if (!opened.ok()) return failed(opened.error());
  journal_ = std::move(opened.value());
  auto devices = journal_->devices();
  if (!devices.ok()) return failed(devices.error());
  devices_ = std::move(devices.value());
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
}

void JournalWindow::showHistory() {
  model_->setView(nullptr);
  ui_->EventView->clearSpans();
  if (!journal_ || ui_->DeviceBox->currentIndex() < 0) return;
  auto view = journal_->view(filter());
  if (!view.ok()) {
    const QString text = Text(view.error().message);
    showEmpty(text);
    services_.message(this, text);
    return;
  }
  model_->setView(std::move(view.value()));
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
  const veks::EventFilter f = filter();
  const bool filtered = f.fromDate || f.toDate || f.input || f.eventText;
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
  ui_->ReportBox->clear();
  setFiltersEnabled(false);
}

void JournalWindow::setFiltersEnabled(bool enabled) {
  ui_->FilterGroup->setEnabled(enabled);
  for (QAction* action :
       {ui_->AReport, ui_->APrintReport, ui_->AExport, ui_->ANewest, ui_->AOldest}) {
    action->setEnabled(enabled);
  }
  for (QPushButton* button : {ui_->ReportButton, ui_->PrintButton, ui_->ExportButton,
                              ui_->NewestButton, ui_->OldestButton}) {
    button->setEnabled(enabled);
  }
}

veks::EventFilter JournalWindow::filter() const {
  veks::EventFilter f;
  const int index = ui_->DeviceBox->currentIndex();
  if (index >= 0 && index < static_cast<int>(devices_.size())) {
    f.device = devices_[static_cast<std::size_t>(index)].name;
  }
  const auto iso = [](const QDateEdit* edit) {
    return edit->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
  };
  if (ui_->FromCheck->isChecked()) f.fromDate = iso(ui_->FromDate);
  if (ui_->ToCheck->isChecked()) f.toDate = iso(ui_->ToDate);
  if (ui_->InputBox->value() > 0) f.input = ui_->InputBox->value();
  if (ui_->EventBox->currentIndex() > 0) f.eventText = ui_->EventBox->currentText().toStdString();
  return f;
}

veks::JournalReportTitle JournalWindow::reportTitle() const {
  veks::JournalReportTitle title;
  const auto text = [](const QDateEdit* edit) {
    return edit->date().toString(QStringLiteral("dd.MM.yy")).toStdString();
  };
  if (ui_->FromCheck->isChecked()) title.from = text(ui_->FromDate);
  if (ui_->ToCheck->isChecked()) title.to = text(ui_->ToDate);
  if (ui_->InputBox->value() > 0) title.input = ui_->InputBox->value();
  if (ui_->EventBox->currentIndex() > 0) title.event = ui_->EventBox->currentText().toStdString();
  return title;
}

void JournalWindow::composeReport() {
  if (!journal_) return;
  std::optional<veks::JournalError> error;
  {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    ReportBoxSink sink(ui_->ReportBox);
    sink.clear();
    error = veks::WriteJournalReport(*journal_, filter(), reportTitle(), sink).error;
  }
  if (error) services_.message(this, Text(error->message));
}

void JournalWindow::printReport() {
  if (!journal_) return;
  if (ui_->ReportBox->document()->isEmpty()) composeReport();
  if (ui_->ReportBox->document()->isEmpty()) return;
  QPrinter printer(QPrinter::HighResolution);
  if (!services_.printDialog(this, &printer)) return;
  printer.setDocName(QStringLiteral("Журнал событий"));
  ui_->ReportBox->print(&printer);
}

bool JournalWindow::isJournalFile(const QString& path) const {
  if (!path_) return false;
  const QString journal = QFileInfo(*path_).canonicalFilePath();
  const QString target = QFileInfo(path).canonicalFilePath();
  if (journal.isEmpty() || target.isEmpty()) return false;
  // SQLite keeps recent imports in the write-ahead log beside the file.
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    if (target == journal + QLatin1String(suffix)) return true;
  }
  return false;
}

void JournalWindow::exportEvents() {
  if (!journal_) return;
  const std::optional<SaveChoice> choice =
      services_.saveFileName(this, QStringLiteral("Экспорт событий"), {kCsvFilter, kJsonlFilter});
  if (!choice) return;
  const QString* const name = &choice->fileName;
  const QString& chosenFilter = choice->filter;
  if (isJournalFile(*name)) {
    services_.message(this, QStringLiteral("Экспорт не может заменить файл журнала"));
    return;
  }
  // The name's suffix, where it names a format, wins over the filter.
  const QString suffix = QFileInfo(*name).suffix().toLower();
  const bool jsonl = suffix == QLatin1String("jsonl") ||
                     (suffix != QLatin1String("csv") && chosenFilter == kJsonlFilter);
  // The file is written beside its place under another name and takes the
  // place only when complete: a failed export leaves an older file as it was.
  QSaveFile file(*name);
  const auto failed = [&] {
    services_.message(this,
                      QDir::toNativeSeparators(*name) + QStringLiteral(": ") + file.errorString());
  };
  if (!file.open(QIODevice::WriteOnly)) return failed();
  // A byte-order mark tells spreadsheet programs that the CSV is UTF-8.
  if (!jsonl && file.write("\xEF\xBB\xBF", 3) != 3) return failed();
  FileStreamBuf buffer(file);
  std::ostream out(&buffer);
  veks::JournalOutput written;
  {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    written = veks::WriteJournalExport(
        *journal_, filter(), jsonl ? veks::ExportFormat::kJsonl : veks::ExportFormat::kCsv, out);
    out.flush();
  }
  if (written.error) {
    file.cancelWriting();
    services_.message(this, Text(written.error->message));
    return;
  }
  if (!out || !file.commit()) return failed();
  services_.message(this, QStringLiteral("Записано событий: %1\n%2")
                              .arg(written.events)
                              .arg(QDir::toNativeSeparators(*name)));
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
      services_.message(this, QDir::toNativeSeparators(*chosen) + QStringLiteral(": ") +
                                  Text(opened.error().message));
      return;
    }
  }
  SetJournalFilePath(QFileInfo(*chosen).absoluteFilePath());
  reload();
}

void JournalWindow::useDefaultJournal() {
  SetJournalFilePath({});
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
