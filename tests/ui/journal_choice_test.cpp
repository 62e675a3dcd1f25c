#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QUrlQuery>

#include "journal/journal.h"
#include "journal/pg_connection.h"
#include "journal/pg_schema.h"
#include "tests/ui/window_test_base.h"
#include "tools/device_simulator.h"
#include "ui/doc_application.h"
#include "ui/journal_actions.h"
#include "ui/journal_choice_dialog.h"
#include "ui/journal_history_model.h"
#include "ui/journal_location.h"
#include "ui/journal_window.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The throw-away cluster's URI (scripts/with-test-pg.sh), or empty.
QString TestServer() { return qEnvironmentVariable("VEKS_TEST_PG"); }

// The cluster's parts ("postgresql:///DB?host=DIR&user=U") with `schema`.
veks::ServerLocationParts TestServerParts(const QString& schema) {
  const QUrl url(TestServer());
  const QUrlQuery query(url);
  return {query.queryItemValue(QStringLiteral("host")).toStdString(),
          0,
          url.path().mid(1).toStdString(),
          query.queryItemValue(QStringLiteral("user")).toStdString(),
          "prefer",
          schema.toStdString()};
}

template <typename T>
T* In(QWidget* dialog, const char* name) {
  T* widget = dialog->findChild<T*>(QString::fromLatin1(name));
  if (widget == nullptr) qFatal("no control %s", name);
  return widget;
}

void FillServer(QWidget* dialog, const veks::ServerLocationParts& parts) {
  In<QRadioButton>(dialog, "ServerChoice")->setChecked(true);
  In<QLineEdit>(dialog, "HostEdit")->setText(Text(parts.host));
  In<QSpinBox>(dialog, "PortBox")->setValue(parts.port);
  In<QLineEdit>(dialog, "DatabaseEdit")->setText(Text(parts.database));
  In<QLineEdit>(dialog, "UserEdit")->setText(Text(parts.user));
  In<QComboBox>(dialog, "SslModeBox")->setCurrentText(Text(parts.sslMode));
  In<QLineEdit>(dialog, "SchemaEdit")->setText(Text(parts.schema));
}

}  // namespace

class JournalChoiceTest : public WindowTestBase {
  Q_OBJECT

  JournalWindow* openJournal() {
    auto* actions = window_->findChild<JournalActions*>();
    actions->openAction()->trigger();
    return actions->journalWindow();
  }
  // Names of this process's own: ctest runs suites side by side on one cluster.
  QString tag(const char* name) const {
    return QStringLiteral("ui%1_%2").arg(getpid()).arg(QLatin1String(name));
  }
  // The journal's schema of this test, dropped at its end.
  veks::ServerLocationParts serverParts(const char* name) {
    const veks::ServerLocationParts parts = TestServerParts(tag(name));
    dropped_ << "DROP SCHEMA IF EXISTS " + Text(admin_->identifier(parts.schema)) + " CASCADE";
    return parts;
  }

  std::unique_ptr<veks::TempDir> data_;
  std::string journal_;  // a journal file of one device, "Насос"
  std::unique_ptr<veks::PgConnection> admin_;
  // Makes the server ask `role` for its password on the tests' socket, until
  // cleanup() puts its rules back; returns once it does.
  void askPasswordOf(const std::string& role) {
    const veks::PgResult hba = admin_->exec(
        "SELECT current_setting('hba_file'), pg_read_file(current_setting('hba_file'))");
    const std::string file(hba.text(0, 0)), rules(hba.text(0, 1));
    const auto write = [&](const std::string& text) {
      return "COPY (SELECT l FROM unnest(string_to_array($r$" + text +
             "$r$, E'\\n')) WITH ORDINALITY t(l, n) ORDER BY n) TO '" + file +
             "'; SELECT pg_reload_conf()";
    };
    dropped_ << Text(write(rules));
    admin_->execScript(write("local all " + role + " scram-sha-256\n" + rules));
    const std::string uri = TestServer().toStdString() + "&user=" + role;
    QVERIFY(QTest::qWaitFor(
        [&] {
          try {
            veks::PgConnection probe(uri);
            return false;
          } catch (const veks::PgConnectFailure& failure) {
            return failure.needsPassword;
          }
        },
        kPatienceMs));
  }
  QStringList dropped_;  // what undoes a test's work on the server

