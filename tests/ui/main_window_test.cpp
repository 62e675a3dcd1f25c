#include <sys/stat.h>

#include <QAction>
#include <QCalendarWidget>
#include <QClipboard>
#include <QDateEdit>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <memory>

#include "tests/file_snapshot.h"
#include "tests/ui/window_test_base.h"
#include "tools/archive_builder.h"
#include "ui/Doc_main.h"
#include "ui/doc_application.h"

using veks::ArchiveBuilder;
using veks::MakeRecord;

class MainWindowTest : public WindowTestBase {
  Q_OBJECT

 private:
  QString gridText(int column, int viewRow) const {
    auto* grid = find<QTableView>("StringGrid1");
    return grid->model()->index(viewRow, column).data().toString();
  }
  void focusEdit() {
    auto* edit = find<QLineEdit>("Edit1");
    edit->setFocus();
    QCOMPARE(QApplication::focusWidget(), edit);
  }

 private slots:
  // Slot 99 is the newest record; slot 40 holds input 7, slot 60 the 09.10.11 records.
  void init() {
    QVERIFY(openWindow(ArchiveBuilder()
                           .fillNumbered()
                           .setRecord(40, MakeRecord(1, 7, 8, 30, 0, 9, 10, 11))
                           .setRecord(60, MakeRecord(51, 3, 6, 5, 4, 9, 10, 11))
                           .setWriteOffset(800)));
  }
  void cleanup() { closeWindow(); }

  void startState() {
    QCOMPARE(window_->windowTitle(), QStringLiteral("Документирование архива ВЕКС-12"));
    QCOMPARE(window_->frameGeometry().size(), QSize(882, 692));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());  // fixed: no resizing
    QVERIFY(!window_->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    auto* grid = find<QTableView>("StringGrid1");
    QCOMPARE(grid->model()->columnCount(), 4);
    QCOMPARE(grid->model()->rowCount(), 16);  // plus the header row: 17
    for (int c = 0; c < 4; ++c)
      QCOMPARE(grid->model()->headerData(c, Qt::Horizontal).toString(), QString());
    QCOMPARE(grid->columnWidth(0), 110);
    QCOMPARE(grid->columnWidth(3), 106);
    QCOMPARE(grid->rowHeight(0), 24);
    QVERIFY(!find<QPushButton>("Button5")->isEnabled());
    QVERIFY(!find<QPushButton>("Button6")->isEnabled());
    QVERIFY(!find<QGroupBox>("GroupBoxPrint")->isVisible());
    QVERIFY(!find<QPushButton>("Button3")->isVisible());
    QVERIFY(!find<QDateEdit>("DateTimePicker2")->isVisible());
    QVERIFY(!find<QPlainTextEdit>("RichEdit2")->isVisible());
    // Today, as it was when the window was made (midnight may have passed since).
    const QDate shown = find<QDateEdit>("DateTimePicker2")->date();
    QVERIFY2(shown >= openedOn_ && shown <= QDate::currentDate(), qPrintable(shown.toString()));
    QCOMPARE(find<QLineEdit>("Edit1")->text(), QString());
    QCOMPARE(find<QLabel>("Label1")->text(), QStringLiteral("Документирование"));
    QCOMPARE(QApplication::focusWidget(), grid);
    QVERIFY(services_->messages.isEmpty());
  }

