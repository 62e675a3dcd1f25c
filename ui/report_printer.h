// Printing a report page by page with QPainter, on a printer or a PDF
// writer: the report's columns line up on the report box's tab stops,
// measured at the device's own resolution, and every line stays inside the
// page's margins. Only one page is held at a time, whatever the report's
// length.
#pragma once

#include <QFont>
#include <QRectF>
#include <QString>
#include <QTextBlock>
#include <functional>

class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QTextDocument;

// Where the printed lines come from.
class ReportLines {
 public:
  virtual ~ReportLines() = default;
  [[nodiscard]] virtual qsizetype count() const = 0;
  // The line `index`. Printing asks for the lines in order from the first,
  // once to count the pages when it numbers them "of M", once to print.
  [[nodiscard]] virtual QString line(qsizetype index) = 0;
};

// The lines of a text document, a block each (the report box's document).
class DocumentLines final : public ReportLines {
 public:
  explicit DocumentLines(const QTextDocument& document) : document_(document) {}
  [[nodiscard]] qsizetype count() const override;
  [[nodiscard]] QString line(qsizetype index) override;

 private:
  const QTextDocument& document_;
  QTextBlock block_;  // the block asked for last, so that the next is at hand
};

struct ReportPageStyle {
  QFont font;  // in points; the box's font
  // A line repeated atop every page after the one where it first appears,
  // unless the page starts with it anyway (the columns' header line); empty
  // for none.
  QString repeatedLine;
  // The page number at the foot of each page, on the right: "N", or
  // "стр. N из M".
  enum class Numbering { kPlain, kOfTotal };
  Numbering numbering = Numbering::kPlain;
  // The pages printed, from 1, as a print dialog's range gives them; 0: from
  // the first, to the last.
  int firstPage = 0;
  int lastPage = 0;
  // Painted as page 1 inside the page's margins, above its number, before
  // the report's lines, which then begin on page 2; empty for none.
  std::function<void(QPainter& painter, const QRectF& area)> frontPage = nullptr;
};

// The style's page range from what the print dialog set on `printer`.
void TakePageRange(const QPrinter& printer, ReportPageStyle& style);

// The least distance of the print from the paper's edge, in millimetres,
// where the device's own margins are narrower (a PDF has none).
inline constexpr qreal kLeastMarginMm = 15;

enum class PrintOutcome { kPrinted, kCancelled, kFailed };

// Prints `lines` on `device`, which must not be painted on yet. A line with
// TABs puts each piece at the next tab stop past the text before it; a line
// without TABs that is wider than the page goes on in the printed line
// below. `progress(page, pages)` runs after each page, also while the
// pages are counted for "стр. N из M" (`pages` is 0 then); when it returns
// false, printing stops there (kCancelled; a printer's job is withdrawn).
// kFailed when the device cannot be painted on. It may run on any thread
// (a printer given by the print dialog included), one device at a time.
PrintOutcome PrintReport(ReportLines& lines, const ReportPageStyle& style,
                         QPagedPaintDevice& device,
                         const std::function<bool(int page, int pages)>& progress = {});
