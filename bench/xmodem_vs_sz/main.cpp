// Times xmodem_transmit against lrzsz's own XMODEM-1K sender: the same
// random image goes to the same receiver (rz --xmodem -c) over ptys joined
// by a relay, unpaced, once with each sender. Prints both times and their
// ratio. Both times run from the start of rz until both ends are done, so
// both include rz's pause of about 1 s before it answers the EOT.
//
// rz flushes its input right after each ACK. A sender whose next frame is on
// the way within microseconds of that ACK can lose it to the flush and then
// waits for rz to time out (5 s + 1 s) and NAK; this transmitter resends on
// its own after 500 ms instead. Resends are counted and printed, and the
// fastest round is shown beside the median, so such stalls are visible
// rather than hidden in one number.

#include "tests/support/pty_pair.h"
#include "bench/xmodem_vs_sz/pty_peer.h"
#include "worker/serial_link.h"
#include "interfaces/worker_reports.h"
#include "xmodem/xmodem_transmitter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <vector>

namespace {

class QuietReports : public WorkerReports
{
public:
    void report_progress(int) override {}
    void report_progress_max(int) override {}
    void report_debug(const QString &) override {}
    void report_status(const QString &, bool) override {}
    void report_mac_text(const QString &, quint8) override {}
};

std::atomic<int> transmitter_resends {0};

// The per-block trace lines would measure the terminal, not the transfer;
// only the resends are counted.
void drop_debug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
    else if (message.startsWith(QLatin1String("Retry for")))
        ++transmitter_resends;
}

struct Outcome {
    double seconds = 0;
    bool sender_ok = false;
    bool received_ok = false;
    int resends = 0;
    QString note;
};

QStringList rz_args(const QString &file)
{
    return {QStringLiteral("--xmodem"), QStringLiteral("-c"), QStringLiteral("-q"), file};
}

bool received_matches(const QString &path, const QByteArray &image)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray got = file.readAll();
    if (got.size() < image.size() || got.left(image.size()) != image)
        return false;
    for (int i = image.size(); i < got.size(); ++i)
        if (got.at(i) != xmodem::PAD)
            return false;
    return true;
}

Outcome time_transmitter(const QByteArray &image, const QString &rz, const QString &dir)
{
    Outcome outcome;
    PtyPair line;
    PtyProcess receiver;
    PtyRelay relay({{line.master(), receiver.input_fd()}, {receiver.output_fd(), line.master()}});

    transmitter_resends = 0;
    std::promise<bool> opened;
    std::atomic<int> result {1};
    QuietReports reports;
    const std::atomic<quint8> block_mode {0};
    QThread *thread = QThread::create([&] {
        SerialLink link;
        const bool ok = link.open(line.slave_path());
        opened.set_value(ok);
        if (ok)
            result = xmodem_transmit(link, reports, image.constData(), image.size(), 0, block_mode);
    });
    thread->start();
    if (!opened.get_future().get()) {
        thread->wait();
        delete thread;
        outcome.note = QStringLiteral("pty could not be opened");
        return outcome;
    }

    QElapsedTimer timer;
    timer.start();
    if (!receiver.start(rz, rz_args(QStringLiteral("from_transmitter.bin")), dir))
        outcome.note = QStringLiteral("rz did not start");
    thread->wait();  // ends by its own time-outs should rz be missing
    receiver.wait_finished(30000);
    outcome.seconds = timer.elapsed() / 1000.0;
    delete thread;
    relay.stop();

    outcome.resends = transmitter_resends;
    outcome.sender_ok = result == xmodem::ok;
    if (!outcome.sender_ok)
        outcome.note += QStringLiteral(" result %1").arg(result.load());
    outcome.received_ok = receiver.exit_code() == 0
        && received_matches(dir + QStringLiteral("/from_transmitter.bin"), image);
    return outcome;
}

