// Tells when a control of one window loses the input focus to another control
// of the same window (its "exit"), at once and synchronously.
//
// Focus that goes to a modal box, a menu, a popup (the date picker's calendar)
// or another window is no exit: the control stays current and its exit runs
// only when another control of the window takes the focus.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

class ControlFocus : public QObject {
 public:
  ControlFocus(QWidget* window, std::function<void(QWidget*)> onExit);

  // Moves the focus to `control`, running the exit of the current control first.
  void focusControl(QWidget* control);
  // Hides `control`; when it holds the focus, the focus first moves on to the
  // next control of the tab chain that can take it (some widgets keep the
  // focus while hidden otherwise), which runs its exit.
  void hideControl(QWidget* control);
  [[nodiscard]] QWidget* current() const { return current_; }

 private:
  void track(QWidget* now);

  QWidget* window_;
  std::function<void(QWidget*)> onExit_;
  QPointer<QWidget> current_;
  bool inExit_ = false;
};
