// Copying a table's selection, in the main window and the journal window.
#pragma once

#include <QString>

class QAbstractItemView;

// The cells selected in `view` as tab-separated lines, each ended by "\n":
// the rows from the first selected one to the last, the columns from the
// leftmost selected one to the rightmost, a cell not selected left empty.
// Empty when nothing is selected.
[[nodiscard]] QString SelectionAsTsv(const QAbstractItemView& view);
