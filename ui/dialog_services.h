// What the window asks of the person in front of it: modal messages, the
// warning box, the error display, the file and print dialogs, the beep. The
// real implementation uses Qt's dialogs; tests put a recording fake in.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "ui/note_editor.h"

class QPrinter;
class QSettings;
class QWidget;

// The icon of a message box: none for the window's own plain messages.
enum class MessageIcon { kNone, kInformation, kWarning, kCritical };

// A name chosen in the save dialog, and the filter it was chosen under.
struct SaveChoice {
  QString fileName;
  QString filter;
};

// What the device dialog asks about: the copy being added, the name offered
// for it, and whether that name is a device of the journal whose history the
// copy continues (else the copy starts a new segment).
struct DeviceQuestion {
  QString archive;  // the copy's file, as the operator knows it
  QString proposed;
  bool continues = false;
  QStringList existing;  // the journal's devices, in the order shown
};

class UiServices {
 public:
  virtual ~UiServices() = default;
  // A modal message with an OK button, captioned with the application title.
  virtual void message(QWidget* parent, const QString& text,
                       MessageIcon icon = MessageIcon::kNone) = 0;
  // A modal warning box with its own caption and an OK button.
  virtual void warning(QWidget* parent, const QString& text, const QString& caption) = 0;
  // The general error display: a stop icon, the application title, the text.
  virtual void errorBox(QWidget* parent, const QString& text) = 0;
  // The open dialog; the chosen full name, or nothing when cancelled.
  virtual std::optional<QString> openFileName(QWidget* parent, const QString& title,
                                              const QString& defaultSuffix,
                                              const QString& filter) = 0;
  // The save dialog with `filters` ("Name (*.ext)", the first one chosen at
  // first), offering `proposedName` (a name without a folder); the chosen
  // full name and filter, or nothing when cancelled. A name typed without a
  // suffix gets the chosen filter's.
  virtual std::optional<SaveChoice> saveFileName(QWidget* parent, const QString& title,
                                                 const QStringList& filters,
                                                 const QString& proposedName) = 0;
  // The print dialog for `printer`; true when the operator confirmed.
  virtual bool printDialog(QWidget* parent, QPrinter* printer) = 0;
  // Asks which device an archive copy belongs to, offering the proposed name
  // and the devices the journal knows; the name as given, or nothing when
  // cancelled.
  virtual std::optional<QString> askDeviceName(QWidget* parent, const DeviceQuestion& question) = 0;
  // Asks for the new name of `device`, offering `proposed` and the journal's
  // other devices (choosing one joins the two); the name as given, or
  // nothing when cancelled.
  virtual std::optional<QString> askNewDeviceName(QWidget* parent, const QString& device,
                                                  const QString& proposed,
                                                  const QStringList& others) = 0;
  // A modal question; true when the operator answered yes. No is the default
  // answer, so an Enter pressed by habit changes nothing.
  virtual bool confirm(QWidget* parent, const QString& text) = 0;
  virtual void beep() = 0;
  // Asks for a note's kind and text (and an operator entry's moment); what
  // was given, or nothing when cancelled.
  virtual std::optional<NoteAnswer> askNote(QWidget* parent, const NoteQuestion& question) = 0;
  // Asks the name that signs the operator's notes, offering `proposed`; the
  // name as given, or nothing when cancelled.
  virtual std::optional<QString> askAuthor(QWidget* parent, const QString& proposed) = 0;
  // Asks the password for the server journal at `shownLocation`, its field
  // showing no letter typed; `refusal` says why the server refused the
  // password given before (empty at the first asking). The password, or
  // nothing when cancelled. It is never written anywhere.
  virtual std::optional<QString> askPassword(QWidget* parent, const QString& shownLocation,
                                             const QString& refusal) = 0;
};

// Qt's own dialogs (non-native, so every platform behaves alike).
class QtUiServices : public UiServices {
 public:
  void message(QWidget* parent, const QString& text,
               MessageIcon icon = MessageIcon::kNone) override;
  void warning(QWidget* parent, const QString& text, const QString& caption) override;
  void errorBox(QWidget* parent, const QString& text) override;
  std::optional<QString> openFileName(QWidget* parent, const QString& title,
                                      const QString& defaultSuffix, const QString& filter) override;
  // Starts in the folder of the last save, kept in the user's settings,
  // while it is there, else in the documents folder or the home folder. A
  // proposed name's suffix follows the filter chosen.
  std::optional<SaveChoice> saveFileName(QWidget* parent, const QString& title,
                                         const QStringList& filters,
                                         const QString& proposedName) override;
  bool printDialog(QWidget* parent, QPrinter* printer) override;
  // The field shows the proposed name with no device of the list chosen;
  // Enter takes the name the field shows.
  std::optional<QString> askDeviceName(QWidget* parent, const DeviceQuestion& question) override;
  std::optional<QString> askNewDeviceName(QWidget* parent, const QString& device,
                                          const QString& proposed,
                                          const QStringList& others) override;
  bool confirm(QWidget* parent, const QString& text) override;
  void beep() override;
  std::optional<NoteAnswer> askNote(QWidget* parent, const NoteQuestion& question) override;
  std::optional<QString> askAuthor(QWidget* parent, const QString& proposed) override;
  std::optional<QString> askPassword(QWidget* parent, const QString& shownLocation,
                                     const QString& refusal) override;
};

// The program's settings (window places, the journal file, the last folder):
// $XDG_CONFIG_HOME/veks12/veks12.conf.
[[nodiscard]] std::unique_ptr<QSettings> ProgramSettings();

// The least width of a message box: its caption and text show in full.
inline constexpr int kMinimumBoxWidth = 320;

// The program file's name without its folder and without everything from its
// first "." on.
QString ApplicationTitle();

// The error display's text: the message with a "." added when it is not empty
// and its last character sorts after ".".
QString ErrorDisplayText(const QString& message);