 private slots:
  void init() {
    data_ = std::make_unique<veks::TempDir>();
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data_->path().string()));
    ProgramSettings()->clear();
    journal_ = data_->file("pump.sqlite");
    veks::DeviceSimulator device(5u);
    device.run(1500);
    device.archive().writeTo(data_->file("pump.dat"));
    auto opened = veks::Journal::Open(journal_, veks::Journal::Access::kImport);
    QVERIFY(opened.ok());
    QVERIFY(opened.value()->importArchive(data_->file("pump.dat"), std::string("Насос")).ok());
    QVERIFY(openWindow(veks::ArchiveBuilder().fillNumbered()));
    if (!TestServer().isEmpty()) {
      admin_ = std::make_unique<veks::PgConnection>(TestServer().toStdString());
    }
  }
  void cleanup() {
    closeWindow();
    for (const QString& statement : dropped_) admin_->execScript(statement.toStdString());
    dropped_.clear();
    admin_.reset();
    data_.reset();
  }

  // The dialog chooses a file (typed, taken with Enter) or a server's
  // journal by its parts; the journal window's title shows the journal
  // chosen, and the settings never hold a password, though one was given.
  void chooseJournal_data() {
    QTest::addColumn<bool>("server");
    QTest::newRow("file") << false;
    QTest::newRow("server") << true;
  }
  void chooseJournal() {
    QFETCH(bool, server);
    JournalWindow* journal = openJournal();
    // A socket folder that is not there: the connection fails at once.
    const veks::ServerLocationParts parts{
        "/nonexistent/veks-socket", 5433, "завод №1", "инженер@смена", "verify-full", "Team One"};
    const QString expected = server ? Text(veks::ServerLocationOf(parts)) : Text(journal_);
    WhenModal([&](QWidget* dialog) {
      if (server) {
        FillServer(dialog, parts);
        veks::RememberServerPassword(expected.toStdString(), "s3cret-пароль");
        In<QDialogButtonBox>(dialog, "Buttons")->button(QDialogButtonBox::Ok)->click();
      } else {
        In<QLineEdit>(dialog, "FileEdit")->clear();
        QTest::keyClicks(In<QLineEdit>(dialog, "FileEdit"), expected);
        QTest::keyClick(In<QLineEdit>(dialog, "FileEdit"), Qt::Key_Return);
      }
    });
    journal->findChild<QAction*>(QStringLiteral("AChooseJournal"))->trigger();
    veks::ForgetServerPassword(expected.toStdString());
    QCOMPARE(JournalLocation().value_or(QString()), expected);
    QCOMPARE(journal->windowTitle(),
             QStringLiteral("Журнал событий — ") + ShownJournalLocation(expected));
    QCOMPARE(journal->findChild<QComboBox*>(QStringLiteral("DeviceBox"))->currentText(),
             server ? QString() : QStringLiteral("Насос"));
    QFile ini(ProgramSettings()->fileName());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(!ini.readAll().contains("s3cret"));
    QCOMPARE(ProgramSettings()->value(QStringLiteral("journalChoice/user")).toString(),
             server ? Text(parts.user) : QString());
  }

  // "Проверить соединение" says what the server holds where the journal
  // would be, and what the role may do there; a password the server wants
  // is asked, and asked again, saying so, when refused.
  void connectionTest_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("said");
    QTest::newRow("journal") << "journal"
                             << "Журнал найден, версия 6.\nЖурнал доступен для чтения и записи.";
    QTest::newRow("a role that may not create")
        << "password"
        << "Журнала здесь еще нет, и создать его с этими правами нельзя: нет права создать "
           "журнал на сервере.";
    QTest::newRow("no server there") << "nohost"
                                     << "Подключиться не удалось: Журнал не удается открыть: ";
  }
  void connectionTest() {
    QFETCH(QString, setup);
    QFETCH(QString, said);
    if (TestServer().isEmpty()) QSKIP("VEKS_TEST_PG is not set: no test server");
    veks::ServerLocationParts parts = serverParts("choice");
    if (setup == "journal") veks::CreatePgJournal(*admin_, parts.schema);
    if (setup == "password") {
      parts.user = tag("reader").toStdString();
      admin_->execScript("CREATE ROLE " + parts.user + " LOGIN PASSWORD 'верный 1'");
      askPasswordOf(parts.user);
      dropped_ << QStringLiteral("DROP ROLE %1").arg(Text(parts.user));
      services_->passwordAnswers = {QStringLiteral("неверный"), QStringLiteral("верный 1")};
    }
    if (setup == "nohost") parts.host = data_->file("no-socket-here");
    JournalChoiceDialog dialog(*services_, QString());
    dialog.show();
    FillServer(&dialog, parts);
    QTest::mouseClick(In<QPushButton>(&dialog, "TestButton"), Qt::LeftButton);
    const QString result = In<QLabel>(&dialog, "TestResult")->text();
    QVERIFY2(result.contains(said), qPrintable(result));
    const QStringList& asked = services_->passwordQuestions;
    QCOMPARE(asked.size(), setup == "password" ? 2 : 0);
    if (setup == "password") {
      QCOMPARE(asked[0], Text(veks::ServerLocationOf(parts)) + "|");
      QCOMPARE(asked[1], asked[0] + PasswordRefusedText());
      QVERIFY(!asked[1].contains(QStringLiteral("неверный")));
    }
  }

  // A password the window asks for, declined: said in Russian, no warning.
  void serverPasswordDeclined() {
    if (TestServer().isEmpty()) QSKIP("VEKS_TEST_PG is not set: no test server");
    veks::ServerLocationParts parts = serverParts("declined");
    parts.user = tag("shy").toStdString();
    admin_->execScript("CREATE ROLE " + parts.user + " LOGIN PASSWORD 'тайна'");
    dropped_ << QStringLiteral("DROP ROLE %1").arg(Text(parts.user));
    askPasswordOf(parts.user);
    SetJournalLocation(Text(veks::ServerLocationOf(parts)));
    const QString shown = openJournal()->findChild<QLabel*>(QStringLiteral("EmptyLabel"))->text();
    QVERIFY2(shown.contains(QStringLiteral("пароль не введен")), qPrintable(shown));
    QVERIFY(services_->messages.isEmpty());
  }

  // A journal on the server opens in the window, its location in the title.
  // Its connection killed, the next page read says the connection is lost
  // and offers to connect again; connected again, the window shows the
  // same rows with the same row current.
  void serverJournalReconnects() {
    if (TestServer().isEmpty()) QSKIP("VEKS_TEST_PG is not set: no test server");
    // The window's connections go by a name of their own: only they are killed.
    const std::string name = tag("app").toStdString();
    const std::string uri =
        veks::ServerLocationOf(serverParts("window")) + "&application_name=" + name;
    {
      auto opened = veks::Journal::Open(uri, veks::Journal::Access::kImport);
      QVERIFY2(opened.ok(), opened.ok() ? "" : opened.error().message.c_str());
      QVERIFY(opened.value()->importArchive(data_->file("pump.dat"), std::string("Насос")).ok());
    }
    SetJournalLocation(Text(uri));
    JournalWindow* journal = openJournal();
    QCOMPARE(journal->windowTitle(), QStringLiteral("Журнал событий — ") + Text(uri));
    JournalHistoryModel* model = journal->historyModel();
    const int rows = model->rowCount();
    QVERIFY(rows > 2 * JournalHistoryModel::kPageRows);
    const auto stamp = [&](int row) { return model->index(row, 0).data().toString(); };
    auto* table = journal->findChild<QTableView*>(QStringLiteral("EventView"));
    table->setCurrentIndex(model->index(7, 0));
    const QString seventh = stamp(7);

    const veks::PgResult killed = admin_->exec(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = $1",
        veks::PgParams().add(name));
    QCOMPARE(killed.rows(), 1);
    services_->confirmAnswer = true;
    (void)stamp(rows - 1);  // a page not read yet
    QTRY_COMPARE_WITH_TIMEOUT(services_->questions,
                              QStringList{QStringLiteral("Связь с сервером журнала потеряна. "
                                                         "Подключиться снова?")},
                              kPatienceMs);
    QCOMPARE(model->rowCount(), rows);
    QCOMPARE(table->currentIndex().row(), 7);
    QCOMPARE(stamp(7), seventh);
    QCOMPARE(services_->questions.size(), 1);
  }
};

int main(int argc, char** argv) {
  const veks::TempDir home;
  IsolateJournalWindowTests(home);
  DocApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion"));
  JournalChoiceTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "journal_choice_test.moc"
