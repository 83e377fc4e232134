// What the again policy's check adds before a module's first download
// command. The check is DoneBefore::look_up: a module's worker thread runs it
// between the module naming itself and AT+XUPDATE / AT+FOTA, so its time is
// the whole delay. Here 32 threads, one a slot, each ask it for the module
// that has just arrived in their slot, all 32 at the same moment, round after
// round, against a database of --records records (default 1,000,000) made by
// twelve stations:
//   - the first round: a station just started, its connections to the
//     server opened as the slots ask (goal: p99 under 50 ms for all of it);
//   - the rounds after: connections kept (goal: p99 under 50 ms).
// Half the modules asked about had the audio image, a quarter had it fail,
// a quarter are new; every answer is checked against what the records imply,
// and every one must have come from the database (a check that fell back to
// the journals alone measured nothing). Exits 1 when the run went wrong, not
// when a goal is missed; 77 without KV20_TEST_DB_URL (PGPASSWORD), as
// scripts/test-db.sh starts the server.
//
//   kv20-bench-done-before [--records N] [--rounds N]   (defaults: 1000000; 60)
#include "bench/bench_database.h"
#include "bench/bench_process.h"
#include "db/db_schema.h"
#include "db/pg_link.h"
#include "journal/journal_format.h"
#include "runner/done_before.h"

#include <QElapsedTimer>
#include <QUuid>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int slot_count = 32;
constexpr int stations = 12;
const QByteArray audio_sha256(64, 'a');

// Three records a module: queried, given the audio image (every sixteenth
// module's failed), upgraded; two seconds apart.
QByteArray fill_sql(long long records)
{
    return "INSERT INTO kv20_records (time, tool, port, operation, device_number, imei_or_mac,"
           " iccid_or_audio_version, device_version, image, image_bytes, image_sha256, result, detail, duration_ms,"
           " record_id, station, slot, wall_time, utc_time)"
           " SELECT to_char(t, 'YYYY-MM-DD\"T\"HH24:MI:SS.MS'), 'station', 'ttyACM' || (m % 4), op, 'KV20-DN-' || m,"
           " '86123' || m, '', 'KV20-FW-1.0.7', CASE op WHEN 'query' THEN '' ELSE '/srv/images/' || op || '.img' END,"
           " CASE op WHEN 'query' THEN NULL ELSE 1048576 END,"
           " CASE op WHEN 'audio' THEN repeat('a', 64) WHEN 'firmware' THEN repeat('f', 64) ELSE '' END,"
           " CASE WHEN op = 'audio' AND m % 16 = 0 THEN 'failed' ELSE 'ok' END, '', 200, gen_random_uuid(),"
           " 'station' || (m % " + QByteArray::number(stations) + " + 1), '1-1.' || (m % 4 + 1), t, t"
           " FROM (SELECT (g - 1) / 3 AS m, (ARRAY['query', 'audio', 'firmware'])[(g - 1) % 3 + 1] AS op,"
           " timestamp '2026-11-01 06:00' + g * interval '2 second' AS t FROM generate_series(1, "
           + QByteArray::number(records) + ") g) s";
}

// The module that arrives in `slot` in `round`: spread over the records and
// past them, so that the index is searched, not a cache line reread.
long long module_of(int round, int slot, long long modules)
{
    const long long n = (static_cast<long long>(round) * slot_count + slot) * 7919;
    if (slot % 4 == 3)
        return modules + n;  // new: never served
    const long long m = n % modules;
    return slot % 4 == 2 ? m - m % 16 : (m % 16 == 0 ? m + 1 : m);  // failed before : served before
}

struct Lookup
{
    double ms = 0;
    bool right = false;
};

