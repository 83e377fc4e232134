#include "bench/bench_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>

#include <algorithm>
#include <cmath>
#include <unistd.h>

QByteArray read_all(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ProcFigures proc_figures(qint64 pid)
{
    ProcFigures f;
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    for (const QByteArray &line : read_all(base + "status").split('\n'))
        if (line.startsWith("VmRSS:"))
            f.rss_kib = line.mid(6).trimmed().split(' ').first().toLong();
    f.fds = QDir(base + "fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    // Past the command name in parentheses: the state is field 3, utime 14, stime 15.
    const QByteArray stat = read_all(base + "stat");
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 12)
        f.cpu_s = double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
    return f;
}

qint64 journal_records(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 lines = 0;
    for (QByteArray piece; !(piece = file.read(1 << 20)).isEmpty();)
        lines += piece.count('\n');
    return lines - 1;
}

double log_time(const QByteArray &line)
{
    return line.mid(1, line.indexOf(']') - 1).trimmed().toDouble();
}

double percentile(std::vector<double> v, double share)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.at(size_t(std::max(0.0, std::ceil(share * double(v.size())) - 1)));
}

const char *goal_verdict(bool right, bool met)
{
    return !right ? "run wrong" : met ? "met" : "MISSED";
}

bool wait_for_output(QProcess &process, QByteArray *out, const char *needle, int timeout_ms)
{
    QElapsedTimer clock;
    for (clock.start(); !out->contains(needle) && clock.elapsed() < timeout_ms && process.state() != QProcess::NotRunning;)
        if (process.waitForReadyRead(100))
            *out += process.readAllStandardOutput();
    return out->contains(needle);
}
