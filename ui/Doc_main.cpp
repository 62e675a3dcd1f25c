#include "ui/Doc_main.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPrinter>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <climits>
#include <stdexcept>

#include "archive/archive_format.h"
#include "archive/block_loader.h"
#include "report/report_text.h"
#include "ui/control_focus.h"
#include "ui/date_field.h"
#include "ui/dialog_services.h"
#include "ui/event_table_model.h"
#include "ui/journal_actions.h"
#include "ui/journal_location.h"
#include "ui/journal_window.h"
#include "ui/key_codes.h"
#include "ui/report_box.h"
#include "ui/report_file.h"
#include "ui/report_printer.h"
#include "ui/table_copy.h"
#include "ui_Doc_main.h"

namespace {

constexpr int kGridColumnWidths[] = {110, 83, 100, 106};
constexpr int kGridRowHeight = 24;
constexpr int kTypingLimit = 2;
const QSize kOuterSize(882, 692);

// Whole decimal number conversion; a text that is not one raises the error
// that the error display shows.
int StrToInt(const QString& text) {
  const QString t = text.trimmed();
  bool ok = false;
  const qlonglong value = t.toLongLong(&ok, 10);
  const bool plain =
      !t.isEmpty() && std::all_of(t.begin() + (t[0] == u'+' || t[0] == u'-'), t.end(),
                                  [](QChar c) { return c >= u'0' && c <= u'9'; });
  if (!ok || !plain || value < INT_MIN || value > INT_MAX) {
    throw std::runtime_error("'" + text.toStdString() + "' is not a valid integer value");
  }
  return static_cast<int>(value);
}

QString TwoDigits(int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

}  // namespace

template <typename Handler>
void TForm_main::guarded(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    services_.errorBox(this, ErrorDisplayText(QString::fromUtf8(error.what())));
  }
}

