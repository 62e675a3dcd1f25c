// The first page "Сводка" of a journal report: the totals of the report's
// device and dates and their timeline, bars per day or per month, painted
// with QPainter on whatever page the report goes to.
#pragma once

#include <QPainter>
#include <QRectF>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "journal/journal_stats.h"

namespace veks {
class Journal;
struct EventFilter;
}  // namespace veks

class QAction;
class QMenu;

// What the page shows: the statistics rows of the report's device and
// dates, as Journal::stats gives them; those of several devices add up.
struct SummaryPage {
  QString device;  // its name, or "все устройства"
  // The dates the operator gave, "dd.MM.yyyy"; empty where none was given
  // (the page then names the first or last day with events).
  QString from;
  QString to;
  // Set when the report's input or kind of event narrows its table: the
  // totals count every event of the device and dates all the same.
  bool narrowed = false;
  std::vector<veks::StatRow> rows;
};

// The page of `filter`'s device (every device when it names none) and dates;
// none when no event passes (the report then has no first page).
[[nodiscard]] std::optional<SummaryPage> SummaryOf(veks::Journal& journal,
                                                   const veks::EventFilter& filter);

// Paints `page` inside `area` with the painter's font as the body text; the
// painter's state is left as it was. What does not fit (a long list of
// kinds of event) is cut and counted in one line.
void PaintSummaryPage(QPainter& painter, const QRectF& area, const SummaryPage& page);

// The painting of the report's first page for ReportPageStyle::frontPage:
// that of SummaryOf, empty when there is none.
[[nodiscard]] std::function<void(QPainter&, const QRectF&)> SummaryFrontPage(
    veks::Journal& journal, const veks::EventFilter& filter);

// The operator's choice "Сводка на первой странице" of the journal report: a
// check item put in `menu` before `before`, kept between sessions.
QAction* AddSummaryPageChoice(QMenu* menu, QAction* before);
