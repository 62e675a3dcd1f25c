#include "ui/journal_location.h"

#include <QSettings>
#include <cstdlib>

#include "journal/journal_file.h"
#include "ui/dialog_services.h"

namespace {

const QString kJournalFileKey = QStringLiteral("journal/file");

}  // namespace

std::optional<QString> JournalFilePath() {
  const QString chosen = ProgramSettings()->value(kJournalFileKey).toString();
  if (!chosen.isEmpty()) return chosen;
  const auto path = veks::DefaultJournalPath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  if (!path) return std::nullopt;
  return QString::fromStdString(*path);
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
