#pragma once

#include "report/shift_figures.h"

#include <QByteArray>

// The figures as one JSON object (keys in kv20-cli(1)), compact, one line.
QByteArray report_json(const ShiftFigures &figures);

// A share in percent to one decimal, as every output shows it.
double percent(quint64 part, quint64 whole);
