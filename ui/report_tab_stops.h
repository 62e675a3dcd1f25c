// Where the report box puts its tab stops, so that the report's columns line
// up in the box's own font.
#pragma once

#include <QFont>
#include <QList>
#include <QTextOption>

class QPaintDevice;

// A report line gives a cell three, two or one TABs by its character count
// (report/report_text.h), counting on a short text to end before the first of
// the three stops that lead to the next column, and a longer one between the
// first and the second. The stops are placed for every text a cell can hold,
// measured in `font`: in the event and input columns one between the widest
// short and the narrowest longer text, one a blank past the widest text, and
// the next column's start a blank further; in the time column one a blank
// past the widest time and the date column's start a blank further. Eight
// stops in all, for the eight TABs of a line. Measured for `device` (a
// printer, at its resolution), or for the screen when there is none.
[[nodiscard]] QList<QTextOption::Tab> ReportTabStops(const QFont& font,
                                                     const QPaintDevice* device = nullptr);
