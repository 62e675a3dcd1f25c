#include <QTimer>
#include <exception>

#include "archive/view_state.h"
#include "ui/Doc_main.h"
#include "ui/dialog_services.h"
#include "ui/doc_application.h"

int main(int argc, char** argv) {
  // The browsing state outlives the window: created before it, released after.
  veks::ViewState state;
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  app.loadQtTranslations(QLocale::system());
  QtUiServices services;
  app.setErrorDisplay(
      [&](const QString& text) { services.errorBox(QApplication::activeWindow(), text); });
  try {
    TForm_main window(state, services);
    window.show();
    window.applyOuterGeometry();
    // A window manager may report its frame only after the first show.
    QTimer::singleShot(100, &window, &TForm_main::applyOuterGeometry);
    QApplication::exec();
  } catch (const std::exception& error) {
    services.errorBox(nullptr, ErrorDisplayText(QString::fromUtf8(error.what())));
  }
  return 0;
}
