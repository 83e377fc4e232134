#pragma once

#include "report/shift_figures.h"

#include <QString>

// The page's charts as inline SVG text: no script, no chart library. Every
// chart scales to its box (viewBox, width 100 %), keeps its texts inside its
// own area and carries a <title> per bar with the exact figure, escaped.

// Modules per hour (or per day) across the range, the busiest bar marked.
QString throughput_chart(const ShiftFigures &figures);

// Failures by detail, most first, with the cumulative share as a line;
// bars are numbered as the table under the chart is.
QString pareto_chart(const ShiftFigures &figures, int max_bars);
