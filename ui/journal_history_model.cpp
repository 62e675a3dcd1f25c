#include "ui/journal_history_model.h"

#include <QItemSelectionModel>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "journal/journal.h"
#include "journal/journal_report.h"
#include "report/event_export.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

JournalHistoryModel::JournalHistoryModel(QObject* parent)
    : QAbstractTableModel(parent), reportFailure_(new QTimer(this)), reload_(new QTimer(this)) {
  for (QTimer* timer : {reportFailure_, reload_}) {
    timer->setSingleShot(true);
    timer->setInterval(0);
  }
  connect(reportFailure_, &QTimer::timeout, this, [this] { emit readFailed(failure_); });
  connect(reload_, &QTimer::timeout, this, &JournalHistoryModel::reloadView);
}

JournalHistoryModel::~JournalHistoryModel() = default;

void JournalHistoryModel::setView(std::unique_ptr<veks::HistoryPages> view) {
  beginResetModel();
  view_ = std::move(view);
  pages_.clear();
  failed_ = false;
  changed_ = false;
  reportFailure_->stop();
  reload_->stop();
  endResetModel();
}

void JournalHistoryModel::reloadView() {
  if (!view_) return;
  const std::int64_t before = view_->rowCount();
  const int current = place_ != nullptr ? place_->currentIndex().row() : -1;
  const std::optional<veks::JournalError> error = view_->reload();
  beginResetModel();
  pages_.clear();
  changed_ = false;
  endResetModel();
  if (error) {
    failed_ = true;
    failure_ = Text(error->message);
    emit readFailed(failure_);
    return;
  }
  if (current >= 0 && rowCount() > 0) {
    const std::int64_t kept = current + view_->rowCount() - before;
    const int row = static_cast<int>(std::clamp<std::int64_t>(kept, 0, rowCount() - 1));
    place_->setCurrentIndex(index(row, 0),
                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  emit reloaded();
}

std::vector<int> JournalHistoryModel::gapRows() const {
  std::vector<int> rows;
  if (!view_) return rows;
  for (const std::int64_t gap : view_->gapRows()) {
    if (gap < rowCount()) rows.push_back(static_cast<int>(gap));
  }
  return rows;
}

int JournalHistoryModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !view_) return 0;
  return static_cast<int>(std::min<std::int64_t>(view_->rowCount(), INT_MAX));
}

int JournalHistoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

const JournalHistoryModel::Row* JournalHistoryModel::row(int index) const {
  const std::int64_t number = index / kPageRows;
  const std::size_t offset = static_cast<std::size_t>(index % kPageRows);
  const auto cached = std::find_if(pages_.begin(), pages_.end(),
                                   [&](const auto& page) { return page.first == number; });
  if (cached != pages_.end()) {
    pages_.splice(pages_.begin(), pages_, cached);
    return offset < cached->second.size() ? &cached->second[offset] : nullptr;
  }
  if (failed_ || changed_) return nullptr;
  auto read = view_->rows(number * kPageRows, kPageRows);
  ++pagesRead_;
  if (!read.ok() && read.error().kind == veks::JournalError::Kind::kChanged) {
    changed_ = true;
    reload_->start();
    return nullptr;
  }
  if (!read.ok()) {
    failed_ = true;
    failure_ = Text(read.error().message);
    reportFailure_->start();
    return nullptr;
  }
  Page page;
  page.reserve(read.value().size());
  for (const veks::HistoryRow& history : read.value()) {
    Row shown;
    shown.gap = history.gap;
    if (history.gap) {
      shown.texts[kStampColumn] = QString::fromUtf8(veks::kGapLine);
    } else {
      const auto [event, input, time, date] = veks::TrimmedEventTexts(history.raw);
      shown.texts[kStampColumn] = time.empty() ? Text(date) : Text(date + ' ' + time);
      shown.texts[kEventColumn] = Text(event);
      shown.texts[kInputColumn] = Text(input);
      shown.texts[kSegmentColumn] = QString::number(history.segment);
    }
    page.push_back(std::move(shown));
  }
  pages_.emplace_front(number, std::move(page));
  if (pages_.size() > kCachedPages) pages_.pop_back();
  const Page& fresh = pages_.front().second;
  return offset < fresh.size() ? &fresh[offset] : nullptr;
}

QVariant JournalHistoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !view_ || index.row() >= rowCount()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    const Row* shown = row(index.row());
    if (shown == nullptr || (shown->gap && index.column() != kStampColumn)) return {};
    return shown->texts[index.column()];
  }
  if (role == Qt::TextAlignmentRole) {
    if (index.column() == kSegmentColumn) return int(Qt::AlignCenter);
    const Row* shown = row(index.row());
    if (shown != nullptr && shown->gap) return int(Qt::AlignCenter);
    return int(Qt::AlignLeft | Qt::AlignVCenter);
  }
  return {};
}

QVariant JournalHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  switch (section) {
    case kStampColumn:
      return QStringLiteral("Дата и время");
    case kEventColumn:
      return QStringLiteral("Событие");
    case kInputColumn:
      return QStringLiteral("МУК и вход");
    case kSegmentColumn:
      return QStringLiteral("Участок");
    default:
      return {};
  }
}

Qt::ItemFlags JournalHistoryModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
