// kv20-cli report over a large journal, as a supervisor runs it on the
// journals of many stations copied to one share: the journals are made here
// (12 stations in 3 lines, 4 hub ports each, modules queried then given an
// audio image, some upgraded, failures and retests now and then, records a
// few seconds apart through the hours), then `kv20-cli report ... --json`
// runs as its own process, and again with --html. Prints the wall time of
// each and the peak resident memory of the first against the goals (100,000 records under 0.5 s; 1,000,000 records, about
// 120 MB, under 5 s and 100 MiB), and checks that the report counted every
// record. Exits 1 when the report failed or miscounted, not when a goal is
// missed (the machine may be busy): the figures say that.
//
//   kv20-bench-report [--records N]...    (default: 100000 and 1000000)
#include "journal/journal_format.h"

#include <QByteArray>
#include <QDir>
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

// The journal's preamble; the records below fill its columns in order.
std::string journal_preamble()
{
    std::string text(journal_format::byte_order_mark);
    for (const journal_format::ColumnSpec &column : journal_format::columns)
        text.append(column.name).push_back(',');
    text.back() = '\r';
    return text + '\n';
}
const char sound_sha[] = "3f0a9c41d2b7e8a5c6f1e0d9b8a7c6f5e4d3c2b1a0f9e8d7c6b5a4f3e2d1c0b9";
const char firmware_sha[] = "a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f90";
namespace detail_text = journal_format::detail_text;
const std::string details[] = {std::string(detail_text::no_reply), std::string(detail_text::no_acknowledgement),
                               std::string(detail_text::transfer_error) + "-4", std::string(detail_text::unplugged),
                               std::string(detail_text::transfer_error) + "-1"};

// "2026-12-06T06:00:00.000+08:00" for a millisecond count from that time;
// the bench stays within December.
void append_time(std::string *out, long long ms)
{
    const long long hours = 6 + ms / 3600000;
    char text[64];
    std::snprintf(text, sizeof text, "2026-12-%02lldT%02lld:%02lld:%02lld.%03lld+08:00", 6 + hours / 24, hours % 24,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    out->append(text);
}

// One station's journal: `count` records of the modules that pass through
// its hub, each queried, then sent the audio image (retested after a
// failure), every fifth upgraded as well.
bool write_station(const QString &path, long long count, int station, std::mt19937 *random)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    std::string out = journal_preamble();
    long long written = 0, clock_ms = 0;
    int module = 0;
    std::uniform_int_distribution<int> percent(0, 99), detail(0, 4), jitter(0, 4000);
    const auto record = [&](int port, const char *operation, bool with_image, const char *sha, bool ok,
                            const char *why, long long duration) {
        clock_ms += 1500 + jitter(*random);
        append_time(&out, clock_ms);
        char text[400];
        const bool answered = ok || std::strcmp(why, "no reply") != 0;
        std::snprintf(text, sizeof text, ",cli,ttyACM%d,%s,%s%02d%07d,%s%02d%07d,89860012345678901234,FW-2.3,%s,%s,%s,%s,%s,%lld,"
                      "%08x-0000-4000-8000-%012lld,station%d\r\n",
                      port, operation, answered ? "KV20-DN-" : "", answered ? station : 0, answered ? module : 0,
                      answered ? "8612345" : "", answered ? station : 0, answered ? module : 0,
                      with_image ? "/srv/images/sound-2026-12.img" : "", with_image ? "1048576" : "",
                      with_image ? sha : "", ok ? "ok" : "failed", ok ? "" : why, duration, unsigned(station), written,
                      station);
        // A record with no identity leaves the identity columns empty.
        std::string row = text;
        if (!answered) {
            const size_t at = row.find(",0000000000,");
            if (at != std::string::npos)
                row.replace(at, 12, ",,");
        }
        out += row;
        ++written;
        if (out.size() > (1 << 20)) {
            std::fwrite(out.data(), 1, out.size(), file);
            out.clear();
        }
    };
    while (written < count) {
        ++module;
        const int port = module % ports;
        record(port, "query", false, "", true, "", 150 + jitter(*random) / 40);
        bool ok = false;
        for (int attempt = 0; attempt < 3 && !ok && written < count; ++attempt) {
            ok = percent(*random) >= (port == 3 && station % 5 == 0 ? 25 : 6);
            record(port, "audio", true, sound_sha, ok, details[detail(*random)].c_str(), 90000 + jitter(*random) * 3);
        }
        if (module % 5 == 0 && written < count)
            record(port, "firmware", true, firmware_sha, percent(*random) >= 3, details[detail(*random)].c_str(),
                   180000 + jitter(*random) * 5);
    }
    std::fwrite(out.data(), 1, out.size(), file);
    return std::fclose(file) == 0;
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
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--records") == 0)
            sizes.push_back(std::atoll(argv[i + 1]));
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
        const double goal_s = size <= 100000 ? 0.5 : 5.0;
        const bool met = run.seconds < goal_s && (size <= 100000 || run.peak_rss_kib < 100 * 1024);
        std::printf("  %9lld  %8lld  %6d  %8.1f  %8.2f  %13.1f  %-22s  %8.2f\n", size,
                    static_cast<long long>(report.value("modules").toDouble(-1)), int(files.size()), double(bytes) / 1e6,
                    run.seconds, double(run.peak_rss_kib) / 1024.0,
                    size <= 100000 ? (met ? "< 0.5 s: met" : "< 0.5 s: MISSED") : (met ? "< 5 s, < 100 MiB: met" : "< 5 s, < 100 MiB: MISSED"),
                    page.seconds);
        if (run.status != 0 || counted != size || page.status != 0) {
            std::fprintf(stderr, "  the report exited %d and counted %lld of %lld records; with --html it exited %d\n",
                         run.status, static_cast<long long>(counted), size, page.status);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