TForm_main::TForm_main(veks::ViewState& state, UiServices& services, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::TForm_main>()),
      state_(state),
      services_(services) {
  // The form names the classic 8-point dialog font; where it is missing, the
  // metric-compatible Liberation Sans keeps the texts inside their cells.
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  ui_->setupUi(this);
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  status_ = ui_->Label1->text().toStdString();
  // Below the form's controls: where a saved report was written. The window
  // has one size, so no size grip.
  statusBar()->setSizeGripEnabled(false);
  ui_->Label1->adjustSize();

  // Icons come from the style, so the program ships no picture files.
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DialogOpenButton);
  const QIcon printIcon = QIcon::fromTheme(
      QStringLiteral("document-print"), style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  ui_->AOpenFile->setIcon(openIcon);
  ui_->N1->setIcon(openIcon);
  ui_->APrint->setIcon(printIcon);
  ui_->PrintF->setIcon(printIcon);
  // The menu items show their action's caption, icon and shortcut and run it;
  // the shortcut itself belongs to the action, so that F3 and F4 work
  // whichever control has the focus.
  connect(ui_->N1, &QAction::triggered, ui_->AOpenFile, &QAction::trigger);
  connect(ui_->PrintF, &QAction::triggered, ui_->APrint, &QAction::trigger);
  addAction(ui_->AOpenFile);
  addAction(ui_->APrint);
  // The menu's mnemonic is Alt+Ф, which a Latin keyboard layout cannot type;
  // Alt+F opens it too, with its first item current so that Enter runs it.
  auto* openMenu = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F), this);
  connect(openMenu, &QShortcut::activated, this, [this] {
    ui_->MainMenu1->setActiveAction(ui_->N1File->menuAction());
    ui_->N1File->setActiveAction(ui_->N1);
  });
  if (auto* button = ui_->ToolBar1->widgetForAction(ui_->AOpenFile)) {
    button->setObjectName(QStringLiteral("ToolButton7"));
  }
  if (auto* button = ui_->ToolBar1->widgetForAction(ui_->APrint)) {
    button->setObjectName(QStringLiteral("ToolButton6"));
    button->setToolTip(QStringLiteral("Документирование архива"));
  }
  ui_->ToolBar1->actions().constLast()->setObjectName(QStringLiteral("ToolButton8"));

  model_ = new EventTableModel(table_, this);
  QTableView* grid = ui_->StringGrid1;
  grid->setModel(model_);
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
  grid->verticalHeader()->setMinimumSectionSize(kGridRowHeight);
  grid->horizontalHeader()->setFixedHeight(kGridRowHeight);
  grid->horizontalHeader()->setHighlightSections(false);
  grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int column = 0; column < veks::EventTable::kColumns; ++column) {
    grid->horizontalHeader()->resizeSection(column, kGridColumnWidths[column]);
  }
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid->setSelectionBehavior(QAbstractItemView::SelectItems);
  grid->setWordWrap(false);
  // Tab and Shift+Tab go on to the next control, as in any form; the arrow
  // keys move between the cells.
  grid->setTabKeyNavigation(false);
  grid->installEventFilter(this);

  QLineEdit* edit = ui_->Edit1;
  edit->installEventFilter(this);
  // Typing is the only way in: no context menu paste, no drops.
  edit->setContextMenuPolicy(Qt::NoContextMenu);
  edit->setAcceptDrops(false);

  setupReportBox(ui_->RichEdit1);
  setupReportBox(ui_->RichEdit2);

  ui_->DateTimePicker2->installEventFilter(this);
  calendar_ = ui_->DateTimePicker2->calendarWidget()->window();
  calendar_->installEventFilter(this);

  focus_ = new ControlFocus(this, [this](QWidget* control) { controlExited(control); });

  connect(ui_->AOpenFile, &QAction::triggered, this, &TForm_main::OpenFileClick);
  connect(ui_->APrint, &QAction::triggered, this, &TForm_main::ToolButton6Click);
  connect(ui_->Button8, &QPushButton::clicked, this, &TForm_main::Button8Click);
  connect(ui_->Button9, &QPushButton::clicked, this, &TForm_main::Button9Click);
  connect(ui_->Button6, &QPushButton::clicked, this, &TForm_main::Button6Click);
  connect(ui_->Button5, &QPushButton::clicked, this, &TForm_main::Button5Click);
  connect(ui_->Button4, &QPushButton::clicked, this, &TForm_main::Button4Click);
  connect(ui_->Button3, &QPushButton::clicked, this, &TForm_main::Button3Click);
  connect(ui_->DateTimePicker2, &QDateEdit::dateChanged, this, &TForm_main::DateTimePicker2Change);
  connect(ui_->But1, &QPushButton::clicked, this, &TForm_main::But1Click);
  connect(ui_->But3, &QPushButton::clicked, this, &TForm_main::But3Click);
  connect(ui_->But5, &QPushButton::clicked, this, &TForm_main::But5Click);
  ui_->ASaveReport->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  connect(ui_->ASaveReport, &QAction::triggered, this, &TForm_main::SaveReportClick);

  // The menu "Журнал" beside "Файл"; adding an archive chooses one the usual way.
  new JournalActions(this, state_, services_, [this] { OpenFileClick(); });

  grid->setFocus();
  FormCreate();
}

TForm_main::~TForm_main() {
  // The table dies with this object's members, before the base class deletes
  // the grid; the grid must not ask the model for texts after that.
  ui_->StringGrid1->setModel(nullptr);
}

void TForm_main::applyOuterGeometry() {
  const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
  // A fixed size is the window's only size: the frame offers no resizing.
  setFixedSize(kOuterSize.width() - frame.left() - frame.right(),
               kOuterSize.height() - frame.top() - frame.bottom());
  QRect outer(QPoint(), kOuterSize);
  outer.moveCenter(screen()->availableGeometry().center());
  move(outer.topLeft());
}

void TForm_main::setupReportBox(QPlainTextEdit* box) {
  SetupReportBox(box);
  box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The box takes the tab key as a character, as the form's boxes do.
  box->setTabChangesFocus(false);
}

// ---- the block loader's surroundings ----

void TForm_main::showMessage(const std::string& text) {
  flushTableRewrite();  // the table behind a message shows what it holds
  services_.message(this, QString::fromStdString(text));
}

