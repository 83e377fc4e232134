// The cost of one journal append against the journal's length: a station's
// journal grows all shift and all year, and every operation appends to it
// under the lock the other writers wait for. For 0, 100,000 and 1,000,000
// records already in the journal: the median and the slowest of 20 appends
// (each one whole: open, lock, the check of the last record, write, fsync).
// Exits 1 when an append failed or the journal does not end with every
// record written into it.
//
//   kv20-bench-journal-append [--records N] [DIR]   (0, N/10 and N records
//                                                    already; default N
//                                                    1,000,000; DIR default:
//                                                    a temporary folder)
#include "bench/bench_process.h"
#include "journal/journal.h"
#include "journal/journal_format.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

OperationRecord record(int n)
{
    OperationRecord r;
    r.started = QDateTime::currentDateTime();
    r.tool = QStringLiteral("cli");
    r.port = QStringLiteral("pts/%1").arg(n % 128);
    r.operation = QStringLiteral("audio");
    r.device_number = QStringLiteral("KV20SIM%1").arg(n, 6, 10, QLatin1Char('0'));
    r.imei_or_mac = QStringLiteral("86%1").arg(n, 13, 10, QLatin1Char('0'));
    r.iccid_or_audio_version = QStringLiteral("89860000000000000017");
    r.device_version = QStringLiteral("KV20-FW-1.0.7");
    r.image = QStringLiteral("/images/提示音, \"v2\".img");
    r.image_bytes = 65536;
    r.image_sha256 = QByteArray(64, 'a');
    r.ok = n % 17 != 0;
    r.failure = r.ok ? OperationFailure() : OperationFailure(Failure::transfer_error, -4);
    r.duration_ms = 6100 + n % 100;
    return r;
}

// A journal of `records` records, written in large pieces.
bool fill(const QString &path, int records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk = QByteArray(journal_format::byte_order_mark.data(), int(journal_format::byte_order_mark.size()))
                       + Journal::header_row();
    for (int n = 0; n < records; ++n) {
        chunk += Journal::record_row(record(n));
        if (chunk.size() > (1 << 20) && file.write(chunk) == chunk.size())
            chunk.clear();
    }
    // On the disk before the first append, whose own fsync would wait for it.
    return file.write(chunk) == chunk.size() && file.flush() && fsync(file.handle()) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The journal's trace of each append would time the terminal.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QStringList args = app.arguments().mid(1);
    int most = 1000000;
    if (args.size() >= 2 && args.at(0) == QStringLiteral("--records")) {
        most = args.at(1).toInt();
        args = args.mid(2);
    }
    if (most < 10 || args.size() > 1) {
        std::fprintf(stderr, "usage: kv20-bench-journal-append [--records N, at least 10] [DIR]\n");
        return 2;
    }
    QTemporaryDir temporary;
    const QString dir = args.isEmpty() ? temporary.path() : args.at(0);
    std::printf("journal append: median and slowest of 20 appends, in %s\n", qPrintable(dir));
    double base = -1;
    for (const int records : {0, most / 10, most}) {
        const QString path = dir + QStringLiteral("/kv20-journal-%1.csv").arg(records);
        if (records > 0 && !fill(path, records)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        const Journal journal(path);
        std::vector<double> ms;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer clock;
            clock.start();
            if (!journal.append(record(i)).in_journal) {
                std::fprintf(stderr, "append to %s failed\n", qPrintable(path));
                return 1;
            }
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        const qint64 in_journal = journal_records(path);
        if (in_journal != records + 20) {
            std::fprintf(stderr, "%s holds %lld records, not %d\n", qPrintable(path), in_journal, records + 20);
            return 1;
        }
        std::sort(ms.begin(), ms.end());
        const double median = (ms[9] + ms[10]) / 2;
        base = base < 0 ? median : base;
        std::printf("  %9d records (%7.1f MB): median %6.2f ms, slowest %6.2f ms, median %+6.2f ms against an "
                    "empty journal\n", records, double(QFileInfo(path).size()) / 1e6, median, ms.back(),
                    median - base);
        QFile::remove(path);
    }
    return 0;
}
