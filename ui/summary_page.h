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

class QSettings;

// What the page shows: the statistics rows of one device, as
// Journal::stats gives them for the report's device and dates.
struct SummaryPage {
  QString device;
  // The dates the operator gave, "dd.MM.yyyy"; empty where none was given
  // (the page then names the first or last day with events).
  QString from;
  QString to;
  // Set when the report's input or kind of event narrows its table: the
  // totals count every event of the device and dates all the same.
  bool narrowed = false;
  std::vector<veks::StatRow> rows;
};

// The page of `filter`'s device and dates; none when the filter names no
// device or none of its events passes (the report then has no first page).
[[nodiscard]] std::optional<SummaryPage> SummaryOf(veks::Journal& journal,
                                                   const veks::EventFilter& filter);

// Paints `page` inside `area` with the painter's font as the body text; the
// painter's state is left as it was. What does not fit (a long list of
// kinds of event) is cut and counted in one line.
void PaintSummaryPage(QPainter& painter, const QRectF& area, const SummaryPage& page);

// The operator's choice "Сводка на первой странице" of the journal report,
// kept between sessions.
[[nodiscard]] bool SummaryPageChosen(QSettings& settings);
void SetSummaryPageChosen(QSettings& settings, bool chosen);