void TForm_main::setNewestStamp(const std::string& text) {
  ui_->Edit1->setText(QString::fromStdString(text));
}

void TForm_main::setStatusLine(const std::string& text) {
  status_ = text;
  if (batchingLoads_) {
    statusPending_ = true;
  } else {
    showStatusLine();
  }
}

void TForm_main::showStatusLine() {
  statusPending_ = false;
  ui_->Label1->setText(QString::fromStdString(status_));
  ui_->Label1->adjustSize();
}

std::string TForm_main::statusLine() const { return status_; }

void TForm_main::enableStepButtons() {
  ui_->Button5->setEnabled(true);
  ui_->Button6->setEnabled(true);
}

void TForm_main::tableRewritten() {
  if (batchingLoads_) {
    tableRewritePending_ = true;
  } else {
    model_->tableRewritten();
  }
}

void TForm_main::flushTableRewrite() {
  if (statusPending_) showStatusLine();
  if (!tableRewritePending_) return;
  tableRewritePending_ = false;
  model_->tableRewritten();
}

// ---- handlers ----

void TForm_main::FormCreate() {
  // A date set by the program is no operator's change: no search runs.
  const QSignalBlocker blocker(ui_->DateTimePicker2);
  ui_->DateTimePicker2->setDate(QDate::currentDate());
}

void TForm_main::OpenFileClick() {
  guarded([&] {
    for (;;) {
      const std::optional<QString> chosen =
          services_.openFileName(this, QStringLiteral("Выбор файла архива"), QStringLiteral("dat"),
                                 QStringLiteral("Файлы типа .dat (*.dat);;Все файлы (*)"));
      if (!chosen) {
        services_.message(this, QStringLiteral("Файл архива не выбран"));
        state_.ArchiveName.clear();
        return;
      }
      const QString fileName = QFileInfo(*chosen).fileName();
      const int dot = fileName.lastIndexOf(QLatin1Char('.'));
      const QString ext = dot < 0 ? QString() : fileName.mid(dot);
      state_.ArchiveName = chosen->toStdString();
      state_.ArchiveExt = ext.toStdString();
      // ".DAT" from FAT media is an archive as much as ".dat".
      if (ext.compare(QLatin1String(".dat"), Qt::CaseInsensitive) == 0) return;
      if (ext.isEmpty()) {
        state_.ArchiveName += ".dat";
        return;
      }
      services_.warning(this, QStringLiteral("Неверно задано имя файла"),
                        QStringLiteral("задание имени файла"));
    }
  });
}

void TForm_main::ToolButton6Click() { ui_->GroupBoxPrint->show(); }

void TForm_main::Button1Click() {
  guarded([&] { veks::RunBlockLoader(state_, table_, *this); });
}

void TForm_main::Button8Click() {
  state_.InputFilter = 0;
  state_.BlockDepth = 1;
  Button1Click();
}

void TForm_main::Button9Click() {
  state_.InputFilter = 0;
  state_.BlockDepth = veks::kBlockCount;
  Button1Click();
}

void TForm_main::Button6Click() {
  state_.InputFilter = 0;
  state_.StepBack = 1;
  Button1Click();
}

void TForm_main::Button5Click() {
  state_.InputFilter = 0;
  state_.StepForward = 1;
  Button1Click();
}

void TForm_main::Button4Click() {
  state_.InputFilter = 0;
  ui_->Button3->show();
}

void TForm_main::Button3Click() { ui_->DateTimePicker2->show(); }

void TForm_main::DateTimePicker2Change() {
  const QDate date = ui_->DateTimePicker2->date();
  // Records carry dd.mm.yy with full stops, whatever the system's separator.
  state_.SearchDate =
      (TwoDigits(date.day()) + u'.' + TwoDigits(date.month()) + u'.' + TwoDigits(date.year() % 100))
          .toStdString();
  state_.DateSearch = 1;
  // In the open calendar the arrow keys move the date a day at a time, and a
  // click changes it just before the calendar closes. The date counts as
  // picked when the calendar has closed (Enter, a click, Escape): hiding the
  // picker earlier would strand the focus in the calendar.
  if (calendar_->isVisible()) {
    datePending_ = true;
  } else {
    finishDateChange();
  }
}