// Each slot's thread waits for its round, asks, and is timed.
class Slots
{
public:
    Slots(DoneBefore *done_before, long long modules, int rounds)
        : done_before(done_before), modules(modules), results(size_t(rounds), std::vector<Lookup>(slot_count))
    {
        for (int s = 0; s < slot_count; ++s)
            threads.emplace_back([this, s] { run(s); });
    }
    ~Slots()
    {
        for (std::thread &t : threads)
            t.join();
    }
    // All slot_count at once; back when every one has its answer.
    void round(int r)
    {
        std::unique_lock<std::mutex> locker(mutex);
        current = r;
        answered = 0;
        wake.notify_all();
        done.wait(locker, [this] { return answered == slot_count; });
    }
    const std::vector<Lookup> &of(int r) const { return results[size_t(r)]; }

private:
    void run(int s)
    {
        for (int r = 0; r < int(results.size()); ++r) {
            {
                std::unique_lock<std::mutex> locker(mutex);
                wake.wait(locker, [&] { return current >= r; });
            }
            const long long m = module_of(r, s, modules);
            OperationRecord record;
            record.operation = QStringLiteral("audio");
            record.device_number = QStringLiteral("KV20-DN-%1").arg(m);
            record.imei_or_mac = QStringLiteral("86123%1").arg(m);
            const auto start = std::chrono::steady_clock::now();
            done_before->look_up(&record, audio_sha256);
            const auto end = std::chrono::steady_clock::now();
            const bool served_before = m < modules && m % 16 != 0;
            Lookup &result = results[size_t(r)][size_t(s)];
            result.ms = std::chrono::duration<double, std::milli>(end - start).count();
            result.right = record.again_checked == journal_text(journal_format::again_checked_words::database)
                           && record.earlier.record_id.isEmpty() == !served_before
                           && (!served_before || record.earlier.station == QStringLiteral("station%1").arg(m % stations + 1));
            std::lock_guard<std::mutex> locker(mutex);
            if (++answered == slot_count)
                done.notify_one();
        }
    }

    DoneBefore *done_before;
    const long long modules;
    std::vector<std::vector<Lookup>> results;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable wake, done;
    int current = -1, answered = 0;
};

// Prints one line of figures; whether its answers were all right.
bool report(const char *what, const std::vector<Lookup> &lookups, bool *met)
{
    std::vector<double> ms;
    int wrong = 0;
    for (const Lookup &l : lookups) {
        ms.push_back(l.ms);
        wrong += l.right ? 0 : 1;
    }
    const double p99 = percentile(ms, 0.99);
    *met = p99 < 50;
    std::printf("  %-44s %5zu asked  median %6.2f ms  p99 %6.2f ms  max %6.2f ms  goal p99 < 50 ms: %s\n", what,
                ms.size(), percentile(ms, 0.5), p99, percentile(ms, 1.0), goal_verdict(wrong == 0, *met));
    if (wrong)
        std::fprintf(stderr, "  %d of %zu answers were not the database's, or not what its records imply\n", wrong,
                     lookups.size());
    return wrong == 0;
}

} // namespace

int main(int argc, char **argv)
{
    long long records = 1000000;
    int rounds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--records")
            records = QByteArray(argv[i + 1]).toLongLong();
        else if (QByteArray(argv[i]) == "--rounds")
            rounds = QByteArray(argv[i + 1]).toInt();
    }
    rounds = qMax(rounds, 2);
    PgLink admin;
    QString name, url;
    if (const int refused = make_bench_database(&admin, &name, &url))
        return refused;
    bool right = false, met_cold = false, met_warm = false;
    {
        PgLink link;
        QString error;
        QElapsedTimer clock;
        clock.start();
        right = link.connect(url, &error) && db_schema::init(&link, &error) && link.exec(fill_sql(records)).ok
                && link.exec("ANALYZE kv20_records").ok;
        std::printf("%lld records in %s: made in %.1f s\n", records, qPrintable(PgLink::describe(url)),
                    double(clock.elapsed()) / 1000);
        if (!right)
            std::fprintf(stderr, "  the database was not made: %s\n", qPrintable(error));
    }
    if (right) {
        const long long modules = records / 3;
        DoneBefore done_before(QStringLiteral("bench"), url);
        Slots hub(&done_before, modules, rounds);
        for (int r = 0; r < rounds; ++r)
            hub.round(r);
        std::vector<Lookup> later;
        for (int r = 1; r < rounds; ++r)
            later.insert(later.end(), hub.of(r).begin(), hub.of(r).end());
        std::printf("%d modules arriving at once, %d rounds, the audio image's check:\n", slot_count, rounds);
        const bool first_right = report("first round (the connections opened)", hub.of(0), &met_cold);
        right = report("rounds after", later, &met_warm) && first_right;
    }
    admin.exec(("DROP DATABASE " + name).toUtf8().constData());
    return right ? 0 : 1;
}
