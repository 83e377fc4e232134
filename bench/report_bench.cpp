// kv20-cli report over a large journal, as a supervisor runs it on the
// journals of many stations copied to one share: the journals are made here
// (12 stations in 3 lines, 4 hub ports each, modules queried then given an
// audio image, some upgraded, failures and retests now and then, records a
// few seconds apart through the hours), then `kv20-cli report ... --json`
// runs as its own process, and again with --html. Prints the wall time of
// each and the peak resident memory of the first against the goals (100,000
// records under 0.5 s; 1,000,000 records, about 230 MB, under 5 s and
// 100 MiB), and checks that the report counted every record. Exits 1 when
// the report failed or miscounted (its goal then reads "run wrong"), not
// when a goal is missed (the machine may be busy): the figures say that.
//
//   kv20-bench-report [--records N]...    (default: 100000 and 1000000)
#include "bench/bench_process.h"
#include "journal/journal.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int lines = 3, stations_per_line = 4, ports = 4;

const OperationFailure no_reply = Failure::no_reply;
const OperationFailure details[] = {no_reply, Failure::no_acknowledgement, {Failure::transfer_error, -4},
                                    Failure::unplugged, {Failure::transfer_error, -1}};

// One station's journal: `count` records of the modules that pass through
// its hub, each queried, then sent the audio image (retested after a
// failure), every fifth upgraded as well. Header and rows are the journal
// writer's own, so that they hold the journal's columns whatever it gains.
bool write_station(const QString &path, long long count, int station, std::mt19937 *random)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray out = QByteArray(journal_format::byte_order_mark.data(), int(journal_format::byte_order_mark.size()))
                     + Journal::header_row();
    long long written = 0;
    int module = 0;
    std::uniform_int_distribution<int> percent(0, 99), detail(0, 4), jitter(0, 4000);
    // Within December, at the line's offset from UTC whatever this machine's zone.
    QDateTime clock(QDate(2026, 12, 6), QTime(6, 0), Qt::OffsetFromUTC, 8 * 3600);
    const auto record = [&](int port, const char *operation, bool ok, OperationFailure why, qint64 duration) {
        OperationRecord r;
        clock = clock.addMSecs(1500 + jitter(*random));
        r.started = clock;
        r.tool = QStringLiteral("cli");
        r.port = QStringLiteral("ttyACM%1").arg(port);
        r.slot = QStringLiteral("1-1.%1").arg(port + 1);
        r.operation = QLatin1String(operation);
        // A module that never answered left no identity.
        if (ok || why != no_reply) {
            const QString number = QStringLiteral("%1%2").arg(station, 2, 10, QLatin1Char('0')).arg(module, 7, 10, QLatin1Char('0'));
            r.device_number = QStringLiteral("KV20-DN-") + number;
            r.imei_or_mac = QStringLiteral("8612345") + number;
            r.iccid_or_audio_version = QStringLiteral("89860012345678901234");
            r.device_version = QStringLiteral("FW-2.3");
        }
        if (r.operation != QLatin1String("query")) {
            r.image = QStringLiteral("/srv/images/%1-2026-12.img").arg(r.operation);
            r.image_bytes = 1048576;
            r.image_sha256 = QByteArray(64, r.operation == QLatin1String("audio") ? '3' : 'a');
        }
        r.ok = ok;
        r.failure = ok ? OperationFailure() : why;
        r.duration_ms = duration;
        r.record_id = QStringLiteral("%1-0000-4000-8000-%2").arg(station, 8, 16, QLatin1Char('0')).arg(written, 12, 10, QLatin1Char('0'));
        r.station = QStringLiteral("station%1").arg(station);
        out += Journal::record_row(r);
        ++written;
        if (out.size() > (1 << 20)) {
            file.write(out);
            out.clear();
        }
    };
    while (written < count) {
        ++module;
        const int port = module % ports;
        record(port, "query", true, OperationFailure(), 150 + jitter(*random) / 40);
        bool ok = false;
        for (int attempt = 0; attempt < 3 && !ok && written < count; ++attempt) {
            ok = percent(*random) >= (port == 3 && station % 5 == 0 ? 25 : 6);
            record(port, "audio", ok, details[detail(*random)], 90000 + jitter(*random) * 3);
        }
        if (module % 5 == 0 && written < count)
            record(port, "firmware", percent(*random) >= 3, details[detail(*random)], 180000 + jitter(*random) * 5);
    }
    return file.write(out) == out.size() && file.flush();
}

