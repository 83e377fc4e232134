#pragma once

#include "report/shift_figures.h"

#include <QByteArray>
#include <QDateTime>

// The report as one self-contained HTML page (UTF-8): inline SVG charts and
// tables, one style sheet in the page, no script, no font or file from
// elsewhere. Fluid up to 1200 px wide, so that a 1366 px screen shows it
// without sideways scrolling and an A4 page prints it; every text from a
// journal is text in the markup (Markup, html_text.h).
QByteArray report_page(const ShiftFigures &figures, const QDateTime &made);
