// The line's database with a million records: twelve stations' journals
// (modules queried, then given the audio image, retested after a failure,
// every fifth upgraded; records a few seconds apart) are made here, then
//   - `kv20-cli upload --db URL` sends them all, as its own process (goal:
//     1,000,000 records under 60 s), and once more, which sends nothing;
//   - `kv20-cli report --json` over the journals and with --db over the
//     database, each timed, and their figures compared apart from the
//     source list.
// The server is the one KV20_TEST_DB_URL names (PGPASSWORD), as
// scripts/test-db.sh starts it; the bench makes a database of its own there
// and drops it. Exits 1 when a command failed or the two reports differ, not
// when a goal is missed (the machine may be busy): the figures say that.
//
//   source scripts/test-db.sh; kv20_test_db_start /tmp/kv20-db
//   kv20-bench-db [--records N]     (default: 1000000)
#include "db/pg_link.h"
#include "journal/journal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>
#include <random>

namespace {

constexpr int stations = 12, ports = 4;

// One station's journal of `count` records, written whole.
bool write_station(const QString &path, const QString &station, long long count, std::mt19937 *random)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray out = "\xEF\xBB\xBF" + Journal::header_row();
    std::uniform_int_distribution<int> percent(0, 99), jitter(0, 4000);
    QDateTime clock(QDate(2026, 12, 6), QTime(6, 0));
    long long written = 0;
    int module = 0;
    const auto record = [&](const char *operation, bool ok) {
        OperationRecord r;
        clock = clock.addMSecs(1500 + jitter(*random));
        r.started = clock;
        r.tool = QStringLiteral("cli");
        r.port = QStringLiteral("ttyACM%1").arg(module % ports);
        r.operation = QLatin1String(operation);
        r.device_number = QStringLiteral("KV20-DN-%1").arg(module);
        r.imei_or_mac = QStringLiteral("86123%1").arg(module);
        if (r.operation != QLatin1String("query")) {
            r.image = QStringLiteral("/srv/images/%1-2026-12.img").arg(r.operation);
            r.image_bytes = 1048576;
            r.image_sha256 = QByteArray(64, r.operation == QLatin1String("audio") ? 'a' : 'f');
        }
        r.ok = ok;
        r.detail = ok ? QString() : QStringLiteral("no acknowledgement");
        r.duration_ms = 150 + jitter(*random) * 20;
        r.record_id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        r.station = station;
        out += Journal::record_row(r);
        ++written;
        if (out.size() > (1 << 20)) {
            file.write(out);
            out.clear();
        }
    };
    while (written < count) {
        ++module;
        record("query", true);
        bool ok = false;
        for (int attempt = 0; attempt < 3 && !ok && written < count; ++attempt)
            record("audio", ok = percent(*random) >= 6);
        if (module % 5 == 0 && written < count)
            record("firmware", percent(*random) >= 3);
    }
    return file.write(out) == out.size() && file.flush();
}

struct Run
{
    double seconds = 0;
    int status = -1;
    QByteArray out, err;
};

Run run_cli(const QStringList &args)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(KV20_BIN_DIR "/kv20-cli"), args);
    process.waitForFinished(-1);
    Run run;
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    long long size = 1000000;
    for (int i = 1; i + 1 < argc; i += 2)
        if (QByteArray(argv[i]) == "--records")
            size = QByteArray(argv[i + 1]).toLongLong();
    const QString server = qEnvironmentVariable("KV20_TEST_DB_URL");
    if (server.isEmpty()) {
        std::fprintf(stderr, "KV20_TEST_DB_URL names no server (source scripts/test-db.sh; kv20_test_db_start DIR)\n");
        return 2;
    }
    PgLink admin;
    QString error;
    const QString name = QStringLiteral("kv20_bench_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    if (!admin.connect(server, &error) || !admin.exec(("CREATE DATABASE " + name).toUtf8().constData()).ok) {
        std::fprintf(stderr, "no database on %s: %s\n", qPrintable(PgLink::describe(server)), qPrintable(error));
        return 1;
    }
    const QString url = server.left(server.lastIndexOf(QLatin1Char('/')) + 1) + name;
    int failures = 0;
    {
        QTemporaryDir dir;
        QStringList journals;
        std::mt19937 random(20261206);
        qint64 bytes = 0;
        for (int s = 0; s < stations; ++s) {
            const QString folder = dir.filePath(QStringLiteral("station%1").arg(s + 1));
            QDir().mkpath(folder);
            journals << folder + QStringLiteral("/kv20-journal.csv");
            if (!write_station(journals.back(), QStringLiteral("station%1").arg(s + 1),
                               size / stations + (s < size % stations ? 1 : 0), &random)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(journals.back()));
                return 1;
            }
            bytes += QFileInfo(journals.back()).size();
        }
        std::printf("%lld records in %d stations' journals, %.1f MB, to %s\n", size, stations, double(bytes) / 1e6,
                    qPrintable(PgLink::describe(url)));
        const Run init = run_cli({"db", "init", "--db", url});
        const Run upload = run_cli(QStringList {"upload", "--db", url} + journals);
        const Run again = run_cli(QStringList {"upload", "--db", url} + journals);
        std::printf("  upload:                %8.2f s  %9.0f records/s  goal < 60 s for 1,000,000: %s\n",
                    upload.seconds, double(size) / upload.seconds,
                    double(upload.seconds) * 1e6 / double(size) < 60 ? "met" : "MISSED");
        std::printf("  upload again (nothing to send): %.2f s\n", again.seconds);
        if (init.status != 0 || upload.status != 0 || again.status != 0
            || !upload.out.startsWith(QByteArray::number(size) + " sent") || !again.out.startsWith("0 sent")) {
            std::fprintf(stderr, "  upload failed: %s%s%s\n", init.err.constData(), upload.err.constData(),
                         again.out.constData());
            ++failures;
        }
        const Run files = run_cli(QStringList {"report", "--json"} + journals);
        const Run database = run_cli({"report", "--json", "--db", url});
        std::printf("  report from the files: %8.2f s\n", files.seconds);
        std::printf("  report from the database: %5.2f s\n", database.seconds);
        QJsonObject a = QJsonDocument::fromJson(files.out).object(), b = QJsonDocument::fromJson(database.out).object();
        a.remove("files");
        b.remove("files");
        if (files.status != 0 || database.status != 0 || a != b || qint64(a.value("records").toDouble()) != size) {
            std::fprintf(stderr, "  the reports differ or failed (%d, %d): %s\n", files.status, database.status,
                         database.err.constData());
            ++failures;
        }
    }
    admin.exec(("DROP DATABASE " + name + " WITH (FORCE)").toUtf8().constData());
    return failures == 0 ? 0 : 1;
}
