// Undoing the last import into a device from the journal window: what the
// operator is asked first, and the undo itself through a journal opened for
// writing meanwhile, off the GUI thread.
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "journal/journal_types.h"

class QWidget;
class UiServices;

// "Отменить импорт FILE от YYYY-MM-DD hh:mm? Будет удалено событий: N.", the
// file without its folder and the moment in local time.
[[nodiscard]] QString UndoImportQuestion(const veks::UndoableImport& last);
// The second question, when N of the events carry notes.
[[nodiscard]] QString UndoNotedEventsQuestion(const veks::UndoableImport& last);

// What came of an undo.
struct UndoImportEnd {
  bool done = false;  // false: the operator declined, or the journal refused (error)
  std::optional<veks::JournalError> error;
  QString text;  // what to say: the outcome, or nothing when declined
};

// Asks the operator (both questions as they apply) and undoes `last`, the
// last import into `device`, in the journal at `journal`. A journal that
// changed since `last` was read refuses (kChanged), writing nothing.
[[nodiscard]] UndoImportEnd AskAndUndoLastImport(QWidget* parent, UiServices& services,
                                                 const std::string& journal,
                                                 const std::string& device,
                                                 const veks::UndoableImport& last);
