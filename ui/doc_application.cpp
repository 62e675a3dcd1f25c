#include "ui/doc_application.h"

#include <exception>

#include "ui/dialog_services.h"

bool DocApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    const QString text = ErrorDisplayText(QString::fromUtf8(error.what()));
    if (display_) display_(text);
  }
  return false;
}
