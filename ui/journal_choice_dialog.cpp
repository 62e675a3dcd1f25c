#include "ui/journal_choice_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "journal/journal.h"
#include "journal/journal_schema.h"
#include "journal/pg_connection.h"
#include "journal/pg_schema.h"
#include "ui/background_work.h"
#include "ui/dialog_services.h"
#include "ui/journal_location.h"

namespace {

const QString kGeometryKey = QStringLiteral("journalChoice/geometry");
const QString kHostKey = QStringLiteral("journalChoice/host");
const QString kPortKey = QStringLiteral("journalChoice/port");
const QString kDatabaseKey = QStringLiteral("journalChoice/database");
const QString kUserKey = QStringLiteral("journalChoice/user");
const QString kSslModeKey = QStringLiteral("journalChoice/sslmode");
const QString kSchemaKey = QStringLiteral("journalChoice/schema");

QString Text(const std::string& text) { return QString::fromStdString(text); }
QString Text(std::string_view text) { return QString::fromUtf8(text.data(), text.size()); }

QLabel* BuddyLabel(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  return label;
}

}  // namespace

ServerJournalCheck CheckServerJournal(const std::string& location) {
  try {
    veks::PgConnection connection(location);
    const std::string schema = veks::JournalSchemaName(connection);
    const veks::PgJournalState state = veks::InspectPgJournal(connection, schema);
    const QString where = QStringLiteral("схема «%1»").arg(Text(schema));
    QString text = QStringLiteral("Соединение установлено (%1).\n").arg(where);
    const auto readOnly = [&] {
      const std::optional<std::string> reason = veks::PgReadOnlyReason(connection, schema);
      return reason ? std::optional<QString>(Text(*reason)) : std::nullopt;
    };
    switch (state.kind) {
      case veks::PgJournalKind::kJournal: {
        text += QStringLiteral("Журнал найден, версия %1").arg(state.version);
        if (state.version < veks::kJournalSchemaVersion) {
          text += QStringLiteral(" (будет обновлена до %1 при первой записи)")
                      .arg(veks::kJournalSchemaVersion);
        }
        text += QLatin1Char('.');
        if (const auto reason = readOnly()) {
          text += QStringLiteral("\n%1: %2.")
                      .arg(QString::fromUtf8(veks::kMsgJournalReadOnly), *reason);
        } else {
          text += QStringLiteral("\nЖурнал доступен для чтения и записи.");
        }
        break;
      }
      case veks::PgJournalKind::kMissing:
        if (const auto reason = readOnly()) {
          text += QStringLiteral("Журнала здесь еще нет, и создать его с этими правами нельзя: %1.")
                      .arg(*reason);
        } else {
          text += QStringLiteral(
              "Журнала здесь еще нет: его создаст первое добавление архива в журнал.");
        }
        break;
      case veks::PgJournalKind::kNewer:
        text += QStringLiteral(
                    "Здесь журнал более новой версии (%1): эта программа его не открывает "
                    "и не изменяет.")
                    .arg(state.version);
        break;
      case veks::PgJournalKind::kNotJournal:
        text += QStringLiteral(
            "Схема занята данными другой программы: журнал здесь не открывается, и схема "
            "не будет изменена. Укажите другую схему.");
        break;
    }
    return {text};
  } catch (const veks::PgConnectFailure& failure) {
    return {QStringLiteral("Подключиться не удалось: ") + Text(failure.message),
            failure.needsPassword};
  } catch (const veks::JournalError& error) {
    return {QStringLiteral("Подключиться не удалось: ") + Text(error.message)};
  } catch (const veks::PgError& error) {
    return {QStringLiteral("Сервер отказал: ") + QString::fromStdString(error.what())};
  }
}

