#include "archive/event_table.h"

#include <utility>

namespace veks {
namespace {
const std::string kNoText;
}

const std::string& EventTable::cell(int column, int row) const {
  if (column < 0 || column >= kColumns || row < 0 || row >= static_cast<int>(rows_.size())) {
    return kNoText;
  }
  return rows_[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)];
}

void EventTable::setRow(int row, EventRow texts, std::optional<EventRecord> record) {
  if (row < 0) return;
  if (row >= static_cast<int>(rows_.size())) rows_.resize(static_cast<std::size_t>(row) + 1);
  rows_[static_cast<std::size_t>(row)] = {std::move(texts), record};
}

std::optional<EventRecord> EventTable::record(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return std::nullopt;
  return rows_[static_cast<std::size_t>(row)].record;
}

}  // namespace veks
