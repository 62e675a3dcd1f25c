#include "ui/report_printer.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <QTextDocument>
#include <QTextOption>
#include <algorithm>
#include <cmath>
#include <optional>

#include "ui/report_tab_stops.h"

namespace {

// Where printing happens on a page, in the painter's coordinates: those of
// the device's paint rectangle, inside its margins.
QRectF PrintArea(const QPagedPaintDevice& device) {
  const int dpi = device.logicalDpiX();
  const QPageLayout layout = device.pageLayout();
  const QRectF paper = layout.fullRectPixels(dpi);
  const QRectF paint = layout.paintRectPixels(dpi);
  const qreal least = kLeastMarginMm / 25.4 * dpi;
  QRectF area = paper.adjusted(least, least, -least, -least).intersected(paint);
  return area.translated(-paint.topLeft());
}

class PagePrinter {
 public:
  PagePrinter(QPainter& painter, const ReportPageStyle& style, QPagedPaintDevice& device)
      : painter_(painter),
        style_(style),
        device_(device),
        font_(style.font, &device),
        metrics_(font_, &device),
        tabs_(ReportTabStops(font_, &device)),
        // The box's distance between stops past the last one, scaled from
        // the screen's 96 dots per inch to the device's.
        tabDistance_(QTextOption().tabStopDistance() * device.logicalDpiX() / 96.0),
        area_(PrintArea(device)),
        lineHeight_(metrics_.lineSpacing()),
        // The foot: an empty line and the page number.
        rowsPerPage_(std::max(2, static_cast<int>(std::floor(area_.height() / lineHeight_)) - 2)) {}

  // Walks the report as it is laid out on the pages; draws only when
  // `draw`. Returns the number of pages, or nothing when stopped.
  std::optional<int> walk(ReportLines& lines, bool draw, int pages,
                          const std::function<bool(int, int)>& progress) {
    draw_ = draw;
    drawn_ = 0;
    page_ = 1;
    row_ = 0;
    bool headerSeen = false;
    bool headerDue = false;
    if (style_.frontPage) {
      if (shown()) {
        painter_.save();
        style_.frontPage(painter_, area_.adjusted(0, 0, 0, -2 * lineHeight_));
        painter_.restore();
      }
      if (!endPage(pages, progress)) return std::nullopt;
      if (draw_ && style_.lastPage > 0 && page_ > style_.lastPage) return page_ - 1;
    }
    const qsizetype count = lines.count();
    for (qsizetype i = 0; i < count; ++i) {
      const QString text = lines.line(i);
      const bool isHeader = !style_.repeatedLine.isEmpty() && text == style_.repeatedLine;
      for (const QString& piece : rowsOf(text)) {
        if (row_ == rowsPerPage_) {
          if (!endPage(pages, progress)) return std::nullopt;
          if (draw_ && style_.lastPage > 0 && page_ > style_.lastPage) return page_ - 1;
          headerDue = headerSeen;
        }
        if (headerDue && !isHeader) putRow(style_.repeatedLine);
        headerDue = false;
        putRow(piece);
      }
      headerSeen = headerSeen || isHeader;
    }
    if (shown()) drawFoot(pages);
    if (progress && !progress(page_, pages)) return std::nullopt;
    return page_;
  }

 private:
  // Whether the page is drawn: in the range asked for.
  [[nodiscard]] bool shown() const {
    return draw_ && page_ >= style_.firstPage && (style_.lastPage == 0 || page_ <= style_.lastPage);
  }

  bool endPage(int pages, const std::function<bool(int, int)>& progress) {
    if (shown()) {
      drawFoot(pages);
      ++drawn_;
    }
    if (progress && !progress(page_, pages)) return false;
    ++page_;
    // The device starts on a page of its own: a new one only after one drawn.
    if (shown() && drawn_ > 0 && !device_.newPage()) return false;
    row_ = 0;
    return true;
  }

  void putRow(const QString& text) {
    if (shown()) drawRow(text, area_.top() + row_ * lineHeight_ + metrics_.ascent());
    ++row_;
  }

