#include "ui/doc_application.h"

#include <QLibraryInfo>
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

QString DocApplication::loadQtTranslations(const QLocale& locale) {
  removeTranslator(qtTranslator_);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  // Qt's texts are English already; beside the program's Russian ones they
  // would be the only English words in the window.
  const bool english = locale.language() == QLocale::English || locale.language() == QLocale::C;
  for (const QLocale& candidate : {english ? russian : locale, russian}) {
    if (qtTranslator_->load(candidate, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
      installTranslator(qtTranslator_);
      QLocale::setDefault(candidate);
      return candidate.name();
    }
  }
  return {};
}