void TForm_main::finishDateChange() {
  QWidget* picker = ui_->DateTimePicker2;
  if (!picker->isVisible()) {
    // No search can run for it now; it must not take over the next view.
    state_.DateSearch = 0;
    return;
  }
  // Hiding the picker takes the focus away from it, and its exit runs the
  // search. A picker that was never entered has no exit, so search directly.
  const bool exitRunsLoader = focus_->current() == picker;
  focus_->hideControl(picker);
  ui_->Button3->hide();
  if (!exitRunsLoader) Button1Click();
}

void TForm_main::controlExited(QWidget* control) {
  if (control == ui_->Edit1) EditBlocExit(ui_->Edit1);
  if (control == ui_->DateTimePicker2) Button1Click();
}

void TForm_main::EditBlocExit(QLineEdit* field) {
  guarded([&] {
    if (field->text().isEmpty()) RejectInput(field);
    const int number = StrToInt(field->text());
    if (number > 255 || number < 1) {
      RejectInput(field);
      return;
    }
    state_.InputNumber = number;
    state_.InputFilter = 1;
    veks::RunBlockLoader(state_, table_, *this);
  });
}

bool TForm_main::EditBlocKeyDown(QLineEdit* field, int key) {
  const bool digit = key >= 48 && key <= 57;
  const bool editing = key == 8 || key == 46 || key == 37 || key == 39;
  if (digit || editing) return false;
  if (key != 13 || field->text().isEmpty()) RejectInput(field);
  if (QWidget* next = nextControl(field)) focus_->focusControl(next);
  return true;
}

void TForm_main::RejectInput(QLineEdit* field) {
  QPalette palette = field->palette();
  palette.setColor(QPalette::Base, QColor(255, 0, 0));
  field->setPalette(palette);
  services_.message(this, QStringLiteral("Ошибка ввода"));
  palette.setColor(QPalette::Base, QApplication::palette().color(QPalette::ToolTipBase));
  field->setPalette(palette);
  services_.beep();
  field->setText(QStringLiteral("00"));
}

QWidget* TForm_main::nextControl(QWidget* field) const {
  // The controls placed directly on the window, in tab order; the field's own
  // group is where the search starts.
  const QList<QWidget*> order = {ui_->StringGrid1, ui_->RichEdit1, ui_->GroupBox3,
                                 ui_->GroupBoxPrint, ui_->RichEdit2};
  qsizetype start = 0;
  for (qsizetype i = 0; i < order.size(); ++i) {
    if (order[i] == field || order[i]->isAncestorOf(field)) start = i;
  }
  for (qsizetype step = 1; step <= order.size(); ++step) {
    QWidget* candidate = order[(start + step) % order.size()];
    if ((candidate->focusPolicy() & Qt::TabFocus) != 0 && candidate->isVisibleTo(this) &&
        candidate->isEnabled()) {
      return candidate;
    }
  }
  return nullptr;
}

bool TForm_main::eventFilter(QObject* watched, QEvent* event) {
  if (watched == calendar_ && event->type() == QEvent::Hide && datePending_) {
    datePending_ = false;
    // The focus returns to the picker once the calendar is gone.
    QTimer::singleShot(0, this, &TForm_main::finishDateChange);
  }
  if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (watched == ui_->StringGrid1 && key->matches(QKeySequence::Copy)) {
    copyGridSelection();
    return true;
  }
  // Alt+Down opens the calendar, as in the classic date picker (F4, its other
  // key there, is the print action's).
  if (watched == ui_->DateTimePicker2 && key->key() == Qt::Key_Down &&
      (key->modifiers() & Qt::AltModifier) != 0) {
    OpenCalendarPopup(ui_->DateTimePicker2);
    return true;
  }
  if (watched != ui_->Edit1) return QMainWindow::eventFilter(watched, event);
  // Tab and Shift+Tab belong to the window, which moves the focus.
  if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
  bool consumed = true;
  guarded([&] {
    consumed = EditBlocKeyDown(ui_->Edit1, VirtualKeyCode(key->key(), key->modifiers()));
  });
  if (consumed) return true;
  // The typing limit: a character that would make the text longer than two
  // is swallowed. Text the loader writes (the newest record's time) is not
  // limited.
  QLineEdit* edit = ui_->Edit1;
  const bool printable = !key->text().isEmpty() && key->text().at(0).isPrint();
  return printable &&
         edit->text().size() - edit->selectedText().size() + key->text().size() > kTypingLimit;
}

