#pragma once

#include "report/shift_figures.h"

#include <QByteArray>

// The summary for a terminal: the headline figures and one short table per
// question (yield, hours, failures, stations and slots, images, unreadable
// rows), aligned in plain text, UTF-8.
QByteArray report_text(const ShiftFigures &figures);
