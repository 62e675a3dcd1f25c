#include "ui/event_table_model.h"

int EventTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(table_.rowCount() - 1, 0);
}

int EventTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : veks::EventTable::kColumns;
}

QVariant EventTableModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return QString::fromStdString(table_.cell(index.column(), index.row() + 1));
}

QVariant EventTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  return QString::fromStdString(table_.cell(section, 0));
}

Qt::ItemFlags EventTableModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void EventTableModel::tableRewritten() {
  beginResetModel();
  endResetModel();
}