  void archiveChoice_data() {
    QTest::addColumn<QString>("via");
    QTest::newRow("F3") << "F3";
    QTest::newRow("toolbar") << "ToolButton7";
    QTest::newRow("menu") << "N1";
  }
  void archiveChoice() {
    QFETCH(QString, via);
    auto run = [&] {
      if (via == QLatin1String("F3")) {
        QTest::keyClick(find<QTableView>("StringGrid1"), Qt::Key_F3);
      } else if (via == QLatin1String("N1")) {
        find<QMenu>("N1File")->actions().at(0)->trigger();
      } else {
        QTest::mouseClick(find<QToolButton>("ToolButton7"), Qt::LeftButton);
      }
    };
    // Cancelled: the name is emptied and said so.
    state_.ArchiveName = "old.dat";
    services_->fileAnswers = {std::nullopt};
    run();
    QCOMPARE(services_->dialogs,
             QStringList{
                 QStringLiteral("Выбор файла архива|dat|Файлы типа .dat (*.dat);;Все файлы (*)")});
    QCOMPARE(services_->messages, QStringList{QStringLiteral("Файл архива не выбран")});
    QCOMPARE(state_.ArchiveName, std::string());

    // A wrong extension warns and asks again; then a good name is kept.
    services_->fileAnswers = {QStringLiteral("/data/a.txt"), QStringLiteral("/data/b.dat")};
    run();
    QCOMPARE(services_->warnings,
             QStringList{QStringLiteral("задание имени файла|Неверно задано имя файла")});
    QCOMPARE(state_.ArchiveName, std::string("/data/b.dat"));
    QCOMPARE(state_.ArchiveExt, std::string(".dat"));

    services_->fileAnswers = {QStringLiteral("/data/archive")};
    run();
    QCOMPARE(state_.ArchiveName, std::string("/data/archive.dat"));
    QCOMPARE(state_.ArchiveExt, std::string());

    services_->fileAnswers = {QStringLiteral("/media/ARCHIVE.DAT")};
    run();
    QCOMPARE(state_.ArchiveName, std::string("/media/ARCHIVE.DAT"));
    QCOMPARE(services_->warnings.size(), 1);
    QCOMPARE(state_.BlockDepth, 0);  // choosing loads nothing
  }

  void printGroup_data() { archiveChoice_data(); }
  void printGroup() {
    QFETCH(QString, via);
    auto* group = find<QGroupBox>("GroupBoxPrint");
    for (int twice = 0; twice < 2; ++twice) {
      if (via == QLatin1String("F3")) {
        QTest::keyClick(find<QLineEdit>("Edit1"), Qt::Key_F4);  // works from any control
      } else if (via == QLatin1String("N1")) {
        find<QMenu>("N1File")->actions().at(1)->trigger();
      } else {
        QTest::mouseClick(find<QToolButton>("ToolButton6"), Qt::LeftButton);
      }
      QVERIFY(group->isVisible());
    }
    QCOMPARE(find<QToolButton>("ToolButton6")->toolTip(),
             QStringLiteral("Документирование архива"));
    QVERIFY(services_->messages.isEmpty());
  }

  void browsingBeforeAnArchive_data() {
    QTest::addColumn<QString>("button");
    for (const char* b : {"Button8", "Button9"}) QTest::newRow(b) << b;
  }
  void browsingBeforeAnArchive() {
    QFETCH(QString, button);
    click(button.toLatin1().constData());
    QCOMPARE(services_->messages, QStringList{QStringLiteral("Не задано имя файла архива")});
    QCOMPARE(gridText(2, 0), QString());
  }

  void browsingButtonsDriveTheTable() {
    chooseArchive();
    click("Button8");
    QCOMPARE(gridText(2, 0), QString::fromStdString(veks::NumberedTimeText(99)));
    QCOMPARE(find<QTableView>("StringGrid1")->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Событие"));
    QCOMPARE(find<QLabel>("Label1")->text(), QString::fromStdString("Архив: файл " + path_));
    QCOMPARE(find<QLineEdit>("Edit1")->text(),
             QString::fromStdString(veks::RecordStampText(veks::NumberedRecord(99))));
    QVERIFY(find<QPushButton>("Button5")->isEnabled());
    QVERIFY(find<QPushButton>("Button6")->isEnabled());
    click("Button6");
    QCOMPARE(gridText(2, 0), QString::fromStdString(veks::NumberedTimeText(83)));
    QVERIFY(find<QLabel>("Label1")->text().contains(QStringLiteral("  время: ")));
    click("Button5");
    QCOMPARE(gridText(2, 0), QString::fromStdString(veks::NumberedTimeText(99)));
    click("Button9");
    QCOMPARE(gridText(2, 0), QString::fromStdString(veks::NumberedTimeText(115)));
    QVERIFY(services_->messages.isEmpty());
  }

  void rejectedKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("letter") << int(Qt::Key_A) << int(Qt::NoModifier);
    QTest::newRow("keypad digit") << int(Qt::Key_5) << int(Qt::KeypadModifier);
    QTest::newRow("home") << int(Qt::Key_Home) << int(Qt::NoModifier);
    QTest::newRow("escape") << int(Qt::Key_Escape) << int(Qt::NoModifier);
    QTest::newRow("shift alone") << int(Qt::Key_Shift) << int(Qt::NoModifier);
    QTest::newRow("enter on empty") << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("keypad enter on empty") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
  }
  void rejectedKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    chooseArchive();
    focusEdit();
    QTest::keyPress(find<QLineEdit>("Edit1"), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(services_->messages,
             (QStringList{QStringLiteral("Ошибка ввода"), QStringLiteral("Ошибка ввода")}));
    QCOMPARE(services_->beeps, 2);
    auto* edit = find<QLineEdit>("Edit1");
    QCOMPARE(edit->text(), QStringLiteral("00"));
    QCOMPARE(edit->palette().color(QPalette::Base),
             QApplication::palette().color(QPalette::ToolTipBase));
    QCOMPARE(QApplication::focusWidget(), find<QTableView>("StringGrid1"));
    QCOMPARE(state_.RowsShown, 0);  // no load
  }