  void drawRow(const QString& text, qreal baseline) {
    qreal x = 0;
    bool first = true;
    for (const QString& piece : text.split(QLatin1Char('\t'))) {
      if (!first) {
        const auto stop =
            std::find_if(tabs_.begin(), tabs_.end(),
                         [&](const QTextOption::Tab& tab) { return tab.position > x; });
        x = stop != tabs_.end() ? stop->position
                                : (std::floor(x / tabDistance_) + 1) * tabDistance_;
      }
      first = false;
      if (!piece.isEmpty()) painter_.drawText(QPointF(area_.left() + x, baseline), piece);
      x += metrics_.horizontalAdvance(piece);
    }
  }

  void drawFoot(int pages) {
    const QString number = style_.numbering == ReportPageStyle::Numbering::kOfTotal
                               ? QStringLiteral("стр. %1 из %2").arg(page_).arg(pages)
                               : QString::number(page_);
    const qreal baseline = area_.bottom() - metrics_.descent();
    painter_.drawText(QPointF(area_.right() - metrics_.horizontalAdvance(number), baseline),
                      number);
  }

  // The printed lines of a report line: one, unless a line without TABs is
  // wider than the page; it then breaks after the last blank that fits, or
  // where the page ends when none does.
  QStringList rowsOf(const QString& text) const {
    if (text.contains(QLatin1Char('\t')) || text.size() * metrics_.maxWidth() <= area_.width() ||
        metrics_.horizontalAdvance(text) <= area_.width()) {
      return {text};
    }
    QStringList rows;
    QString rest = text;
    while (metrics_.horizontalAdvance(rest) > area_.width()) {
      qsizetype fits = 1;  // at least one character a row, however narrow the page
      for (qsizetype low = 1, high = rest.size(); low <= high;) {
        const qsizetype mid = (low + high) / 2;
        if (metrics_.horizontalAdvance(rest.left(mid)) <= area_.width()) {
          fits = mid;
          low = mid + 1;
        } else {
          high = mid - 1;
        }
      }
      const qsizetype blank = rest.lastIndexOf(QLatin1Char(' '), fits - 1);
      const qsizetype cut = blank > 0 ? blank + 1 : fits;
      rows << rest.left(cut);
      rest = rest.mid(cut);
    }
    rows << rest;
    return rows;
  }

  QPainter& painter_;
  const ReportPageStyle& style_;
  QPagedPaintDevice& device_;
  QFont font_;
  QFontMetricsF metrics_;
  QList<QTextOption::Tab> tabs_;
  qreal tabDistance_;
  QRectF area_;
  qreal lineHeight_;
  int rowsPerPage_;
  bool draw_ = false;
  int drawn_ = 0;  // pages drawn
  int page_ = 1;
  int row_ = 0;
};

// A printer's job stopped midway is withdrawn, not printed in part.
PrintOutcome Cancelled(QPainter& painter, QPagedPaintDevice& device) {
  if (auto* printer = dynamic_cast<QPrinter*>(&device);
      printer != nullptr && printer->outputFormat() == QPrinter::NativeFormat) {
    printer->abort();
  }
  painter.end();
  return PrintOutcome::kCancelled;
}

}  // namespace

void TakePageRange(const QPrinter& printer, ReportPageStyle& style) {
  if (printer.printRange() != QPrinter::PageRange) return;
  style.firstPage = printer.fromPage();
  style.lastPage = printer.toPage();
}

qsizetype DocumentLines::count() const { return document_.blockCount(); }

QString DocumentLines::line(qsizetype index) {
  const int number = static_cast<int>(index);
  if (block_.isValid() && block_.blockNumber() + 1 == number) {
    block_ = block_.next();
  } else if (!block_.isValid() || block_.blockNumber() != number) {
    block_ = document_.findBlockByNumber(number);
  }
  return block_.text();
}

PrintOutcome PrintReport(ReportLines& lines, const ReportPageStyle& style,
                         QPagedPaintDevice& device,
                         const std::function<bool(int page, int pages)>& progress) {
  QPainter painter;
  if (!painter.begin(&device)) return PrintOutcome::kFailed;
  PagePrinter printer(painter, style, device);
  painter.setFont(QFont(style.font, &device));
  int pages = 0;
  if (style.numbering == ReportPageStyle::Numbering::kOfTotal) {
    const std::optional<int> counted = printer.walk(lines, false, 0, progress);
    if (!counted) return Cancelled(painter, device);
    pages = *counted;
  }
  if (!printer.walk(lines, true, pages, progress)) return Cancelled(painter, device);
  painter.end();
  return PrintOutcome::kPrinted;
}
