// A stand-in for the operator: records every message and dialog the window
// asks for and answers as the test told it. Nothing waits on a person.
#pragma once

#include <QPrinter>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>

#include "ui/dialog_services.h"

class FakeServices : public UiServices {
 public:
  void message(QWidget*, const QString& text) override {
    messages << text;
    if (onMessage) onMessage(text);
  }
  void warning(QWidget*, const QString& text, const QString& caption) override {
    warnings << caption + QLatin1Char('|') + text;
  }
  void errorBox(QWidget*, const QString& text) override { errors << text; }
  std::optional<QString> openFileName(QWidget*, const QString& title, const QString& suffix,
                                      const QString& filter) override {
    dialogs << title + QLatin1Char('|') + suffix + QLatin1Char('|') + filter;
    if (throwOnOpen) throw std::runtime_error("диск недоступен");
    if (fileAnswers.empty()) return std::nullopt;
    const std::optional<QString> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
  // Confirms by printing into printToPdf, or cancels when it is empty.
  bool printDialog(QWidget*, QPrinter* printer) override {
    ++printDialogs;
    if (onPrintDialog) onPrintDialog();
    if (printToPdf.isEmpty()) return false;
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(printToPdf);
    return true;
  }
  void beep() override { ++beeps; }

  QStringList messages, warnings, errors, dialogs;
  std::deque<std::optional<QString>> fileAnswers;
  std::function<void(const QString&)> onMessage;
  std::function<void()> onPrintDialog;
  bool throwOnOpen = false;
  QString printToPdf;
  int printDialogs = 0;
  int beeps = 0;
};
