#include "ui/background_work.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <climits>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <memory>

namespace {

// Holds off the operator's input to every window but the progress dialog
// while work runs, including the moment before the dialog shows: a second
// request, or a closed window, must not come while the first still runs on
// the window's data.
class InputGuard : public QObject {
 public:
  explicit InputGuard(const QWidget* dialog) : dialog_(dialog) { qApp->installEventFilter(this); }
  ~InputGuard() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::Close:
        break;
      default:
        return false;
    }
    const auto* widget = qobject_cast<const QWidget*>(target);
    if (widget == nullptr) return false;
    if (widget == dialog_ || dialog_->isAncestorOf(widget)) return false;
    event->ignore();
    return true;
  }

 private:
  const QWidget* dialog_;
};

}  // namespace

WorkEnd RunBackgroundWork(QWidget* parent, const QString& label,
                          const std::function<void(WorkProgress&)>& work) {
  WorkProgress progress;
  QProgressDialog dialog(label, QStringLiteral("Отмена"), 0, 0, parent);
  dialog.setObjectName(QStringLiteral("WorkProgress"));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(kProgressDelayMs);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  QObject::connect(&dialog, &QProgressDialog::canceled, [&] {
    progress.cancel();
    dialog.setLabelText(QStringLiteral("Останавливается…"));
  });

  const InputGuard guard(&dialog);
  std::unique_ptr<QThread> thread(QThread::create([&] { work(progress); }));
  QEventLoop loop;
  QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
  // The dialog learns of the progress from the event loop, never from the
  // worker, which must not touch widgets.
  QTimer poll;
  poll.setInterval(50);
  bool waitShown = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (progress.waiting() != waitShown && !progress.canceled()) {
      waitShown = progress.waiting();
      dialog.setLabelText(waitShown ? kJournalBusyLabel : label);
      // A wait is no moment: the operator sees at once why nothing happens.
      if (waitShown) dialog.show();
    }
    const std::int64_t total = progress.total();
    if (total <= 0 || progress.canceled()) return;
    // The bar counts in thousandths, so a long history fits an int.
    dialog.setMaximum(1000);
    dialog.setValue(static_cast<int>(std::min<std::int64_t>(999, progress.done() * 1000 / total)));
  });
  // Showing the dialog starts its delay; the value it holds then is its first.
  dialog.setValue(0);
  poll.start();
  thread->start();
  loop.exec();
  thread->wait();
  poll.stop();
  return progress.canceled() ? WorkEnd::kCanceled : WorkEnd::kFinished;
}

std::function<bool(int, int)> PageProgress(WorkProgress& progress) {
  return [&progress](int page, int pages) {
    progress.setTotal(pages);
    progress.setDone(page);
    return !progress.canceled();
  };
}

void ReturnFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}
