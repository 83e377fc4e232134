#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <vector>

// What the benchmarks share: what they read about a process and the
// simulators' logs, and how they judge a goal.

struct ProcFigures { long rss_kib = -1; int fds = -1; double cpu_s = -1; };

QByteArray read_all(const QString &path);
// From /proc: resident set, open descriptors, user and system CPU time.
ProcFigures proc_figures(qint64 pid);
// The time stamp of a simulator's log line; with KV20_SIM_LOG_CLOCK=monotonic
// it is comparable across simulators and with this process's clock.
double log_time(const QByteArray &line);
// A journal's records: its lines past the header, one record a line as the
// writer keeps them; -1 when it cannot be read.
qint64 journal_records(const QString &path);
// Reads `process`'s standard output into *out until it holds `needle`, the
// process ends, or timeout_ms pass; whether it came.
bool wait_for_output(QProcess &process, QByteArray *out, const char *needle, int timeout_ms);
// Nearest rank; 0 of nothing.
double percentile(std::vector<double> v, double share);
// A goal's verdict: "met" or "MISSED" for a run whose own check passed
// (`right`); the figures of a run that went wrong measure nothing.
const char *goal_verdict(bool right, bool met);
