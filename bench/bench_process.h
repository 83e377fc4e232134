#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// What the shift benchmarks read about a process and the simulators' logs.

struct ProcFigures { long rss_kib = -1; int fds = -1; double cpu_s = -1; };

QByteArray read_all(const QString &path);
// From /proc: resident set, open descriptors, user and system CPU time.
ProcFigures proc_figures(qint64 pid);
// The time stamp of a simulator's log line; with KV20_SIM_LOG_CLOCK=monotonic
// it is comparable across simulators and with this process's clock.
double log_time(const QByteArray &line);
// Nearest rank; 0 of nothing.
double percentile(std::vector<double> v, double share);