JournalChoiceDialog::JournalChoiceDialog(UiServices& services, const QString& current,
                                         QWidget* parent)
    : QDialog(parent), services_(services) {
  setObjectName(QStringLiteral("JournalChoiceDialog"));
  setWindowTitle(QStringLiteral("Выбор журнала"));
  auto* layout = new QVBoxLayout(this);

  fileChoice_ = new QRadioButton(QStringLiteral("&Файл журнала на этом компьютере"));
  fileChoice_->setObjectName(QStringLiteral("FileChoice"));
  layout->addWidget(fileChoice_);
  filePart_ = new QWidget;
  auto* fileRow = new QHBoxLayout(filePart_);
  fileRow->setContentsMargins(20, 0, 0, 0);
  file_ = new QLineEdit;
  file_->setObjectName(QStringLiteral("FileEdit"));
  file_->setClearButtonEnabled(true);
  browse_ = new QPushButton(QStringLiteral("Об&зор…"));
  browse_->setObjectName(QStringLiteral("BrowseButton"));
  browse_->setAutoDefault(false);
  fileRow->addWidget(file_, 1);
  fileRow->addWidget(browse_);
  layout->addWidget(filePart_);

  serverChoice_ = new QRadioButton(QStringLiteral("&Журнал на сервере PostgreSQL"));
  serverChoice_->setObjectName(QStringLiteral("ServerChoice"));
  layout->addWidget(serverChoice_);
  serverPart_ = new QGroupBox;
  serverPart_->setObjectName(QStringLiteral("ServerPart"));
  auto* serverLayout = new QVBoxLayout(serverPart_);
  auto* form = new QFormLayout;
  serverLayout->addLayout(form);
  host_ = new QLineEdit;
  host_->setObjectName(QStringLiteral("HostEdit"));
  host_->setPlaceholderText(QStringLiteral("по умолчанию (локальный сокет)"));
  port_ = new QSpinBox;
  port_->setObjectName(QStringLiteral("PortBox"));
  port_->setRange(0, 65535);
  port_->setSpecialValueText(QStringLiteral("по умолчанию (5432)"));
  database_ = new QLineEdit;
  database_->setObjectName(QStringLiteral("DatabaseEdit"));
  database_->setPlaceholderText(QStringLiteral("по умолчанию (имя пользователя)"));
  user_ = new QLineEdit;
  user_->setObjectName(QStringLiteral("UserEdit"));
  user_->setPlaceholderText(QStringLiteral("по умолчанию (имя в системе)"));
  sslMode_ = new QComboBox;
  sslMode_->setObjectName(QStringLiteral("SslModeBox"));
  for (const std::string_view mode : veks::kSslModes) sslMode_->addItem(Text(mode));
  sslMode_->setCurrentText(Text(veks::kDefaultSslMode));
  schema_ = new QLineEdit;
  schema_->setObjectName(QStringLiteral("SchemaEdit"));
  schema_->setPlaceholderText(Text(std::string(veks::kDefaultJournalSchema)));
  form->addRow(BuddyLabel(QStringLiteral("&Сервер:"), host_), host_);
  form->addRow(BuddyLabel(QStringLiteral("&Порт:"), port_), port_);
  form->addRow(BuddyLabel(QStringLiteral("&База данных:"), database_), database_);
  form->addRow(BuddyLabel(QStringLiteral("П&ользователь:"), user_), user_);
  form->addRow(BuddyLabel(QStringLiteral("&TLS (sslmode):"), sslMode_), sslMode_);
  form->addRow(BuddyLabel(QStringLiteral("С&хема журнала:"), schema_), schema_);
  auto* note = new QLabel(QStringLiteral(
      "Пароль спрашивается, когда его требует сервер, и хранится только в памяти программы."));
  note->setWordWrap(true);
  serverLayout->addWidget(note);
  shownLocation_ = new QLabel;
  shownLocation_->setObjectName(QStringLiteral("LocationLabel"));
  shownLocation_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  shownLocation_->setWordWrap(true);
  serverLayout->addWidget(shownLocation_);
  test_ = new QPushButton(QStringLiteral("Проверить сое&динение"));
  test_->setObjectName(QStringLiteral("TestButton"));
  test_->setAutoDefault(false);
  serverLayout->addWidget(test_);
  result_ = new QLabel;
  result_->setObjectName(QStringLiteral("TestResult"));
  result_->setWordWrap(true);
  result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  serverLayout->addWidget(result_);
  layout->addWidget(serverPart_);
  layout->addStretch(1);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons_->setObjectName(QStringLiteral("Buttons"));
  buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Выбрать"));
  buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
  layout->addWidget(buttons_);

  const auto settings = ProgramSettings();
  host_->setText(settings->value(kHostKey).toString());
  port_->setValue(settings->value(kPortKey, 0).toInt());
  database_->setText(settings->value(kDatabaseKey).toString());
  user_->setText(settings->value(kUserKey).toString());
  const int mode = sslMode_->findText(settings->value(kSslModeKey).toString());
  if (mode >= 0) sslMode_->setCurrentIndex(mode);
  schema_->setText(settings->value(kSchemaKey).toString());
  if (IsServerJournal(current)) {
    serverChoice_->setChecked(true);
  } else {
    fileChoice_->setChecked(true);
    file_->setText(QDir::toNativeSeparators(current));
  }
  if (!restoreGeometry(settings->value(kGeometryKey).toByteArray())) {
    resize(sizeHint().expandedTo(QSize(560, 0)));
  }

  connect(fileChoice_, &QRadioButton::toggled, this, &JournalChoiceDialog::updateState);
  for (QLineEdit* edit : {file_, host_, database_, user_, schema_}) {
    connect(edit, &QLineEdit::textChanged, this, &JournalChoiceDialog::updateState);
  }
  connect(port_, &QSpinBox::valueChanged, this, &JournalChoiceDialog::updateState);
  connect(sslMode_, &QComboBox::currentIndexChanged, this, &JournalChoiceDialog::updateState);
  connect(browse_, &QPushButton::clicked, this, &JournalChoiceDialog::chooseFile);
  connect(test_, &QPushButton::clicked, this, &JournalChoiceDialog::testConnection);
  connect(buttons_, &QDialogButtonBox::accepted, this, &JournalChoiceDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &JournalChoiceDialog::reject);
  updateState();
  (fileChoice_->isChecked() ? static_cast<QWidget*>(file_) : host_)->setFocus();
}

