// The event table: the texts behind the window's grid.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/event_decoder.h"

namespace veks {

// Four columns (event, input number, time, date); row 0 is the header row.
// The row count includes the header row and only rows below it are displayed,
// but texts written at or past it are kept and read back as written: a report
// reads the blank row that lies one past the displayed rows. A cell never
// written reads as the empty text. A row shown for an archive record also
// keeps that record, for what needs its bytes (the exports of a report).
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
  // Writes a whole row; a negative row is ignored. `record` is the archive
  // record the texts were decoded from; a row that shows none (the header
  // row, the blank row after the records) has none.
  void setRow(int row, EventRow texts, std::optional<EventRecord> record = std::nullopt);
  // The record of a row, as last written with it; none for a row never
  // written or written without one.
  [[nodiscard]] std::optional<EventRecord> record(int row) const;

 private:
  struct Row {
    EventRow texts;
    std::optional<EventRecord> record;
  };
  std::vector<Row> rows_;
  int rowCount_ = kInitialRows;
};

}  // namespace veks