void TForm_main::copyGridSelection() const {
  const QString text = SelectionAsTsv(*ui_->StringGrid1);
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

// ---- reports ----

void TForm_main::But1Click() {
  guarded([&] {
    ReportBoxSink sink(ui_->RichEdit1);
    veks::ComposeBlockReport(table_, statusLine(), state_.RowsShown, sink);
  });
}

void TForm_main::But3Click() {
  guarded([&] {
    // The 63 loads of the report rewrite the table and the status line 63
    // times; the window shows them once, when the report is done (or before
    // a message).
    batchingLoads_ = true;
    const auto refresh = qScopeGuard([&] {
      batchingLoads_ = false;
      flushTableRewrite();
    });
    ReportBoxSink sink(ui_->RichEdit1);
    veks::ComposeWholeArchiveReport(state_, table_, *this, sink);
  });
}

void TForm_main::But5Click() {
  guarded([&] {
    const QString selected = ui_->RichEdit1->textCursor().selection().toPlainText();
    QPrinter printer(QPrinter::HighResolution);
    if (selected.isEmpty()) {
      if (services_.printDialog(this, &printer)) {
        printer.setDocName(QStringLiteral("Печать всего архива"));
        printBox(ui_->RichEdit1, printer);
      }
      return;
    }
    QPlainTextEdit* page = ui_->RichEdit2;
    // The selection box is shown only while its print is under way.
    const auto hidePage = qScopeGuard([&] { focus_->hideControl(page); });
    page->show();
    page->clear();
    page->appendPlainText(QStringLiteral("Печать выделенной части архива"));
    page->appendPlainText(ui_->RichEdit1->document()->findBlockByNumber(3).text());
    page->appendPlainText(selected);
    if (services_.printDialog(this, &printer)) {
      printer.setDocName(QStringLiteral("Печать  выделенной части архива"));
      printBox(page, printer);
    }
  });
}

void TForm_main::printBox(const QPlainTextEdit* box, QPrinter& printer) {
  // Printing to a file is a save too.
  if (!printer.outputFileName().isEmpty() &&
      RefuseOwnFile(this, services_, printer.outputFileName(), ownFiles())) {
    return;
  }
  DocumentLines lines(*box->document());
  ReportPageStyle style = printStyle(box);
  TakePageRange(printer, style);
  if (PrintReport(lines, style, printer) != PrintOutcome::kPrinted) {
    services_.message(this, QStringLiteral("Печать не удалась: принтер недоступен"),
                      MessageIcon::kWarning);
  }
}

ReportPageStyle TForm_main::printStyle(const QPlainTextEdit* box) {
  return ReportPageStyle{box->font(), {}, ReportPageStyle::Numbering::kPlain};
}

OwnFiles TForm_main::ownFiles() const {
  return OwnFiles{QString::fromStdString(state_.ArchiveName), JournalFileOf(JournalLocation())};
}

void TForm_main::SaveReportClick() {
  guarded([&] {
    const QString archive = QString::fromStdString(state_.ArchiveName);
    const QString stem = FileNamePart(QFileInfo(archive).completeBaseName());
    const QString proposed =
        stem.isEmpty() ? QStringLiteral("отчет.pdf") : QStringLiteral("отчет-%1.pdf").arg(stem);
    const std::optional<QString> saved = AskAndSaveReport(
        this, services_, *ui_->RichEdit1, proposed, ownFiles(), printStyle(ui_->RichEdit1));
    if (saved) {
      statusBar()->showMessage(QStringLiteral("Отчет сохранен: ") +
                               QDir::toNativeSeparators(*saved));
    }
  });
}
