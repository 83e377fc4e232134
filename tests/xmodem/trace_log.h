#pragma once

#include <QString>
#include <QStringList>

// Captures the program's debug output (trace lines) so tests can check them.
// Installed once per test program; lines from every thread are kept in order.
namespace trace_log {

void install();
// Gives the debug output back to the handler that was there before.
void uninstall();
void clear();
QStringList lines();
int count(const QString &line);
// Lines that start with prefix, in order.
QStringList starting_with(const QString &prefix);
// Waits until line has been traced at least `occurrence` times.
bool wait_for(const QString &line, int occurrence, int timeout_ms);
// Writes the captured lines to stderr (for a failed test).
void dump_tail(int last);

} // namespace trace_log
