// The menu "Журнал" of the main window: adding the chosen archive to the
// event journal, the journal window, and the choice of the journal.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

#include "archive/view_state.h"
#include "ui/dialog_services.h"

class JournalWindow;
class QAction;
class QMainWindow;

class JournalActions : public QObject {
  Q_OBJECT

 public:
  // Adds the menu to `window`'s menu bar. `chooseArchive` is the window's own
  // choice of the archive file, which sets the view state's ArchiveName (or
  // leaves it empty when the operator gave none).
  JournalActions(QMainWindow* window, veks::ViewState& state, UiServices& services,
                 std::function<void()> chooseArchive);

  [[nodiscard]] QAction* addAction() const { return add_; }
  [[nodiscard]] QAction* openAction() const { return open_; }
  [[nodiscard]] QAction* chooseAction() const { return choose_; }
  // The journal window while it is open.
  [[nodiscard]] JournalWindow* journalWindow() const;

  // Imports the chosen archive (choosing one first when none is) into the
  // journal, for the device the operator names, and says what came of it.
  void addArchive();
  // Shows the journal window, or raises it when it is open.
  void openJournal();

 private:
  [[nodiscard]] QWidget* dialogParent() const;
  // Asks until a valid name is given or the operator cancels.
  std::optional<std::string> askDevice(QWidget* parent, DeviceQuestion question);

  QMainWindow* window_;
  veks::ViewState& state_;
  UiServices& services_;
  std::function<void()> chooseArchive_;
  QAction* add_ = nullptr;
  QAction* open_ = nullptr;
  QAction* choose_ = nullptr;  // "Выбрать журнал…"
  QPointer<JournalWindow> journalWindow_;
};
