#include "ui/import_undo.h"

#include <QDateTime>
#include <QFileInfo>

#include "journal/journal.h"
#include "ui/background_work.h"
#include "ui/dialog_services.h"

namespace {

QString FileName(const veks::UndoableImport& last) {
  return QFileInfo(QString::fromStdString(last.archive)).fileName();
}

}  // namespace

QString UndoImportQuestion(const veks::UndoableImport& last) {
  const QDateTime at =
      QDateTime::fromString(QString::fromStdString(last.importedAt), Qt::ISODate).toLocalTime();
  return QStringLiteral("Отменить импорт %1 от %2? Будет удалено событий: %3.")
      .arg(FileName(last), at.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
      .arg(last.events);
}

QString UndoNotedEventsQuestion(const veks::UndoableImport& last) {
  return QStringLiteral(
             "Событий с примечаниями среди удаляемых: %1. Примечания сохранятся, но не будут "
             "видны у событий, пока эти события не вернутся с новым импортом. Удалить и их?")
      .arg(last.notedEvents);
}

UndoImportEnd AskAndUndoLastImport(QWidget* parent, UiServices& services,
                                   const std::string& journal, const std::string& device,
                                   const veks::UndoableImport& last) {
  if (!services.confirm(parent, UndoImportQuestion(last))) return {};
  const bool noted = last.notedEvents > 0;
  if (noted && !services.confirm(parent, UndoNotedEventsQuestion(last))) return {};
  // Removing many events, or waiting for another process's import to end,
  // takes a while: the window goes on answering meanwhile. Once begun, the
  // undo's transaction is not stopped midway.
  std::optional<veks::JournalResult<std::int64_t>> result;
  RunBackgroundWork(parent, QStringLiteral("Отмена импорта…"), [&](WorkProgress&) {
    auto opened = veks::Journal::Open(journal, veks::Journal::Access::kWrite);
    result = opened.ok() ? opened.value()->undoLastImport(device, last.id, noted)
                         : veks::JournalResult<std::int64_t>(opened.error());
  });
  if (!result->ok())
    return {false, result->error(), QString::fromStdString(result->error().message)};
  return {true, std::nullopt,
          QStringLiteral("Импорт %1 отменен; удалено событий: %2")
              .arg(FileName(last))
              .arg(result->value())};
}
