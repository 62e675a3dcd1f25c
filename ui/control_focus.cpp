#include "ui/control_focus.h"

#include <QApplication>
#include <QMenuBar>

ControlFocus::ControlFocus(QWidget* window, std::function<void(QWidget*)> onExit)
    : QObject(window), window_(window), onExit_(std::move(onExit)) {
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { track(now); });
}

void ControlFocus::track(QWidget* now) {
  if (inExit_ || now == nullptr || now->window() != window_ || qobject_cast<QMenuBar*>(now) ||
      now == current_) {
    return;
  }
  QPointer<QWidget> previous = current_;
  current_ = now;
  if (previous) {
    // An exit that moves the focus itself (a rejection) must not start
    // another exit: the new control simply becomes current.
    inExit_ = true;
    onExit_(previous);
    inExit_ = false;
  }
}

void ControlFocus::focusControl(QWidget* control) {
  if (inExit_) {
    current_ = control;
  } else {
    track(control);
  }
  control->setFocus(Qt::OtherFocusReason);
  // setFocus only records the focus in an inactive window; make it take effect now.
  if (QApplication::activeWindow() != window_) QApplication::setActiveWindow(window_);
}

void ControlFocus::hideControl(QWidget* control) {
  QWidget* focused = QApplication::focusWidget();
  const bool holdsFocus =
      focused != nullptr && (focused == control || control->isAncestorOf(focused));
  if (holdsFocus || current_ == control) {
    for (QWidget* next = control->nextInFocusChain(); next != nullptr && next != control;
         next = next->nextInFocusChain()) {
      if (next->window() == window_ && !control->isAncestorOf(next) && next->isVisibleTo(window_) &&
          next->isEnabled() && (next->focusPolicy() & Qt::TabFocus) != 0) {
        focusControl(next);
        break;
      }
    }
  }
  control->hide();
}
