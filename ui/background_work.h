// Long work off the GUI thread. The work runs on a thread of its own while
// the window goes on repainting and answering; once it takes longer than a
// moment, a modal progress dialog with "Отмена" shows how far it has come.
// The work reports its progress and looks for a cancel through WorkProgress;
// it must touch no widget and no object of the GUI thread.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

class QWidget;

class WorkProgress {
 public:
  // Total 0: how far the work has come is not known; the dialog shows it busy.
  void setTotal(std::int64_t total) { total_.store(total, std::memory_order_relaxed); }
  void setDone(std::int64_t done) { done_.store(done, std::memory_order_relaxed); }
  [[nodiscard]] std::int64_t total() const { return total_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::int64_t done() const { return done_.load(std::memory_order_relaxed); }
  // The operator asked to stop: the work ends as soon as it can.
  [[nodiscard]] bool canceled() const { return canceled_.load(std::memory_order_relaxed); }
  void cancel() { canceled_.store(true, std::memory_order_relaxed); }
  // The work waits for another program that holds the journal; the dialog
  // says so, at once, until the work goes on.
  void setWaiting(bool waiting) { waiting_.store(waiting, std::memory_order_relaxed); }
  [[nodiscard]] bool waiting() const { return waiting_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::int64_t> total_{0};
  std::atomic<std::int64_t> done_{0};
  std::atomic<bool> canceled_{false};
  std::atomic<bool> waiting_{false};
};

// What the dialog says while the work waits for the journal.
inline const QString kJournalBusyLabel =
    QStringLiteral("Журнал занят другой программой (идет добавление архива). Ожидание…");

enum class WorkEnd { kFinished, kCanceled };

// How long work runs before its progress dialog shows.
inline constexpr int kProgressDelayMs = 400;

// Runs `work` on a thread of its own and returns when it has ended, the event
// loop running meanwhile. kCanceled when the operator pressed "Отмена" (the
// work saw canceled() and may have stopped early). `label` says what is done.
// The dialog is a child of `parent`, named "WorkProgress".
WorkEnd RunBackgroundWork(QWidget* parent, const QString& label,
                          const std::function<void(WorkProgress&)>& work);

// The progress of printing, page `page` of `pages` (0 while they are counted),
// for PrintReport and SaveReportLines; false once the operator cancelled.
[[nodiscard]] std::function<bool(int page, int pages)> PageProgress(WorkProgress& progress);

// Gives the memory that big work freed back to the system, where the C
// library keeps it otherwise (glibc keeps the freed heap of its threads).
void ReturnFreedMemory();
