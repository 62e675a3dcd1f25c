// The journal report of the journal window, made off the GUI thread: the
// journal gives it in one read, line by line, into a temporary file that
// printing and saving read back as often as they need; the report box shows
// its beginning. Memory stays small whatever the report's length, and the
// file goes when the report does (it has no name on the disk).
#pragma once

#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "journal/journal_report.h"
#include "ui/report_printer.h"

class QPlainTextEdit;
class WorkProgress;

class SpooledReport final : public ReportLines {
 public:
  SpooledReport(const SpooledReport&) = delete;
  SpooledReport& operator=(const SpooledReport&) = delete;
  ~SpooledReport() override;

  [[nodiscard]] qsizetype count() const override { return count_; }
  // Read in order from any line: asking for an earlier line than the last
  // one read starts again from the first.
  [[nodiscard]] QString line(qsizetype index) override;
  [[nodiscard]] QString title();

  // Used by one thread at a time.
  struct Made;
  // Makes the report of `filter` from the journal at `path`, opened for
  // reading on the calling thread. The work's progress counts the report's
  // items out of `expected` (what the table shows); a cancel stops the
  // reading, and so does a cancel while another program holds the journal
  // (the progress says that it waits meanwhile).
  static Made Make(const std::string& path, const veks::EventFilter& filter,
                   const veks::JournalReportTitle& title, std::int64_t expected,
                   WorkProgress& progress);

 private:
  class Sink;
  explicit SpooledReport(std::FILE* file) : file_(file) {}
  void rewind();

  std::FILE* file_;
  qsizetype count_ = 0;
  qsizetype next_ = 0;  // the line the file's position is at
  char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
};

struct SpooledReport::Made {
  std::unique_ptr<SpooledReport> report;  // none after a failure or a cancel
  std::optional<veks::JournalError> error;
  bool canceled = false;
};

// How many lines of a report the report box shows: the rest is printed and
// saved, never shown.
inline constexpr qsizetype kBoxLines = 5'000;

// Fills `box` with the report's first kBoxLines lines; a longer report ends
// with a line that says how many lines the report has and that printing and
// saving give them all.
void ShowReportStart(SpooledReport& report, QPlainTextEdit* box);
