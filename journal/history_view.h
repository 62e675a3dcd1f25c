// One device's history as a table shows it, newest first, with a gap row
// where one segment ends and an older one begins.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "journal/journal_notes.h"
#include "journal/journal_store.h"
#include "journal/journal_types.h"

namespace veks {

// What a table needs of a history: its size and any page of its rows. A
// failing read is a value, so a table can show it.
class HistoryPages {
 public:
  virtual ~HistoryPages() = default;
  [[nodiscard]] virtual std::int64_t rowCount() const = 0;
  [[nodiscard]] virtual std::int64_t eventCount() const = 0;
  // Segments with at least one event shown.
  [[nodiscard]] virtual std::int64_t segmentCount() const = 0;
  // The rows that stand between two segments, in order.
  [[nodiscard]] virtual std::vector<std::int64_t> gapRows() const = 0;
  // Rows [first, first + count), fewer at the end. kChanged when the journal
  // is no longer the state whose rows were counted: nothing of the new state
  // is mixed into them; reload() counts them again.
  virtual JournalResult<std::vector<HistoryRow>> rows(std::int64_t first, std::int64_t count) = 0;
  // Counts the rows again, in the journal's present state. On failure the
  // history is left as it was.
  virtual std::optional<JournalError> reload() = 0;
  // The state of the journal the rows were counted in, comparable between
  // views read through one connection; nothing when not known.
  [[nodiscard]] virtual std::optional<std::pair<std::int64_t, std::int64_t>> state() const {
    return std::nullopt;
  }
  // For each operator entry, how many rows stand above it (HistoryView's
  // rowsAbove); a history that cannot place entries puts them below its rows.
  virtual JournalResult<std::vector<std::int64_t>> rowsAbove(std::span<const NoteVersion> entries) {
    return std::vector<std::int64_t>(entries.size(), rowCount());
  }
};

// The history of the filter's device (which must be named) that passes the
// filter. It counts its rows when made and reads any page of them in about
// the time the page takes, however long the history: a million events are no
// slower to page through than a thousand. Each page is read in a read
// transaction of its own, so the view never keeps the journal on an old
// state between pages (checkpoints pass while it is open); a page read after
// another import committed is refused as kChanged. The store must outlive it.
class HistoryView : public HistoryPages {
 public:
  // Throws as the store does; kUnknownDevice when the filter names no device.
  HistoryView(JournalStore& store, EventFilter filter);

  [[nodiscard]] std::int64_t rowCount() const override { return layout_.rows; }
  [[nodiscard]] std::int64_t eventCount() const override { return layout_.events; }
  [[nodiscard]] std::int64_t segmentCount() const override {
    return static_cast<std::int64_t>(layout_.parts.size());
  }
  [[nodiscard]] std::vector<std::int64_t> gapRows() const override;
  JournalResult<std::vector<HistoryRow>> rows(std::int64_t first, std::int64_t count) override;
  std::optional<JournalError> reload() override;

  // For each operator entry (ReadNotes: `place` and `segment` set), how many
  // of the rows stand above it: it stands right above the event it follows,
  // or, when that event is not shown, above the newest shown event older
  // than it (below every row when none is). kChanged as for rows().
  JournalResult<std::vector<std::int64_t>> rowsAbove(std::span<const NoteVersion> entries) override;
  [[nodiscard]] std::optional<std::pair<std::int64_t, std::int64_t>> state() const override {
    return version_;
  }

  // Where each segment's events stand among the rows.
  struct Part {
    std::int64_t segmentId = 0;
    int segment = 0;
    std::int64_t lastSeq = 0;
    std::int64_t firstRow = 0;
    std::int64_t events = 0;
    const char* index = nullptr;  // the index that finds the filter's rows, if any
  };
  struct Layout {
    std::vector<Part> parts;  // newest segment first
    std::int64_t rows = 0;
    std::int64_t events = 0;
  };
  // The gap row before each part but the first stands at its firstRow - 1.
  [[nodiscard]] const Layout& layout() const { return layout_; }

 private:
  // Which committed state the connection reads: another connection's
  // commits change the first, this connection's own the second.
  using Version = std::pair<std::int64_t, std::int64_t>;
  [[nodiscard]] Version version();
  // Lays the rows out and notes the state they were counted in.
  void layOut();
  static Layout LayOut(JournalStore& store, const EventFilter& filter);
  std::vector<HistoryRow> read(std::int64_t first, std::int64_t count);

  JournalStore& store_;
  EventFilter filter_;
  Layout layout_;
  Version version_;
};

}  // namespace veks