Outcome time_sz(const QByteArray &image, const QString &image_file, const QString &rz, const QString &sz,
                const QString &dir)
{
    Outcome outcome;
    PtyProcess sender;
    PtyProcess receiver;
    PtyRelay relay({{sender.output_fd(), receiver.input_fd()}, {receiver.output_fd(), sender.input_fd()}});

    // sz waits for the receiver's request, so starting it first costs nothing.
    if (!sender.start(sz, {QStringLiteral("--xmodem"), QStringLiteral("--1k"), QStringLiteral("-q"), image_file},
                      dir)) {
        outcome.note = QStringLiteral("sz did not start");
        return outcome;
    }
    QElapsedTimer timer;
    timer.start();
    if (!receiver.start(rz, rz_args(QStringLiteral("from_sz.bin")), dir))
        outcome.note = QStringLiteral("rz did not start");
    sender.wait_finished(600000);
    receiver.wait_finished(30000);
    outcome.seconds = timer.elapsed() / 1000.0;
    relay.stop();

    outcome.resends = int(relay.count(1, xmodem::NAK));  // sz resends on each NAK of rz
    outcome.sender_ok = sender.exit_code() == 0;
    if (!outcome.sender_ok)
        outcome.note += QStringLiteral(" sz: ") + sender.stderr_text().trimmed();
    outcome.received_ok = receiver.exit_code() == 0 && received_matches(dir + QStringLiteral("/from_sz.bin"), image);
    return outcome;
}

void print_line(const char *name, const Outcome &o, int size)
{
    std::printf("%-18s %8.3f s %8.1f KiB/s  resends %d  sender %s, received file %s%s%s\n", name, o.seconds,
                o.seconds > 0 ? size / 1024.0 / o.seconds : 0.0, o.resends, o.sender_ok ? "ok" : "FAILED",
                o.received_ok ? "ok" : "WRONG", o.note.isEmpty() ? "" : "  ", qPrintable(o.note.trimmed()));
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(drop_debug);

    // Arguments: [image size in bytes] [rounds]; the machine may be shared,
    // so each sender runs several rounds, alternating, and the medians count.
    const int size = argc > 1 ? QByteArray(argv[1]).toInt() : 4 * 1024 * 1024;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    if (size <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: %s [image size in bytes, default 4 MiB] [rounds, default 3]\n", argv[0]);
        return 2;
    }
    const QString rz = PtyProcess::find(QStringLiteral("rz"));
    const QString sz = PtyProcess::find(QStringLiteral("sz"));
    if (rz.isEmpty() || sz.isEmpty()) {
        std::fprintf(stderr, "lrzsz (rz and sz) is needed for this comparison\n");
        return 1;
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    QByteArray image(size, '\0');
    QRandomGenerator gen(4711);
    for (char &c : image)
        c = static_cast<char>(gen.bounded(256));
    QFile file(dir.filePath(QStringLiteral("image.bin")));
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return 1;
    file.close();

    std::printf("image: %d random bytes; receiver: rz --xmodem -c over ptys joined by a relay; unpaced;"
                " %d rounds\n", size, rounds);
    std::fflush(stdout);
    bool all_ok = true;
    std::vector<double> ours_s, theirs_s;
    for (int round = 1; round <= rounds; ++round) {
        const Outcome ours = time_transmitter(image, rz, dir.path());
        print_line("xmodem_transmit", ours, size);
        std::fflush(stdout);
        const Outcome theirs = time_sz(image, dir.filePath(QStringLiteral("image.bin")), rz, sz, dir.path());
        print_line("sz --xmodem --1k", theirs, size);
        std::fflush(stdout);
        all_ok = all_ok && ours.sender_ok && ours.received_ok && theirs.sender_ok && theirs.received_ok;
        ours_s.push_back(ours.seconds);
        theirs_s.push_back(theirs.seconds);
    }
    const double ours_median = median(ours_s);
    const double theirs_median = median(theirs_s);
    const double ours_best = *std::min_element(ours_s.begin(), ours_s.end());
    const double theirs_best = *std::min_element(theirs_s.begin(), theirs_s.end());
    std::printf("median: xmodem_transmit %.3f s, sz %.3f s, ratio xmodem_transmit / sz %.2f\n", ours_median,
                theirs_median, theirs_median > 0 ? ours_median / theirs_median : 0.0);
    std::printf("best:   xmodem_transmit %.3f s, sz %.3f s, ratio xmodem_transmit / sz %.2f\n", ours_best,
                theirs_best, theirs_best > 0 ? ours_best / theirs_best : 0.0);
    return all_ok ? 0 : 1;
}
