#pragma once

#include "report/html_text.h"
#include "report/shift_figures.h"

// The page's charts as inline SVG: no script, no chart library. Every chart
// scales to its box (viewBox, width 100 %), keeps its texts inside its own
// area and carries a <title> per bar with the exact figure.

// Modules per hour (or per day) across the range, the busiest bar marked.
Markup throughput_chart(const ShiftFigures &figures);

// Failures by detail, most first, with the cumulative share as a line; each
// bar is named under it by its number, as in the table under the chart,
// and its detail, on up to three lines.
Markup pareto_chart(const ShiftFigures &figures, int max_bars);
