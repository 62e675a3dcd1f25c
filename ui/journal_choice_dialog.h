// "Журнал → Выбрать журнал…": where the journal is, a file or a journal on a
// PostgreSQL server. A server is named by its parts (host, port, database,
// user, TLS mode, the journal's schema), from which the dialog makes the
// location; "Проверить соединение" connects and says what is there. The
// parts are kept in the settings for the next time; a password never is
// (it is asked when the server wants one and kept in memory only).
#pragma once

#include <QDialog>
#include <string>

#include "journal/pg_location.h"

class QComboBox;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class UiServices;

// What a connection test found, in the operator's words; whether the server
// wanted a password that nothing gave (or refused the one given).
struct ServerJournalCheck {
  QString text;
  bool needsPassword = false;
};

// Connects to `location`, finds the journal's schema and says what it holds
// and whether it may be written. Touches no widget: runs off the GUI thread.
[[nodiscard]] ServerJournalCheck CheckServerJournal(const std::string& location);

class JournalChoiceDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows the journal `current` names: a file's path, else the server parts
  // kept in the settings.
  JournalChoiceDialog(UiServices& services, const QString& current, QWidget* parent = nullptr);
  ~JournalChoiceDialog() override;

  // The location chosen: a file's absolute path or a server's URI.
  [[nodiscard]] QString location() const;
  [[nodiscard]] veks::ServerLocationParts serverParts() const;

  // A file that exists must be a journal (said so when it is not); the
  // choice is kept in the settings.
  void accept() override;

 private:
  void chooseFile();
  // Connects off the GUI thread, asking the password when the server wants
  // one, and shows what was found.
  void testConnection();
  // Enables the fields of the kind chosen, shows the location, allows OK.
  void updateState();
  void keepSettings() const;
  // Grows the dialog to show the wrapped location and answer whole.
  void showWhole();

  UiServices& services_;
  QRadioButton* fileChoice_ = nullptr;
  QRadioButton* serverChoice_ = nullptr;
  QWidget* filePart_ = nullptr;
  QLineEdit* file_ = nullptr;
  QPushButton* browse_ = nullptr;
  QGroupBox* serverPart_ = nullptr;
  QLineEdit* host_ = nullptr;
  QSpinBox* port_ = nullptr;
  QLineEdit* database_ = nullptr;
  QLineEdit* user_ = nullptr;
  QComboBox* sslMode_ = nullptr;
  QLineEdit* schema_ = nullptr;
  QLabel* shownLocation_ = nullptr;
  QPushButton* test_ = nullptr;
  QLabel* result_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

// Runs the dialog over the journal the program works with; true when the
// operator chose one (and it is kept as the program's journal).
bool ChooseJournal(QWidget* parent, UiServices& services);
