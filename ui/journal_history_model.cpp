#include "ui/journal_history_model.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QItemSelectionModel>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <map>

#include "journal/journal.h"
#include "journal/journal_report.h"
#include "report/event_export.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The mark of an event that carries notes, and of an operator entry.
QIcon NoteMark() {
  static const QIcon mark = QApplication::style()->standardIcon(QStyle::SP_FileDialogInfoView);
  return mark;
}

}  // namespace

QString EntryMomentText(const veks::NoteVersion& entry) {
  // "YYYY-MM-DDThh:mm:ss" as the table's dates and times: "DD.MM.YY hh:mm:ss".
  const std::string& m = entry.moment.value_or("");
  if (m.size() != 19) return Text(m);
  return Text(m.substr(8, 2) + '.' + m.substr(5, 2) + '.' + m.substr(2, 2) + ' ' + m.substr(11));
}

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

void JournalHistoryModel::setView(std::unique_ptr<veks::HistoryPages> view, HistoryNotes notes) {
  beginResetModel();
  view_ = std::move(view);
  notes_ = std::move(notes);
  entries_.clear();
  entryRows_.clear();
  pages_.clear();
  failed_ = false;
  changed_ = false;
  reportFailure_->stop();
  reload_->stop();
  if (view_) readEntries();
  endResetModel();
}

bool JournalHistoryModel::readEntries() {
  entries_.clear();
  entryRows_.clear();
  if (!notes_.entries) return true;
  const auto state = view_->state();
  if (!cached_ || !state || cached_->state != *state || cached_->key != notes_.entriesKey) {
    cached_.reset();
    auto entries = notes_.entries();
    if (!entries.ok()) {
      fail(Text(entries.error().message));
      return false;
    }
    if (!state) return placeEntries(entries.value());
    cached_ = CachedEntries{notes_.entriesKey, *state, std::move(entries.value())};
  }
  return placeEntries(cached_->entries);
}

bool JournalHistoryModel::placeEntries(const std::vector<veks::NoteVersion>& entries) {
  // The device's order is oldest first, the table's newest first.
  std::vector<veks::NoteVersion> shown(entries.rbegin(), entries.rend());
  auto above = view_->rowsAbove(shown);
  if (!above.ok()) {
    if (above.error().kind == veks::JournalError::Kind::kChanged) {
      changed_ = true;
      reload_->start();
    } else {
      fail(Text(above.error().message));
    }
    return false;
  }
  std::vector<std::size_t> order(shown.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return above.value()[a] < above.value()[b];
  });
  for (const std::size_t i : order) {
    // Entries placed above the same row stand together, the newest on top.
    entryRows_.push_back(above.value()[i] + static_cast<std::int64_t>(entries_.size()));
    entries_.push_back(std::move(shown[i]));
  }
  return true;
}

void JournalHistoryModel::fail(const QString& message) const {
  failed_ = true;
  failure_ = message;
  reportFailure_->start();
}

void JournalHistoryModel::refresh() { reloadView(); }

void JournalHistoryModel::reloadView() {
  if (!view_) return;
  const std::int64_t before = rowCount();
  const int current = place_ != nullptr ? place_->currentIndex().row() : -1;
  const std::optional<veks::JournalError> error = view_->reload();
  beginResetModel();
  pages_.clear();
  changed_ = false;
  failed_ = false;
  const bool placed = !error && readEntries();
  endResetModel();
  if (error) {
    failed_ = true;
    failure_ = Text(error->message);
    emit readFailed(failure_);
    return;
  }
  if (!placed) return;
  if (current >= 0 && rowCount() > 0) {
    const std::int64_t kept = current + rowCount() - before;
    const int row = static_cast<int>(std::clamp<std::int64_t>(kept, 0, rowCount() - 1));
    place_->setCurrentIndex(index(row, 0),
                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  emit reloaded();
}

JournalHistoryModel::At JournalHistoryModel::at(int row) const {
  const auto found = std::lower_bound(entryRows_.begin(), entryRows_.end(), row);
  const auto before = static_cast<std::int64_t>(found - entryRows_.begin());
  if (found != entryRows_.end() && *found == row) return {true, before};
  return {false, row - before};
}

std::optional<std::pair<veks::EventPlace, veks::EventRecord>> JournalHistoryModel::eventAt(
    int row) const {
  if (!view_ || row < 0 || row >= rowCount()) return std::nullopt;
  const At where = at(row);
  if (where.entry) return std::nullopt;
  const Row* shown = this->row(where.index);
  if (shown == nullptr || shown->gap) return std::nullopt;
  return std::pair{shown->place, shown->raw};
}

const veks::NoteVersion* JournalHistoryModel::entryAt(int row) const {
  if (!view_ || row < 0 || row >= rowCount()) return nullptr;
  const At where = at(row);
  return where.entry ? &entries_[static_cast<std::size_t>(where.index)] : nullptr;
}

std::vector<int> JournalHistoryModel::gapRows() const {
  std::vector<int> rows;
  if (!view_) return rows;
  std::size_t entry = 0;
  for (const std::int64_t gap : view_->gapRows()) {
    // Entries placed at or above the gap's place stand above it.
    while (entry < entryRows_.size() &&
           entryRows_[entry] - static_cast<std::int64_t>(entry) <= gap) {
      ++entry;
    }
    const std::int64_t shown = gap + static_cast<std::int64_t>(entry);
    if (shown < rowCount()) rows.push_back(static_cast<int>(shown));
  }
  return rows;
}

int JournalHistoryModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !view_) return 0;
  return static_cast<int>(std::min<std::int64_t>(
      view_->rowCount() + static_cast<std::int64_t>(entries_.size()), INT_MAX));
}

int JournalHistoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

const JournalHistoryModel::Row* JournalHistoryModel::row(std::int64_t index) const {
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
    fail(Text(read.error().message));
    return nullptr;
  }
  // The page's marks: how many notes each event carries.
  std::map<veks::EventPlace, int> noted;
  if (notes_.notesAt) {
    std::vector<veks::EventPlace> places;
    for (const veks::HistoryRow& history : read.value()) {
      if (!history.gap) places.push_back(history.place);
    }
    auto notes = notes_.notesAt(places);
    if (!notes.ok()) {
      fail(Text(notes.error().message));
      return nullptr;
    }
    for (const veks::NoteVersion& note : notes.value()) {
      if (note.place) ++noted[*note.place];
    }
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
      shown.place = history.place;
      shown.raw = history.raw;
      const auto notes = noted.find(history.place);
      if (notes != noted.end()) shown.notes = notes->second;
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
  const At where = at(index.row());
  if (where.entry) return entryData(entries_[static_cast<std::size_t>(where.index)], index, role);
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    const Row* shown = row(where.index);
    if (shown == nullptr || (shown->gap && index.column() != kStampColumn)) return {};
    return shown->texts[index.column()];
  }
  if (role == Qt::TextAlignmentRole) {
    if (index.column() == kSegmentColumn) return int(Qt::AlignCenter);
    const Row* shown = row(where.index);
    if (shown != nullptr && shown->gap) return int(Qt::AlignCenter);
    return int(Qt::AlignLeft | Qt::AlignVCenter);
  }
  if (role == kNotesRole || (role == Qt::DecorationRole && index.column() == kEventColumn)) {
    const Row* shown = row(where.index);
    const int notes = shown != nullptr ? shown->notes : 0;
    if (role == kNotesRole) return notes;
    if (notes > 0) return NoteMark();
  }
  return {};
}

QVariant JournalHistoryModel::entryData(const veks::NoteVersion& entry, const QModelIndex& index,
                                        int role) const {
  switch (role) {
    case kNotesRole:
      return -1;
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      switch (index.column()) {
        case kStampColumn:
          return EntryMomentText(entry);
        case kEventColumn: {
          QString text = QStringLiteral("запись оператора %1 (%2, %3): %4")
                             .arg(entry.number)
                             .arg(Text(entry.kind), Text(entry.author), Text(entry.text));
          // The table shows one line a row; the tip shows them all.
          if (role == Qt::DisplayRole) text.replace(QLatin1Char('\n'), QStringLiteral(" / "));
          return text;
        }
        case kSegmentColumn:
          return QString::number(std::max(entry.segment, 1));
        default:
          return {};
      }
    case Qt::TextAlignmentRole:
      return int(index.column() == kSegmentColumn ? Qt::AlignCenter
                                                  : Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::DecorationRole:
      if (index.column() == kEventColumn) return NoteMark();
      return {};
    case Qt::FontRole: {
      QFont font;
      font.setItalic(true);
      return font;
    }
    default:
      return {};
  }
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
