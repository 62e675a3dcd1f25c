// Reads the journal window's overview off the GUI thread. The loader keeps
// one thread of its own that opens the journal for each request and reads
// the whole overview in one state of it. A request made while an older one
// is still read stops the older read: only the answer to the newest request
// ever arrives, on the loader's thread.
#pragma once

#include <QObject>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "journal/journal.h"
#include "ui/timeline_chart.h"

class OverviewLoader : public QObject {
  Q_OBJECT

 public:
  // What a read gives: the overview, or why it could not be read; its
  // hourly counts already made the timeline's data, so that the GUI thread
  // only shows them.
  struct Result {
    veks::JournalResult<veks::JournalOverview> read;  // its `hours` moved into `timeline`
    TimelineData timeline;
  };

  explicit OverviewLoader(QObject* parent = nullptr);
  // Stops the read under way and waits for the thread to end.
  ~OverviewLoader() override;

  // Asks for the overview of `filter` in the journal at `path`.
  void request(const QString& path, const veks::StatsFilter& filter);
  // No answer comes to any request made before.
  void cancel();
  // Whether an answer is still to come.
  [[nodiscard]] bool busy() const;

 signals:
  // The answer to the newest request.
  void loaded(const std::shared_ptr<const OverviewLoader::Result>& result);

 private:
  struct Request {
    std::uint64_t number = 0;
    std::string path;
    veks::StatsFilter filter;
  };
  void run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Request> pending_;
  veks::Journal* reading_ = nullptr;  // the journal read now, to interrupt
  std::uint64_t newest_ = 0;          // the number of the newest request
  std::uint64_t answered_ = 0;        // the number of the newest answered or dropped
  bool stop_ = false;
  std::thread thread_;
};
