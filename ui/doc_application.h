// The application object: it catches an error that escapes an event handler,
// shows it in the error display and lets the window go on.
#pragma once

#include <QApplication>
#include <functional>

class DocApplication : public QApplication {
 public:
  DocApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  // `display` gets the text already ended by the "." rule.
  void setErrorDisplay(std::function<void(const QString&)> display) {
    display_ = std::move(display);
  }

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  std::function<void(const QString&)> display_;
};
