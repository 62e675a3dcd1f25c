// The pane beside the journal table: the notes of the row chosen there, the
// newest version of each, or every version on request.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "journal/journal_notes.h"

class QCheckBox;
class QLabel;
class QListWidget;

class NotesPane : public QWidget {
  Q_OBJECT

 public:
  explicit NotesPane(QWidget* parent = nullptr);

  // Shows `notes` (a note's versions together, oldest first), or says that
  // the row has none.
  void showNotes(std::vector<veks::NoteVersion> notes);
  [[nodiscard]] const std::vector<veks::NoteVersion>& notes() const { return notes_; }
  [[nodiscard]] bool versionsShown() const;
  // The note the operator chose in the list, else the first one shown; none
  // when the row has no notes.
  [[nodiscard]] const veks::NoteVersion* currentNote() const;

 signals:
  // The operator asked for every version, or for the newest ones again.
  void versionsToggled(bool shown);

 private:
  QLabel* title_ = nullptr;
  QListWidget* list_ = nullptr;
  QCheckBox* versions_ = nullptr;
  std::vector<veks::NoteVersion> notes_;
};

// A version as the pane lists it: "примечание N (KIND, AUTHOR, DD.MM.YY hh:mm)"
// (an entry: "запись оператора N", with its moment), with ", версия V" and
// "удалено" when versions are shown, then its text on the lines below.
[[nodiscard]] QString NoteVersionText(const veks::NoteVersion& note, bool withVersion);

// A note's `written` ("YYYY-MM-DDThh:mm:ssZ") in the local time of the
// process: "DD.MM.YY hh:mm".
[[nodiscard]] QString LocalWrittenText(const std::string& written);
