#pragma once

#include "report/html_text.h"
#include "report/shift_figures.h"

// The page's charts as inline SVG: no script, no chart library. Every chart
// scales to its box (viewBox, width 100 %), keeps its texts inside its own
// area and carries a <title> per bar with the exact figure.

// Modules per hour (or per day) across the range, the busiest bar marked.
Markup throughput_chart(const ShiftFigures &figures);

// Failures by detail, most first, with the cumulative share as a line;
// bars are numbered as the table under the chart is.
Markup pareto_chart(const ShiftFigures &figures, int max_bars);
