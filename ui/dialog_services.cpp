#include "ui/dialog_services.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {

// A modal box leaves its parent window inactive on some platforms, and focus
// moves made while a window is inactive take effect late. Reactivating it at
// once keeps the handler's next focus move synchronous.
void Reactivate(QWidget* parent) {
  if (parent == nullptr) return;
  QWidget* window = parent->window();
  window->activateWindow();
  QApplication::setActiveWindow(window);
}

// Runs a message box, modal to its parent's window; the button pressed.
int RunBox(QMessageBox& box, QWidget* parent) {
  // A box sized to a short text is so narrow that the window manager cuts its
  // caption beside the title bar's buttons. QMessageBox fixes its own size
  // from its layout and ignores a minimum width, so a spacer across the
  // layout holds it open.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(kMinimumBoxWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  const int pressed = box.exec();
  Reactivate(parent);
  return pressed;
}

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  RunBox(box, parent);
}

// "pdf" of "Документ PDF (*.pdf)": the first pattern's suffix.
QString SuffixOf(const QString& filter) {
  static const QRegularExpression kPattern(QStringLiteral("\\*\\.([^ )]+)"));
  return kPattern.match(filter).captured(1);
}

// Enter in a field clicks `button` (when it is enabled) before the field's
// own handling sees the key: an editable QComboBox answers Enter by putting
// its current item's text back into the field when the field shows another
// item's name, and keeps the dialog open.
class EnterClicks : public QObject {
 public:
  explicit EnterClicks(QPushButton* button) : button_(button) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    if (button_->isEnabled()) button_->click();
    return true;
  }

 private:
  QPushButton* button_;
};

// A dialog that asks for a device's name: `lines` above it (none or more),
// an editable list of `names` whose field shows `proposed` with no name of
// the list chosen; Enter takes the name the field shows. The name as given,
// or nothing when cancelled.
std::optional<QString> AskName(QWidget* parent, const QString& title, const QString& labelText,
                               const QString& proposed, const QStringList& names,
                               const QList<QLabel*>& lines = {}) {
  QDialog dialog(parent);
  dialog.setWindowTitle(title);
  auto* box = new QComboBox(&dialog);
  box->setObjectName(QStringLiteral("DeviceNameBox"));
  box->setEditable(true);
  // Enter accepts the dialog; it must not add the typed name to the list.
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setMinimumContentsLength(28);
  box->addItems(names);
  // No name of the list is chosen until the operator chooses one.
  box->setCurrentIndex(-1);
  box->setEditText(proposed);
  box->lineEdit()->selectAll();
  auto* label = new QLabel(labelText, &dialog);
  label->setBuddy(box);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
  ok->setEnabled(!proposed.isEmpty());
  QObject::connect(box, &QComboBox::editTextChanged, ok,
                   [ok](const QString& text) { ok->setEnabled(!text.isEmpty()); });
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  // The name is taken from the field when the dialog is accepted, before
  // anything else may change it.
  QString given;
  QObject::connect(&dialog, &QDialog::accepted, box,
                   [&given, box] { given = box->lineEdit()->text(); });
  EnterClicks enter(ok);
  box->lineEdit()->installEventFilter(&enter);
  auto* layout = new QVBoxLayout(&dialog);
  for (QLabel* line : lines) {
    line->setParent(&dialog);
    layout->addWidget(line);
  }
  layout->addWidget(label);
  layout->addWidget(box);
  layout->addWidget(buttons);
  box->setFocus();
  const bool accepted = dialog.exec() == QDialog::Accepted;
  Reactivate(parent);
  if (!accepted) return std::nullopt;
  return given;
}

}  // namespace

std::unique_ptr<QSettings> ProgramSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("veks12"), QStringLiteral("veks12"));
}

QString ApplicationTitle() {
  const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  return name.section(QLatin1Char('.'), 0, 0);
}

QString ErrorDisplayText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

void QtUiServices::message(QWidget* parent, const QString& text, MessageIcon icon) {
  static constexpr QMessageBox::Icon kIcons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                                 QMessageBox::Warning, QMessageBox::Critical};
  ShowBox(parent, kIcons[static_cast<int>(icon)], ApplicationTitle(), text);
}

void QtUiServices::warning(QWidget* parent, const QString& text, const QString& caption) {
  ShowBox(parent, QMessageBox::Warning, caption, text);
}

void QtUiServices::errorBox(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Critical, ApplicationTitle(), text);
}

std::optional<QString> QtUiServices::openFileName(QWidget* parent, const QString& title,
                                                  const QString& defaultSuffix,
                                                  const QString& filter) {
  QFileDialog dialog(parent, title, QString(), filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Any name may be typed; a name that does not exist is confirmed below.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  std::optional<QString> chosen;
  while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    const QString name = dialog.selectedFiles().constFirst();
    if (QFileInfo::exists(name) ||
        QMessageBox::question(&dialog, title,
                              QStringLiteral("Файл %1 не существует. Выбрать его?").arg(name)) ==
            QMessageBox::Yes) {
      chosen = name;
      break;
    }
  }
  Reactivate(parent);
  return chosen;
}