JournalChoiceDialog::~JournalChoiceDialog() {
  ProgramSettings()->setValue(kGeometryKey, saveGeometry());
}

veks::ServerLocationParts JournalChoiceDialog::serverParts() const {
  veks::ServerLocationParts parts;
  parts.host = host_->text().trimmed().toStdString();
  parts.port = port_->value();
  parts.database = database_->text().trimmed().toStdString();
  parts.user = user_->text().trimmed().toStdString();
  parts.sslMode = sslMode_->currentText().toStdString();
  parts.schema = schema_->text().trimmed().toStdString();
  return parts;
}

QString JournalChoiceDialog::location() const {
  if (serverChoice_->isChecked()) return Text(veks::ServerLocationOf(serverParts()));
  const QString file = file_->text().trimmed();
  return file.isEmpty() ? QString()
                        : QFileInfo(QDir::fromNativeSeparators(file)).absoluteFilePath();
}

void JournalChoiceDialog::updateState() {
  const bool server = serverChoice_->isChecked();
  filePart_->setEnabled(!server);
  serverPart_->setEnabled(server);
  shownLocation_->setText(server ? QStringLiteral("Адрес журнала: ") + location() : QString());
  // What the test said holds for the parts it was made with only.
  result_->clear();
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(!location().isEmpty());
  showWhole();
}

void JournalChoiceDialog::showWhole() {
  // The location and the test's answer wrap: the dialog grows to show them.
  int needed = layout()->totalSizeHint().height();
  if (layout()->hasHeightForWidth()) {
    needed = std::max(needed, layout()->totalHeightForWidth(width()));
  }
  if (needed > height()) resize(width(), needed);
}

void JournalChoiceDialog::chooseFile() {
  const std::optional<QString> chosen =
      services_.openFileName(this, QStringLiteral("Выбор файла журнала"), QStringLiteral("sqlite"),
                             QStringLiteral("Журналы событий (*.sqlite);;Все файлы (*)"));
  if (chosen) file_->setText(QDir::toNativeSeparators(*chosen));
}

void JournalChoiceDialog::testConnection() {
  const std::string uri = location().toStdString();
  QString refusal;
  for (bool asked = false;; asked = true) {
    ServerJournalCheck check;
    RunBackgroundWork(this, QStringLiteral("Проверка соединения…"),
                      [&](WorkProgress&) { check = CheckServerJournal(uri); });
    if (!check.needsPassword) {
      result_->setText(check.text);
      showWhole();
      return;
    }
    if (asked) refusal = check.text;
    const std::optional<QString> password =
        services_.askPassword(this, ShownJournalLocation(location()), refusal);
    if (!password) {
      result_->setText(check.text);
      showWhole();
      return;
    }
    veks::RememberServerPassword(uri, password->toStdString());
  }
}

void JournalChoiceDialog::keepSettings() const {
  const auto settings = ProgramSettings();
  settings->setValue(kHostKey, host_->text().trimmed());
  settings->setValue(kPortKey, port_->value());
  settings->setValue(kDatabaseKey, database_->text().trimmed());
  settings->setValue(kUserKey, user_->text().trimmed());
  settings->setValue(kSslModeKey, sslMode_->currentText());
  settings->setValue(kSchemaKey, schema_->text().trimmed());
}

void JournalChoiceDialog::accept() {
  const QString chosen = location();
  if (chosen.isEmpty()) return;
  // A file that exists must be a journal; one that does not is a journal
  // still to be made, by the first archive added.
  if (fileChoice_->isChecked() && QFileInfo::exists(chosen)) {
    auto opened = veks::Journal::Open(chosen.toStdString(), veks::Journal::Access::kRead);
    if (!opened.ok()) {
      services_.message(
          this, ShownJournalLocation(chosen) + QStringLiteral(": ") + Text(opened.error().message),
          MessageIcon::kWarning);
      return;
    }
  }
  if (serverChoice_->isChecked()) keepSettings();
  SetJournalLocation(chosen);
  QDialog::accept();
}

bool ChooseJournal(QWidget* parent, UiServices& services) {
  JournalChoiceDialog dialog(services, JournalLocation().value_or(QString()), parent);
  return dialog.exec() == QDialog::Accepted;
}
