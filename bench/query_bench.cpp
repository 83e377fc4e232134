// Times device queries through the runner (the worker on its own thread)
// against the module simulator over a pty: 50 Wi-Fi and 50 cellular queries,
// median and worst of each, as the journal's duration (from the request
// reaching the worker to the end of the query).
// The floor is about 25 ms a command (the reply, 3 ms of quiet, a 20 ms look
// for a further burst), plus 100 ms for the cellular INFO step. Exits 1 when
// a query failed or the journal lacks one's record.
//
//   kv20-bench-query [--queries N]     (default 50 of each)
#include "bench/bench_process.h"
#include "runner/module_session.h"
#include "tests/support/module_sim_process.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    double median_ms;
    double worst_ms;
    int failures;
};

Figures run_queries(const char *variant, int count)
{
    QStringList args {QStringLiteral("--variant"), QLatin1String(variant)};
    if (!qEnvironmentVariableIsSet("KV20_BENCH_VERBOSE"))
        args << QStringLiteral("--quiet");
    ModuleSimProcess sim(args);
    if (!sim.start()) {
        std::fprintf(stderr, "simulator did not start\n");
        std::exit(1);
    }
    QTemporaryDir dir;
    const Journal journal(dir.filePath(Journal::default_path));
    ModuleSession::Request request;
    request.cellular = QByteArray(variant) == "cellular";
    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        ModuleSession session({sim.device_path(), sim.device_path()}, request, journal);
        session.start();
        if (!QTest::qWaitFor([&] { return session.done(); }, 5000) || !session.record().ok) {
            ++failures;
            if (qEnvironmentVariableIsSet("KV20_BENCH_VERBOSE"))
                std::fprintf(stderr, "query %d failed; simulator log:\n%s\n", i, sim.stderr_log().right(2000).constData());
            continue;
        }
        times.push_back(double(session.record().duration_ms));
    }
    // Every query, ok or not, leaves its record.
    const qint64 records = journal_records(journal.path());
    if (records != count) {
        std::fprintf(stderr, "%s: %lld records in the journal for %d queries\n", variant, records, count);
        ++failures;
    }
    std::sort(times.begin(), times.end());
    return {times.empty() ? 0 : times[times.size() / 2], times.empty() ? 0 : times.back(), failures};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QStringList args = app.arguments().mid(1);
    const int count = args.isEmpty() ? 50 : args.size() == 2 && args.at(0) == "--queries" ? args.at(1).toInt() : 0;
    if (count <= 0) {
        std::fprintf(stderr, "usage: kv20-bench-query [--queries N]\n");
        return 2;
    }
    const Figures wifi = run_queries("wifi", count);
    const Figures cellular = run_queries("cellular", count);
    std::printf("query benchmark, %d queries each, through the runner over a pty\n", count);
    std::printf("  Wi-Fi    : median %7.1f ms  worst %7.1f ms  failures %d  (floor ~100 ms)\n", wifi.median_ms,
                wifi.worst_ms, wifi.failures);
    std::printf("  cellular : median %7.1f ms  worst %7.1f ms  failures %d  (floor ~150 ms)\n",
                cellular.median_ms, cellular.worst_ms, cellular.failures);
    return wifi.failures + cellular.failures == 0 ? 0 : 1;
}
