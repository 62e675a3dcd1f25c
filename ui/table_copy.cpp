#include "ui/table_copy.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QStringList>
#include <climits>

QString SelectionAsTsv(const QAbstractItemView& view) {
  const QItemSelectionModel* model = view.selectionModel();
  if (model == nullptr) return {};
  // The ranges, not every selected index: a whole history selected is a few
  // ranges but millions of indexes.
  int top = INT_MAX, bottom = -1, left = INT_MAX, right = -1;
  for (const QItemSelectionRange& range : model->selection()) {
    top = std::min(top, range.top());
    bottom = std::max(bottom, range.bottom());
    left = std::min(left, range.left());
    right = std::max(right, range.right());
  }
  QString text;
  for (int row = top; row <= bottom; ++row) {
    QStringList cells;
    for (int column = left; column <= right; ++column) {
      const QModelIndex index = view.model()->index(row, column);
      cells << (model->isSelected(index) ? index.data().toString() : QString());
    }
    text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  return text;
}