  void digitsAndEditingKeysPass() {
    focusEdit();
    auto* edit = find<QLineEdit>("Edit1");
    QTest::keyClicks(edit, QStringLiteral("123"));  // the third digit is over the limit
    QCOMPARE(edit->text(), QStringLiteral("12"));
    QTest::keyClick(edit, Qt::Key_Left);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Right);
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QStringLiteral("2"));
    QVERIFY(services_->messages.isEmpty());
    QCOMPARE(QApplication::focusWidget(), edit);
  }

  void numberOnLeaving_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("messages");
    QTest::newRow("0") << "0" << 1;
    QTest::newRow("00") << "00" << 1;
    QTest::newRow("256") << "256" << 1;
    QTest::newRow("empty") << "" << 2;
  }
  void numberOnLeaving() {
    QFETCH(QString, text);
    QFETCH(int, messages);
    chooseArchive();
    focusEdit();
    find<QLineEdit>("Edit1")->setText(text);
    find<QTableView>("StringGrid1")->setFocus();
    QCOMPARE(services_->messages.size(), messages);
    QCOMPARE(services_->messages.constFirst(), QStringLiteral("Ошибка ввода"));
    QCOMPARE(find<QLineEdit>("Edit1")->text(), QStringLiteral("00"));
    QCOMPARE(state_.InputFilter, 0);
    QCOMPARE(state_.RowsShown, 0);
  }

  void validNumberRunsTheInputFilter() {
    chooseArchive();
    click("Button8");
    focusEdit();
    auto* edit = find<QLineEdit>("Edit1");
    edit->clear();
    QTest::keyClick(edit, Qt::Key_7);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), find<QTableView>("StringGrid1"));
    QCOMPARE(state_.InputNumber, 7);
    QCOMPARE(find<QLabel>("Label1")->text(),
             QString::fromStdString("Архив: файл " + path_ + " вход № 7"));
    QCOMPARE(gridText(0, 0), QStringLiteral("клапан ОТКРЫТ"));
    QCOMPARE(find<QTableView>("StringGrid1")->model()->rowCount(), 1);
    QVERIFY(services_->messages.isEmpty());
  }

  void leavingWithTheTimeTextIsAConversionError() {
    chooseArchive();
    click("Button8");
    const int rows = state_.RowsShown;
    focusEdit();
    const QString stamp = find<QLineEdit>("Edit1")->text();
    QCOMPARE(stamp.size(), 17);
    find<QTableView>("StringGrid1")->setFocus();
    QCOMPARE(services_->errors,
             QStringList{QStringLiteral("'%1' is not a valid integer value.").arg(stamp)});
    QVERIFY(services_->messages.isEmpty());
    QCOMPARE(find<QLineEdit>("Edit1")->text(), stamp);
    QCOMPARE(state_.RowsShown, rows);
  }

  void pickingADateSearchesAtOnce_data() {
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("focused");  // else the picker never had the focus: no exit runs
    for (const bool focused : {true, false}) {
      const char* how = focused ? "" : ", never focused";
      QTest::addRow("present%s", how) << QDate(2011, 10, 9) << QString() << focused;
      QTest::addRow("absent%s", how)
          << QDate(1999, 12, 31) << QStringLiteral("Указанная дата не найдена") << focused;
    }
  }
  void pickingADateSearchesAtOnce() {
    QFETCH(QDate, date);
    QFETCH(QString, message);
    QFETCH(bool, focused);
    chooseArchive();
    click("Button8");
    click("Button4");
    auto* button3 = find<QPushButton>("Button3");
    auto* picker = find<QDateEdit>("DateTimePicker2");
    QVERIFY(button3->isVisible());
    QVERIFY(!picker->isVisible());
    click("Button3");
    QVERIFY(picker->isVisible());
    if (focused) picker->setFocus();
    picker->setDate(date);
    QVERIFY(!picker->isVisible());
    QVERIFY(!button3->isVisible());
    if (message.isEmpty()) {
      QVERIFY(services_->messages.isEmpty());
      QCOMPARE(gridText(0, 0),
               QStringLiteral("Включение  реле"));  // slot 60, the newest of that date
      QCOMPARE(gridText(0, 20), QString());
      QCOMPARE(find<QLabel>("Label1")->text(),
               QString::fromStdString("Архив: файл " + path_ + "  09.10.11"));
    } else {
      QCOMPARE(services_->messages, QStringList{message});
      QCOMPARE(gridText(2, 0), QString::fromStdString(veks::NumberedTimeText(99)));
    }
    QCOMPARE(state_.DateSearch, 0);
    QCOMPARE(services_->messages.size(), message.isEmpty() ? 0 : 1);  // one search, not two
  }

  void leavingThePickerUnchangedShowsThePlainView() {
    chooseArchive();
    click("Button4");
    click("Button3");
    find<QDateEdit>("DateTimePicker2")->setFocus();
    find<QTableView>("StringGrid1")->setFocus();
    QCOMPARE(gridText(2, 0), QString::fromStdString(veks::NumberedTimeText(99)));
  }

  void errorInAHandlerReachesTheErrorDisplay() {
    services_->throwOnOpen = true;
    find<QAction>("AOpenFile")->trigger();
    QCOMPARE(services_->errors, QStringList{QStringLiteral("диск недоступен.")});
    chooseArchive();
    click("Button8");  // the window goes on
    QCOMPARE(gridText(2, 0), QString::fromStdString(veks::NumberedTimeText(99)));
  }

  void errorDisplayDotRule_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "bad"
                           << "bad.";
    QTest::newRow("dot") << "bad."
                         << "bad.";
    QTest::newRow("bang") << "bad!"
                          << "bad!";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("cyrillic") << "сбой"
                              << "сбой.";
  }
  void errorDisplayDotRule() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorDisplayText(message), shown);
  }

  // The real message box, closed as soon as it shows: wide enough for the
  // caption beside the title bar's buttons, its text in full.
  void messageBoxesAreWideEnough_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << QStringLiteral("архив пуст");
    QTest::newRow("long") << QStringLiteral("Архив поврежден: неверный указатель записи");
  }
  void messageBoxesAreWideEnough() {
    QFETCH(QString, text);
    QtUiServices real;
    QSize size, label, labelHint;
    QString caption;
    QTimer::singleShot(0, window_.get(), [&] {
      auto* box = window_->findChild<QMessageBox*>();
      size = box->size();
      caption = box->windowTitle();
      auto* shown = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
      label = shown->size();
      labelHint = shown->sizeHint();
      box->done(0);
    });
    real.message(window_.get(), text);
    QCOMPARE(caption, ApplicationTitle());
    QVERIFY2(size.width() >= kMinimumBoxWidth, qPrintable(QString::number(size.width())));
    QVERIFY(label.width() >= labelHint.width());
  }

  // Qt's own buttons speak the operator's language, Russian where the
  // system's locale is "C" (or English) or has no translation.
  void qtTextsInTheOperatorsLanguage() {
    auto* app = static_cast<DocApplication*>(QApplication::instance());
    const auto restore = qScopeGuard([app] {
      for (QTranslator* translator : app->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
      }
      QLocale::setDefault(QLocale::c());
    });
    for (const auto& [system, yes] : {std::pair{QLocale::c(), "&Да"},
                                      {QLocale(QLocale::German), "&Ja"},
                                      {QLocale(QLocale::Zulu), "&Да"}}) {
      QCOMPARE(app->loadQtTranslations(system).isEmpty(), false);
      QMessageBox box(QMessageBox::Question, {}, {}, QMessageBox::Yes);
      QCOMPARE(box.button(QMessageBox::Yes)->text(), QString::fromUtf8(yes));
    }
  }

  void errorEscapingASlotIsCaughtByTheApplication() {
    QStringList shown;
    auto* app = static_cast<DocApplication*>(QApplication::instance());
    app->setErrorDisplay([&](const QString& text) { shown << text; });
    QPushButton button;
    connect(&button, &QPushButton::clicked, [] { throw std::runtime_error("слот упал"); });
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(shown, QStringList{QStringLiteral("слот упал.")});
    app->setErrorDisplay({});
  }

  void copyFromTheGrid() {
    chooseArchive();
    click("Button8");
    auto* grid = find<QTableView>("StringGrid1");
    grid->setFocus();
    grid->selectionModel()->select(
        QItemSelection(grid->model()->index(0, 0), grid->model()->index(1, 2)),
        QItemSelectionModel::Select);
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    const QString expected = QStringLiteral("Питание  вкл\t\t%1\nПитание  вкл\t\t%2\n")
                                 .arg(QString::fromStdString(veks::NumberedTimeText(99)),
                                      QString::fromStdString(veks::NumberedTimeText(98)));
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
  }

  void oddArchives_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("writeOffset");
    QTest::addColumn<QString>("message");
    for (const int size : {0, 100, 7936, 7938, 7940, 8500}) {
      QTest::addRow("%d bytes", size) << size << 800 << QString();
    }
    QTest::newRow("empty marker") << 7940 << 255 << QStringLiteral("архив пуст");
    for (const int offset : {-1, 4, 7937, 8000}) {
      QTest::addRow("offset %d", offset)
          << 7940 << offset << QStringLiteral("Архив поврежден: неверный указатель записи");
    }
    QTest::newRow("directory") << -1 << 0 << QStringLiteral("Архив не удается открыть");
    QTest::newRow("fifo") << -2 << 0 << QStringLiteral("Архив не удается открыть");
  }
  void oddArchives() {
    QFETCH(int, size);
    QFETCH(int, writeOffset);
    QFETCH(QString, message);
    if (size == -1) {
      path_ = dir_->path().string();
    } else if (size == -2) {
      path_ = dir_->file("pipe.dat");
      QCOMPARE(mkfifo(path_.c_str(), 0600), 0);
    } else {
      ArchiveBuilder()
          .fillNumbered()
          .setWriteOffset(writeOffset)
          .writeTo(path_, static_cast<std::size_t>(size));
    }
    chooseArchive();
    click("Button8");
    QCOMPARE(services_->messages, message.isEmpty() ? QStringList() : QStringList{message});
    const QString status = find<QLabel>("Label1")->text();
    QCOMPARE(status, message.isEmpty() ? QString::fromStdString("Архив: файл " + path_)
                                       : QStringLiteral("Документирование"));
  }

  // Every action with the keyboard alone, each key going where the focus is.
  void keyboardOnlyRoute() {
    auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
      QTest::keyClick(window_->windowHandle(), key, modifiers);
    };
    auto* grid = find<QTableView>("StringGrid1");
    auto* box = find<QPlainTextEdit>("RichEdit1");
    auto* picker = find<QDateEdit>("DateTimePicker2");
    auto* label = find<QLabel>("Label1");
    auto time = [](int slot) { return QString::fromStdString(veks::NumberedTimeText(slot)); };
    {
      const QSignalBlocker blocker(picker);  // a day after the records of 09.10.11
      picker->setDate(QDate(2011, 10, 10));
    }
    QCOMPARE(QApplication::focusWidget(), grid);

    // The archive, from the menu (Alt+F, Enter on its first item) and with F3.
    services_->fileAnswers = {QString::fromStdString(path_), QString::fromStdString(path_)};
    press(Qt::Key_F, Qt::AltModifier);
    QCOMPARE(QApplication::activePopupWidget(), find<QMenu>("N1File"));
    press(Qt::Key_Return);
    QCOMPARE(services_->dialogs.size(), 1);
    QCOMPARE(QApplication::activePopupWidget(), nullptr);
    press(Qt::Key_F3);
    QCOMPARE(services_->dialogs.size(), 2);
    QCOMPARE(state_.ArchiveName, path_);
    QCOMPARE(QApplication::focusWidget(), grid);

    // The arrow keys move between cells; Tab leaves the table.
    press(Qt::Key_Down);
    press(Qt::Key_Right);
    QCOMPARE(grid->currentIndex(), grid->model()->index(1, 1));
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box);
    press(Qt::Key_Tab);
    press(Qt::Key_Space);  // Последняя запись
    QCOMPARE(gridText(2, 0), time(99));
    press(Qt::Key_Tab);
    press(Qt::Key_Space);  // Начало архива
    QCOMPARE(gridText(2, 0), time(115));

    // The number box: Tab selects its text, a digit replaces it, Enter runs the filter.
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), find<QLineEdit>("Edit1"));
    press(Qt::Key_7);
    press(Qt::Key_Return);
    QCOMPARE(label->text(), QString::fromStdString("Архив: файл " + path_ + " вход № 7"));
    QCOMPARE(QApplication::focusWidget(), grid);

    // Shift+Tab leaves the table backwards, to the step buttons.
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), find<QPushButton>("Button4"));
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), find<QPushButton>("Button6"));
    press(Qt::Key_Space);  // back from the filter's cursor: the newest block
    QCOMPARE(gridText(2, 0), time(99));
    press(Qt::Key_Tab);
    press(Qt::Key_Space);  // forward: the oldest block
    QCOMPARE(gridText(2, 0), time(115));

    // The date controls and the calendar: Alt+Down opens it, Left moves a
    // day, Enter picks; the search runs once the calendar has closed.
    press(Qt::Key_Tab);
    press(Qt::Key_Space);  // Показать с заданной даты
    press(Qt::Key_Tab);
    press(Qt::Key_Space);  // Задайте дату
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), picker);
    const QString status = label->text();
    press(Qt::Key_Down, Qt::AltModifier);
    QVERIFY(picker->calendarWidget()->isVisible());
    press(Qt::Key_Left);
    QCOMPARE(label->text(), status);  // moving in the calendar searches nothing yet
    press(Qt::Key_Return);
    QCoreApplication::processEvents();
    QVERIFY(!picker->calendarWidget()->isVisible());
    QVERIFY(!picker->isVisible());
    QVERIFY(!find<QPushButton>("Button3")->isVisible());
    QCOMPARE(label->text(), QString::fromStdString("Архив: файл " + path_ + "  09.10.11"));
    QCOMPARE(gridText(0, 0), QStringLiteral("Включение  реле"));
    QCOMPARE(QApplication::focusWidget(), grid);

    // F4, then both reports, reached backwards from the table.
    press(Qt::Key_F4);
    QVERIFY(find<QGroupBox>("GroupBoxPrint")->isVisible());
    for (int i = 0; i < 3; ++i) press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), find<QPushButton>("But1"));
    press(Qt::Key_Space);
    QCOMPARE(box->blockCount(), 4 + 17);
    QCOMPARE(box->document()->firstBlock().text(), label->text());
    press(Qt::Key_Tab);
    press(Qt::Key_Space);
    QCOMPARE(box->blockCount(), 1058);

    // Part of the report: the cursor starts at the title; Shift with the
    // arrows and End selects, Ctrl+C copies.
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box);
    for (int i = 0; i < 4; ++i) press(Qt::Key_Down);
    press(Qt::Key_Right);
    press(Qt::Key_Down, Qt::ShiftModifier);
    press(Qt::Key_End, Qt::ShiftModifier);
    const QString line4 = box->document()->findBlockByNumber(4).text();
    const QString selected =
        line4.mid(1) + QLatin1Char('\n') + box->document()->findBlockByNumber(5).text();
    QCOMPARE(box->textCursor().selection().toPlainText(), selected);
    press(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), selected);

    // Printing the selection, through the print dialog.
    services_->printToPdf = QString::fromStdString(dir_->file("part.pdf"));
    QString page;
    services_->onPrintDialog = [&] { page = find<QPlainTextEdit>("RichEdit2")->toPlainText(); };
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), find<QPushButton>("But5"));
    press(Qt::Key_Space);
    QCOMPARE(services_->printDialogs, 1);
    QVERIFY(page.endsWith(selected));
    QVERIFY(QFileInfo(services_->printToPdf).size() > 0);

    QVERIFY(services_->messages.isEmpty());
    QVERIFY(services_->errors.isEmpty());
  }

  void archiveIsNeverTouched() {
    const veks::FileSnapshot before(path_);
    chooseArchive();
    click("Button8");
    click("Button6");
    click("Button5");
    click("Button9");
    click("Button4");
    click("Button3");
    auto* picker = find<QDateEdit>("DateTimePicker2");
    picker->setFocus();
    picker->setDate(QDate(2011, 10, 9));
    focusEdit();
    find<QLineEdit>("Edit1")->setText(QStringLiteral("7"));
    find<QTableView>("StringGrid1")->setFocus();
    find<QAction>("APrint")->trigger();
    click("But3");
    click("But1");
    QVERIFY(services_->messages.isEmpty());
    QVERIFY(veks::FileSnapshot(path_) == before);
  }
};

int main(int argc, char** argv) {
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
