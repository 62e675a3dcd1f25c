// The application object: it catches an error that escapes an event handler,
// shows it in the error display and lets the window go on; and it puts Qt's
// own texts in the operator's language.
#pragma once

#include <QApplication>
#include <QLocale>
#include <QTranslator>
#include <functional>

class DocApplication : public QApplication {
 public:
  DocApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  // `display` gets the text already ended by the "." rule.
  void setErrorDisplay(std::function<void(const QString&)> display) {
    display_ = std::move(display);
  }

  // Loads Qt's own translations (file and print dialogs, the overwrite
  // question, the standard buttons) for `locale`, or for Russian, the
  // language of the program's own texts, when `locale` is English (the
  // system's "C" locale included) or Qt has no translation for it; the
  // default locale becomes the one loaded. Returns its name ("ru_RU"), or an
  // empty text when no translation could be loaded (Debian's
  // qt6-translations-l10n missing): Qt's texts stay English then.
  QString loadQtTranslations(const QLocale& locale);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  std::function<void(const QString&)> display_;
  QTranslator* qtTranslator_ = new QTranslator(this);
};