struct Run
{
    double seconds = -1;
    long peak_rss_kib = -1;
    int status = -1;
    QByteArray output;
};

// The report as its own process: wall time and its peak RSS from wait4.
Run run_report(const std::string &program, const QStringList &files, const QStringList &options, const QString &out_path)
{
    std::vector<std::string> args {program, "report"};
    for (const QString &file : files + options)
        args.push_back(QFile::encodeName(file).toStdString());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, QFile::encodeName(out_path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Run run;
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        return run;
    rusage usage {};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    clock_gettime(CLOCK_MONOTONIC, &end);
    posix_spawn_file_actions_destroy(&actions);
    run.seconds = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    run.peak_rss_kib = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    QFile out(out_path);
    if (out.open(QIODevice::ReadOnly))
        run.output = out.readAll();
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<long long> sizes;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 == argc || std::strcmp(argv[i], "--records") != 0 || std::atoll(argv[i + 1]) <= 0) {
            std::fprintf(stderr, "usage: kv20-bench-report [--records N]...\n");
            return 2;
        }
        sizes.push_back(std::atoll(argv[i + 1]));
    }
    if (sizes.empty())
        sizes = {100000, 1000000};
    const std::string program = KV20_BIN_DIR "/kv20-cli";
    std::printf("kv20-cli report --json over %d stations' journals (%d lines x %d stations, %d ports each)\n",
                lines * stations_per_line, lines, stations_per_line, ports);
    std::printf("  %9s  %8s  %6s  %8s  %8s  %13s  %-22s  %s\n", "records", "modules", "files", "MB", "time s",
                "peak RSS MiB", "goal", "--html s");
    int failures = 0;
    for (const long long size : sizes) {
        QTemporaryDir dir;
        QStringList files;
        std::mt19937 random(20261206);
        long long bytes = 0;
        const int stations = lines * stations_per_line;
        for (int s = 0; s < stations; ++s) {
            const QString folder = dir.filePath(QStringLiteral("line%1/station%2").arg(s / stations_per_line + 1).arg(s + 1));
            QDir().mkpath(folder);
            files << folder + QStringLiteral("/kv20-journal.csv");
            const long long count = size / stations + (s < size % stations ? 1 : 0);
            if (!write_station(files.back(), count, s + 1, &random)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(files.back()));
                return 1;
            }
            bytes += QFileInfo(files.back()).size();
        }
        const Run run = run_report(program, files, {QStringLiteral("--json")}, dir.filePath(QStringLiteral("report.json")));
        const Run page = run_report(program, files, {QStringLiteral("--html"), dir.filePath(QStringLiteral("report.html"))},
                                    dir.filePath(QStringLiteral("report.out")));
        const QJsonObject report = QJsonDocument::fromJson(run.output).object();
        const qint64 counted = qint64(report.value("records").toDouble(-1));
        const bool right = run.status == 0 && counted == size && page.status == 0;
        const bool small = size <= 100000;
        const bool met = run.seconds < (small ? 0.5 : 5.0) && (small || run.peak_rss_kib < 100 * 1024);
        const QString goal = QStringLiteral("%1: %2").arg(small ? "< 0.5 s" : "< 5 s, < 100 MiB").arg(goal_verdict(right, met));
        std::printf("  %9lld  %8lld  %6d  %8.1f  %8.2f  %13.1f  %-22s  %8.2f\n", size,
                    static_cast<long long>(report.value("modules").toDouble(-1)), int(files.size()), double(bytes) / 1e6,
                    run.seconds, double(run.peak_rss_kib) / 1024.0, qPrintable(goal), page.seconds);
        if (!right) {
            std::fprintf(stderr, "  the report exited %d and counted %lld of %lld records; with --html it exited %d\n",
                         run.status, static_cast<long long>(counted), size, page.status);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
