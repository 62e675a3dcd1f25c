// Shows the core's event table in a table view: table row 0 is the view's
// horizontal header, rows 1 to rowCount - 1 are its data rows. It keeps no
// texts of its own.
#pragma once

#include <QAbstractTableModel>

#include "archive/event_table.h"

class EventTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit EventTableModel(const veks::EventTable& table, QObject* parent = nullptr)
      : QAbstractTableModel(parent), table_(table) {}

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The table's texts or row count changed.
  void tableRewritten();

 private:
  const veks::EventTable& table_;
};
