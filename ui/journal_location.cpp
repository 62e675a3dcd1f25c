#include "ui/journal_location.h"

#include <QDir>
#include <QSettings>
#include <cstdlib>

#include "journal/journal_file.h"
#include "journal/pg_connection.h"
#include "ui/background_work.h"
#include "ui/dialog_services.h"

namespace {

const QString kJournalLocationKey = QStringLiteral("journal/location");
// Where earlier versions kept the journal file's path: still read, so that
// the journal chosen before stays the journal.
const QString kJournalFileKey = QStringLiteral("journal/file");

}  // namespace

std::optional<QString> JournalLocation() {
  const auto settings = ProgramSettings();
  QString chosen = settings->value(kJournalLocationKey).toString();
  if (chosen.isEmpty()) chosen = settings->value(kJournalFileKey).toString();
  if (!chosen.isEmpty()) return chosen;
  const auto path = veks::DefaultJournalPath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  if (!path) return std::nullopt;
  return QString::fromStdString(*path);
}

void SetJournalLocation(const QString& location) {
  const auto settings = ProgramSettings();
  settings->remove(kJournalFileKey);
  // A password written into a URI by hand is never kept: the operator is
  // asked for it when the server wants it.
  if (IsServerJournal(location)) {
    settings->setValue(kJournalLocationKey,
                       QString::fromStdString(veks::ShownServerLocation(location.toStdString())));
    return;
  }
  if (location.isEmpty()) {
    settings->remove(kJournalLocationKey);
  } else {
    settings->setValue(kJournalLocationKey, location);
  }
}

bool IsServerJournal(const QString& location) {
  return veks::IsServerLocation(location.toStdString());
}

QString ShownJournalLocation(const QString& location) {
  if (IsServerJournal(location)) {
    return QString::fromStdString(veks::ShownServerLocation(location.toStdString()));
  }
  return QDir::toNativeSeparators(location);
}

std::optional<QString> JournalFileOf(const std::optional<QString>& location) {
  if (!location || IsServerJournal(*location)) return std::nullopt;
  return location;
}

QString NoJournalPathText() {
  return QStringLiteral(
      "Не задан файл журнала: переменные HOME и XDG_DATA_HOME не указывают каталог. "
      "Откройте файл журнала: «Журнал → Открыть файл журнала…» (Ctrl+O).");
}

bool AskServerPassword(QWidget* parent, UiServices& services, const QString& location) {
  if (!IsServerJournal(location)) return false;
  const std::string uri = location.toStdString();
  bool asked = false;
  QString refusal;  // why the server refused the password given last
  for (;;) {
    std::optional<veks::PgConnectFailure> failure;
    RunBackgroundWork(parent, QStringLiteral("Подключение к серверу журнала…"), [&](WorkProgress&) {
      try {
        veks::PgConnection connection(uri);
      } catch (const veks::PgConnectFailure& failed) {
        failure = failed;
      } catch (const veks::JournalError&) {
        // Connected, then lost: nothing a password changes.
      }
    });
    if (!failure) return asked;
    if (!failure->needsPassword) return false;
    if (asked) refusal = QString::fromStdString(failure->message);
    const std::optional<QString> password =
        services.askPassword(parent, ShownJournalLocation(location), refusal);
    if (!password) return false;
    veks::RememberServerPassword(uri, password->toStdString());
    asked = true;
  }
}