std::optional<SaveChoice> QtUiServices::saveFileName(QWidget* parent, const QString& title,
                                                     const QStringList& filters,
                                                     const QString& proposedName) {
  const auto settings = ProgramSettings();
  const QString folderKey = QStringLiteral("dialogs/saveFolder");
  // A folder that is not there would show as a file name in the dialog.
  QString folder = QDir::homePath();
  for (const QString& candidate :
       {settings->value(folderKey).toString(),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)}) {
    if (!candidate.isEmpty() && QFileInfo(candidate).isDir()) {
      folder = candidate;
      break;
    }
  }
  QFileDialog dialog(parent, title, folder);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(filters);
  if (!proposedName.isEmpty()) dialog.selectFile(proposedName);
  // The suffix follows the filter, so that the overwrite question the dialog
  // asks is about the name that will be written.
  dialog.setDefaultSuffix(SuffixOf(filters.value(0)));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog, filters](const QString& filter) {
                     const QString suffix = SuffixOf(filter);
                     dialog.setDefaultSuffix(suffix);
                     // A name that ends in another filter's suffix takes this one's.
                     auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                     if (name == nullptr) return;
                     const QString typed = name->text();
                     for (const QString& other : filters) {
                       const QString ending = QLatin1Char('.') + SuffixOf(other);
                       if (other != filter && typed.endsWith(ending, Qt::CaseInsensitive)) {
                         name->setText(typed.chopped(ending.size()) + QLatin1Char('.') + suffix);
                         break;
                       }
                     }
                   });
  std::optional<SaveChoice> chosen;
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    chosen = SaveChoice{dialog.selectedFiles().constFirst(), dialog.selectedNameFilter()};
    settings->setValue(folderKey, QFileInfo(chosen->fileName).absolutePath());
  }
  Reactivate(parent);
  return chosen;
}

bool QtUiServices::printDialog(QWidget* parent, QPrinter* printer) {
  QPrintDialog dialog(printer, parent);
  dialog.setOption(QAbstractPrintDialog::PrintToFile);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange);
  const bool confirmed = dialog.exec() == QDialog::Accepted;
  Reactivate(parent);
  return confirmed;
}

std::optional<QString> QtUiServices::askDeviceName(QWidget* parent,
                                                   const DeviceQuestion& question) {
  auto* file = new QLabel(QStringLiteral("Архив: %1").arg(QFileInfo(question.archive).fileName()));
  file->setObjectName(QStringLiteral("DeviceArchiveLabel"));
  file->setToolTip(QDir::toNativeSeparators(question.archive));
  auto* fate = new QLabel;
  fate->setObjectName(QStringLiteral("DeviceFateLabel"));
  fate->setWordWrap(true);
  if (question.continues) {
    fate->setText(QStringLiteral("Копия продолжает историю устройства %1.").arg(question.proposed));
  } else if (!question.existing.isEmpty()) {
    fate->setText(
        QStringLiteral("Копия не продолжает историю ни одного устройства журнала: "
                       "она начинает новый участок."));
  } else {
    fate->setText(QStringLiteral("Копия начинает историю нового устройства."));
  }
  return AskName(parent, QStringLiteral("Добавить архив в журнал"),
                 QStringLiteral("&Устройство, с которого снята копия архива:"), question.proposed,
                 question.existing, {file, fate});
}
std::optional<QString> QtUiServices::askNewDeviceName(QWidget* parent, const QString& device,
                                                      const QString& proposed,
                                                      const QStringList& others) {
  return AskName(parent, QStringLiteral("Переименовать устройство"),
                 QStringLiteral("&Новое имя устройства «%1»\n"
                                "(имя другого устройства объединяет их историю):")
                     .arg(device),
                 proposed, others);
}

bool QtUiServices::confirm(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, ApplicationTitle(), text,
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
  box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
  box.setDefaultButton(QMessageBox::No);
  return RunBox(box, parent) == QMessageBox::Yes;
}

void QtUiServices::beep() { QApplication::beep(); }

std::optional<NoteAnswer> QtUiServices::askNote(QWidget* parent, const NoteQuestion& question) {
  NoteEditor editor(question, parent);
  if (editor.exec() != QDialog::Accepted) return std::nullopt;
  return editor.answer();
}

std::optional<QString> QtUiServices::askAuthor(QWidget* parent, const QString& proposed) {
  bool given = false;
  const QString name =
      QInputDialog::getText(parent, ApplicationTitle(),
                            QStringLiteral("Под каким именем подписывать примечания?\n"
                                           "Имя сохраняется в настройках программы."),
                            QLineEdit::Normal, proposed, &given);
  if (!given) return std::nullopt;
  return name;
}

std::optional<QString> QtUiServices::askPassword(QWidget* parent, const QString& shownLocation,
                                                 const QString& refusal) {
  QString text =
      QStringLiteral("Пароль для подключения к журналу на сервере\n%1:").arg(shownLocation);
  if (!refusal.isEmpty()) text = refusal + QStringLiteral("\n\n") + text;
  bool given = false;
  const QString password = QInputDialog::getText(parent, ApplicationTitle(), text,
                                                 QLineEdit::Password, QString(), &given);
  if (!given) return std::nullopt;
  return password;
}
