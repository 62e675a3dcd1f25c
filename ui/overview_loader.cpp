#include "ui/overview_loader.h"

OverviewLoader::OverviewLoader(QObject* parent) : QObject(parent) {
  thread_ = std::thread([this] { run(); });
}

OverviewLoader::~OverviewLoader() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
    if (reading_ != nullptr) reading_->interrupt();
  }
  wake_.notify_one();
  thread_.join();
}

void OverviewLoader::request(const QString& path, const veks::StatsFilter& filter) {
  {
    const std::lock_guard lock(mutex_);
    pending_ = Request{++newest_, path.toStdString(), filter};
    if (reading_ != nullptr) reading_->interrupt();
  }
  wake_.notify_one();
}

void OverviewLoader::cancel() {
  const std::lock_guard lock(mutex_);
  answered_ = ++newest_;
  pending_.reset();
  if (reading_ != nullptr) reading_->interrupt();
}

bool OverviewLoader::busy() const {
  const std::lock_guard lock(mutex_);
  return answered_ != newest_;
}

void OverviewLoader::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || pending_; });
    if (stop_) return;
    const Request request = std::move(*pending_);
    pending_.reset();
    lock.unlock();

    auto opened = veks::Journal::Open(request.path, veks::Journal::Access::kRead);
    std::optional<veks::JournalResult<veks::JournalOverview>> result;
    if (!opened.ok()) {
      result.emplace(opened.error());
    } else {
      lock.lock();
      // A newer request that came while the journal opened wins at once.
      const bool wanted = !stop_ && request.number == newest_;
      if (wanted) reading_ = opened.value().get();
      lock.unlock();
      if (wanted) result.emplace(opened.value()->overview(request.filter));
      lock.lock();
      reading_ = nullptr;
      lock.unlock();
    }
    if (opened.ok()) opened.value().reset();  // closed before the answer goes

    lock.lock();
    if (stop_) return;
    if (!result || request.number != newest_) continue;  // an interrupted or stale read
    const std::uint64_t number = request.number;
    lock.unlock();
    auto answer = std::make_shared<Result>(Result{std::move(*result), {}});
    if (answer->read.ok()) {
      veks::JournalOverview& overview = answer->read.value();
      answer->timeline = PrepareTimeline(overview.hours, overview.gaps, overview.imports);
      overview.hours = {};
    }
    std::shared_ptr<const Result> shared = std::move(answer);
    QMetaObject::invokeMethod(
        this,
        [this, number, shared] {
          {
            const std::lock_guard guard(mutex_);
            if (number != newest_) return;  // asked again meanwhile
            answered_ = number;
          }
          emit loaded(shared);
        },
        Qt::QueuedConnection);
    lock.lock();
  }
}
