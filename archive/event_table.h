// The event table: the texts behind the window's grid.
#pragma once

#include <string>
#include <vector>

#include "archive/event_decoder.h"

namespace veks {

// Four columns (event, input number, time, date); row 0 is the header row.
// The row count includes the header row and only rows below it are displayed,
// but texts written at or past it are kept and read back as written: a report
// reads the blank row that lies one past the displayed rows. A cell never
// written reads as the empty text.
class EventTable {
 public:
  static constexpr int kColumns = 4;
  static constexpr int kInitialRows = 17;

  // The column titles the loader writes into row 0.
  [[nodiscard]] static EventRow HeaderRow() {
    return {"Событие", "  Номер входа", " Время", "Дата"};
  }

  [[nodiscard]] int rowCount() const { return rowCount_; }
  void setRowCount(int rows) { rowCount_ = rows < 0 ? 0 : rows; }

  [[nodiscard]] const std::string& cell(int column, int row) const;
  // Writes a whole row; a negative row is ignored.
  void setRow(int row, EventRow texts);

 private:
  std::vector<EventRow> rows_;
  int rowCount_ = kInitialRows;
};

}  // namespace veks
