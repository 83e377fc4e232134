#pragma once

#include "journal/operation_record.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <functional>

// The pieces every printer of kv20-cli shares, so that a result reads the
// same in every mode.

// Text from outside the program (a module's replies, port and device names,
// file names, details) as plain and live output show it: every control
// character written out (\r, \n, \t, else \xHH, DEL and the C1 controls
// too). A module answering with a line end or an escape sequence can then
// neither forge a line of output nor clear the screen or retitle the
// terminal. A backslash stays as it is, so that a Windows path reads as the
// operator types it (Z:\tmp\kv20-journal.csv); --json is the exact form.
QString shown_text(const QString &text);
// "11.2 KiB/s", "850 B/s".
QString rate_text(double bytes_per_second);
// "pts/3: ok", "pts/3: failed: transfer error -4"; a query's ok line carries
// the device fields under the journal's column names.
QString result_line(const OperationRecord &record);
// The result event of JSON Lines: the device fields under the journal's
// column names.
QJsonObject result_json(const OperationRecord &record);
// One compact JSON line: the values exact, but no control character raw.
QByteArray json_line(const QJsonObject &object);

// Written and flushed at once, so that a reader of a pipe sees every event
// as it happens. A reader that went away (a closed pipe, a vanished
// terminal) must not end the process with the modules still receiving: the
// first write that fails calls the output-lost handler once, and every
// later write is dropped. Main thread only.
void write_out(const QByteArray &bytes, FILE *stream = stdout);
void set_output_lost_handler(std::function<void()> handler);
// Whether a write has failed.
bool output_lost();
