#include "ui/background_work.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>

// Work off the GUI thread: the event loop goes on while it runs, the dialog's
// Отмена reaches the work, and input to the window waits.
class BackgroundWorkTest : public QObject {
  Q_OBJECT

 private slots:
  void eventLoopRunsWhileWorkRuns() {
    QWidget window;
    window.show();
    std::atomic<int> ticks{0};
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(1);
    // The work ends only once the event loop has turned several times.
    const WorkEnd end = RunBackgroundWork(&window, QStringLiteral("Работа"), [&](WorkProgress& p) {
      p.setTotal(10);
      while (ticks < 10) QThread::yieldCurrentThread();
      p.setDone(10);
    });
    QCOMPARE(end, WorkEnd::kFinished);
  }

  void cancelReachesTheWork() {
    QWidget window;
    window.show();
    int keys = 0;
    struct KeyCounter : QObject {
      int& count;
      explicit KeyCounter(int& c) : count(c) {}
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress) ++count;
        return false;
      }
    } counter(keys);
    window.installEventFilter(&counter);
    // Once the dialog shows, a key to the window is held off and Отмена stops the work.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = window.findChild<QProgressDialog*>(QStringLiteral("WorkProgress"));
      if (dialog == nullptr || !dialog->isVisible()) return;
      poll.stop();
      QTest::keyClick(&window, Qt::Key_A);
      QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
    });
    poll.start(10);
    bool sawCancel = false;
    const WorkEnd end = RunBackgroundWork(&window, QStringLiteral("Работа"), [&](WorkProgress& p) {
      while (!p.canceled()) QThread::yieldCurrentThread();
      sawCancel = true;
    });
    QCOMPARE(end, WorkEnd::kCanceled);
    QVERIFY(sawCancel);
    QCOMPARE(keys, 0);
  }
};

QTEST_MAIN(BackgroundWorkTest)
#include "background_work_test.moc"
