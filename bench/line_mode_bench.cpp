// A shift in line mode as a production line runs it: one `kv20-cli watch
// audio IMAGE --json` throughout, a hub of N slots all plugged in at once,
// paced simulated modules (115200 8N1) plugged in and out, each writing
// the device-change events udev would deliver to the FIFO itself. A slot
// unplugs its module once its result is out and plugs the next one 0.5 s
// later; every tenth module is pulled out after a few blocks (the next one
// is a fresh module, an arrival of its own), and a fifth of the modules
// restart after their download, coming back under the same port name as
// modules do to apply an image: line mode must tell them by their identity
// and not download to them again. Prints figures, not verdicts; exits 1 when
// a module was missed or downloaded to twice, the journal or kv20-cli's
// summary does not count the modules served, or the shift broke off.
// KV20_BENCH_VERBOSE=1 traces the shift.
//
//   kv20-bench-line-mode [--slots N] [--arrivals N]   (default 4 slots, 200 arrivals: about 6 minutes)
#include "bench/bench_process.h"
#include "journal/operation_record.h"
#include "tests/support/csv_reader.h"
#include "tests/support/module_sim_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int image_size = 64 * 1024, replug_gap_ms = 500, blocks_before_pull = 3, restart_ms = 1000;
constexpr double line_limit = 11520.0 * 1024 / 1029;  // XMODEM-1K payload at 115200 8N1
// A module without a result by then is unplugged, so line mode cannot stall the shift.
constexpr int result_timeout_ms = 60000;

// One plug-in: a simulator of its own in a slot.
struct Module
{
    std::unique_ptr<ModuleSimProcess> sim;
    int number = 0, slot = 0;
    bool pull_mid_transfer = false, restarts = false;
    QString port;            // pts/N, once the simulator has said it
    double added_s = -1;     // when its device appeared, by its own (monotonic) clock
    double latency_ms = -1;  // from then to its reading its first AT command
    int downloads = 0, blocks = 0;               // AT+XUPDATE commands, blocks taken
    double first_block_s = 0, last_block_s = 0;  // by the simulator's clock
    bool plug_pending = false, unplugging = false, gone = false, has_result = false, ok = false, already_done = false;
    QString detail;
    QByteArray log;  // an incomplete last line
};

class Shift
{
public:
    Shift(int hub, int arrivals) : hub_slots(hub), arrivals(arrivals) {}
    // True when the shift ran to its end and kv20-cli ended on the interrupt.
    bool run();
    // Prints the figures; true when no module was missed or served twice.
    bool report(bool completed);

private:
    // Simulators are started ahead as spares and plugged in with a signal: a
    // module plugged in costs the host nothing but its enumeration, and a
    // hub of them plugged in at once must not be a hub of programs starting.
    void launch_spare()
    {
        modules.push_back(std::make_unique<Module>());
        Module *m = modules.back().get();
        m->number = int(modules.size());
        m->pull_mid_transfer = m->number % 10 == 0;
        m->restarts = m->number % 5 == 3;
        QStringList args {"--pace", "--plug-in-on-signal", "--device-tree=" + dir.filePath("sys")};
        if (m->restarts)
            args << QStringLiteral("--restart-after-download=%1").arg(restart_ms);
        m->sim = std::make_unique<ModuleSimProcess>(args);
        QProcess &p = m->sim->process();
        // A module announces its own coming and going, as udev would.
        p.setProcessEnvironment(environment());
        QObject::connect(&p, &QProcess::readyReadStandardOutput, [this, m] { on_sim_output(m); });
        QObject::connect(&p, &QProcess::readyReadStandardError, [this, m] { on_sim_log(m); });
        QObject::connect(&p, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), [this, m] { on_gone(m); });
        m->sim->launch();
        spares.push_back(m);
    }

    void plug(int slot)
    {
        Module *m = spares.front();
        spares.pop_front();
        m->slot = slot;
        m->plug_pending = true;
        on_sim_output(m);
        if (int(modules.size()) < arrivals)
            launch_spare();
        QTimer::singleShot(result_timeout_ms, &cli, [this, m] {
            if (!m->unplugging)
                unplug(m);
        });
    }

    void on_sim_output(Module *m)
    {
        QProcess &p = m->sim->process();
        if (m->port.isEmpty() && p.canReadLine())
            m->port = QString::fromLocal8Bit(p.readLine()).trimmed().mid(5);
        if (m->plug_pending && !m->port.isEmpty()) {
            m->plug_pending = false;
            ::kill(pid_t(p.processId()), SIGUSR2);
        }
    }

    void on_sim_log(Module *m)
    {
        m->log += m->sim->process().readAllStandardError();
        for (int end; (end = m->log.indexOf('\n')) >= 0; m->log.remove(0, end + 1)) {
            const QByteArray line = m->log.left(end);
            trace(QStringLiteral("module %1: %2").arg(m->number).arg(QString::fromUtf8(line)));
            // By the module's own clock: how soon this process reads the
            // module's log does not count.
            if (m->added_s < 0 && line.contains(" module ready on "))
                m->added_s = log_time(line);
            if (line.contains("] command ")) {
                if (m->latency_ms < 0 && m->added_s >= 0) {
                    m->latency_ms = 1000 * (log_time(line) - m->added_s);
                    trace(QStringLiteral("module %1: first command %2 ms after its arrival").arg(m->number).arg(m->latency_ms));
                }
                m->downloads += line.contains("] command AT+XUPDATE ") ? 1 : 0;
            } else if (line.contains("] block ") && line.endsWith(": ok, ACK")) {
                const double t = log_time(line);
                m->first_block_s = m->blocks++ == 0 ? t : m->first_block_s;
                m->last_block_s = t;
                if (m->pull_mid_transfer && m->blocks == blocks_before_pull && !m->unplugging)
                    unplug(m);
            }
        }
    }

    // The simulator removes its device from the tree as it exits.
    void unplug(Module *m)
    {
        m->unplugging = true;
        m->sim->process().terminate();
    }

    void on_gone(Module *m)
    {
        on_sim_log(m);
        m->gone = true;
        trace(QStringLiteral("module %1 in slot %2 gone").arg(m->number).arg(m->slot));
        if (planned < arrivals && !ending) {
            ++planned;
            QTimer::singleShot(replug_gap_ms, Qt::PreciseTimer, &cli, [this, slot = m->slot] { plug(slot); });
        }
        maybe_end();
    }

    void trace(const QString &what)
    {
        static const bool on = qEnvironmentVariableIsSet("KV20_BENCH_VERBOSE");
        if (on)
            std::fprintf(stderr, "%9.3f %s\n", double(clock.nsecsElapsed()) / 1e9, qPrintable(what));
    }


    void on_cli_output()
    {
        cli_pending += cli.readAllStandardOutput();
        for (int end; (end = cli_pending.indexOf('\n')) >= 0; cli_pending.remove(0, end + 1)) {
            const QJsonObject event = QJsonDocument::fromJson(cli_pending.left(end)).object();
            if (event["event"] != "progress")
                trace(QString::fromUtf8(cli_pending.left(end)));
            if (event["event"] == "result")
                on_result(event);
            else if (event["event"] == "summary")
                summary = event;
        }
    }

    void on_result(const QJsonObject &event)
    {
        results << event;
        served_ms += event["duration_ms"].toDouble();
        // Port names come back with later modules: a result goes to a module
        // on its port still waiting for one, "unplugged" preferably to one
        // pulled out. A result for a module served already is a double run;
        // one for a port no module had, a port line mode made up.
        Module *m = nullptr;
        bool known_port = false;
        for (auto &c : modules) {
            known_port = known_port || c->port == event["port"].toString();
            if (c->port != event["port"].toString() || c->has_result)
                continue;
            m = m ? m : c.get();
            if ((c->pull_mid_transfer && c->unplugging) == (event["detail"] == journal_text(journal_format::detail_text::unplugged))) {
                m = c.get();
                break;
            }
        }
        if (!m) {
            ++(known_port ? extra_results : phantom_results);
            return;
        }
        m->already_done = m->already_done || event["already_done"].toBool();
        if (!m->already_done) {
            m->ok = event["result"] == journal_text(journal_format::result_ok);
            m->detail = event["detail"].toString();
        }
        // A module restarting after its download has its last word once it
        // is back: already done, or (wrongly) served again.
        if (m->restarts && m->ok && !m->already_done && !m->unplugging && m->downloads < 2)
            return;
        m->has_result = true;
        if (!m->unplugging)
            unplug(m);
        maybe_end();
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KV20_SYSFS_ROOT", dir.filePath("sys"));
        env.insert("KV20_DEVICE_EVENT_FIFO", dir.filePath("events"));
        env.insert("KV20_SIM_LOG_CLOCK", "monotonic");
        return env;
    }

    // The shift ends once every module has gone and has its result, or has
    // had 5 s more for it.
    void maybe_end()
    {
        const auto gone = [](const std::unique_ptr<Module> &m) { return m->gone; };
        const auto waiting = [](const std::unique_ptr<Module> &m) { return !m->has_result; };
        if (ending || int(modules.size()) < arrivals || !std::all_of(modules.cbegin(), modules.cend(), gone))
            return;
        QTimer::singleShot(std::any_of(modules.cbegin(), modules.cend(), waiting) ? 5000 : 0, &cli, [this] {
            if (ending)
                return;
            ending = true;
            at_end = proc_figures(cli.processId());
            ::kill(pid_t(cli.processId()), SIGINT);
            QTimer::singleShot(15000, &cli, [this] { cli.kill(); });
        });
    }

    const int hub_slots, arrivals;
    QTemporaryDir dir;
    QProcess cli;
    QElapsedTimer clock;
    QByteArray load_at_start;
    int planned = 0;  // modules plugged in or about to be
    std::vector<std::unique_ptr<Module>> modules;
    std::deque<Module *> spares;  // started, not plugged in yet
    QByteArray cli_pending;
    QList<QJsonObject> results;
    QJsonObject summary;
    int extra_results = 0, phantom_results = 0;
    double served_ms = 0;
    ProcFigures at_start, at_end;
    bool ending = false;
};

bool Shift::run()
{
    clock.start();
    QByteArray image(image_size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(image.data()), image_size / 4);
    const QByteArray fifo_path = QFile::encodeName(dir.filePath("events"));
    QFile file(dir.filePath("image.bin"));
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image_size || !file.flush()
        || mkfifo(fifo_path.constData(), 0600) != 0) {
        std::fprintf(stderr, "cannot prepare %s\n", qPrintable(dir.path()));
        return false;
    }
    // Two hubs' worth of spares, all ready before the shift.
    for (int i = 0; i < std::min(arrivals, 2 * hub_slots); ++i)
        launch_spare();
    for (Module *m : spares) {
        while (m->port.isEmpty() && m->sim->process().waitForReadyRead(5000))
            on_sim_output(m);
    }
    // The shift starts once kv20-cli has opened the FIFO: no event is lost,
    // and none waits for its start-up.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(watch, fifo_path.constData(), IN_OPEN);
    QSocketNotifier opened(watch, QSocketNotifier::Read);
    QObject::connect(&opened, &QSocketNotifier::activated, [&] {
        opened.setEnabled(false);
        at_start = proc_figures(cli.processId());
        for (; planned < hub_slots && planned < arrivals; ++planned)
            plug(planned);
    });
    cli.setProcessEnvironment(environment());
    cli.setWorkingDirectory(dir.path());
    cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&cli, &QProcess::readyReadStandardOutput, [this] { on_cli_output(); });
    QObject::connect(&cli, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &QCoreApplication::quit);
    load_at_start = read_all("/proc/loadavg").split(' ').first();
    cli.start(QStringLiteral(KV20_BIN_DIR "/kv20-cli"), {"watch", "audio", file.fileName(), "--json"});
    QCoreApplication::exec();
    close(watch);
    on_cli_output();
    return ending && cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 130;
}

bool Shift::report(bool completed)
{
    int ok = 0, already = 0, missed = 0, doubled = extra_results, no_download = 0, pulled = 0, pulled_unplugged = 0;
    int restarting = 0;
    std::vector<double> latencies, rates;
    for (const QJsonObject &r : qAsConst(results)) {
        already += r["already_done"].toBool() ? 1 : 0;
        ok += r["result"] == journal_text(journal_format::result_ok) && !r["already_done"].toBool() ? 1 : 0;
    }
    const int served = results.size() - already;
    for (auto &m : modules) {
        missed += m->has_result ? 0 : 1;
        doubled += m->downloads > 1 ? 1 : 0;
        no_download += m->downloads == 0 ? 1 : 0;
        pulled += m->pull_mid_transfer ? 1 : 0;
        pulled_unplugged += m->pull_mid_transfer && m->detail == journal_text(journal_format::detail_text::unplugged) ? 1 : 0;
        restarting += m->restarts ? 1 : 0;
        if (m->latency_ms >= 0)
            latencies.push_back(m->latency_ms);
        // The line carried every block after the first between their log lines.
        if (m->ok && m->blocks > 1 && m->last_block_s > m->first_block_s)
            rates.push_back(100.0 * (m->blocks - 1) * 1024 / (m->last_block_s - m->first_block_s) / line_limit);
    }
    const int records = std::max(0, read_csv(read_all(dir.filePath(journal_text(journal_format::file_name)))).size() - 1);
    const double module_hours = served_ms / 3600000.0;
    std::printf("line-mode shift: %d arrivals on %d hub slots plugged in at once, %d KiB image, paced 115200 8N1, "
                "every tenth module pulled out after %d blocks, %d restarting %d ms after their download\n",
                arrivals, hub_slots, image_size / 1024, blocks_before_pull, restarting, restart_ms);
    const ProcFigures own = proc_figures(QCoreApplication::applicationPid());
    std::printf("  shift                     : %.1f s%s, kv20-cli exit %d; load average %s at the start, %s at "
                "the end; this benchmark's own CPU time %.2f s\n", double(clock.elapsed()) / 1000,
                completed ? "" : " (broken off)", cli.exitCode(), load_at_start.constData(),
                read_all("/proc/loadavg").split(' ').first().constData(), own.cpu_s);
    std::printf("  served / ok / failed / already done : %d / %d / %d / %d   (journal: %d records; kv20-cli's "
                "summary: %d / %d / %d / %d; %d pulled out, %d recorded as unplugged)\n", served, ok, served - ok,
                already, records, summary["served"].toInt(), summary["ok"].toInt(), summary["failed"].toInt(),
                summary["already_done"].toInt(), pulled, pulled_unplugged);
    std::printf("  double downloads, missed  : %d, %d   (goal 0, 0, restarts counted; %d modules got no download "
                "command, %d results for ports no module had)\n", doubled, missed, no_download, phantom_results);
    std::printf("  arrival to first command  : median %.1f ms, p99 %.1f ms, worst %.1f ms, of %zu   (goal: p99 "
                "under 100 ms)\n", percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1),
                latencies.size());
    std::printf("  payload rate / 11,464 B/s : min %.2f%%, median %.2f%%, of %zu transfers\n",
                percentile(rates, 0), percentile(rates, 0.5), rates.size());
    std::printf("  kv20-cli RSS, descriptors : %ld KiB, %d before the first module; %ld KiB, %d once the last "
                "had gone   (goal: flat)\n", at_start.rss_kib, at_start.fds, at_end.rss_kib, at_end.fds);
    std::printf("  kv20-cli CPU time         : %.2f s; %.1f s per module-hour (%.3f h of modules served), "
                "%.1f ms per module\n", at_end.cpu_s, module_hours > 0 ? at_end.cpu_s / module_hours : 0,
                module_hours, results.isEmpty() ? 0 : 1000 * at_end.cpu_s / results.size());
    const bool counted = records == served && summary["served"].toInt() == served && summary["ok"].toInt() == ok
                         && summary["already_done"].toInt() == already;
    if (!counted)
        std::fprintf(stderr, "the journal or kv20-cli's summary does not count the %d modules served\n", served);
    return doubled == 0 && missed == 0 && counted;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int hub = 4, arrivals = 200;
    bool usable = args.size() % 2 == 0;
    for (; usable && !args.isEmpty(); args = args.mid(2)) {
        int &target = args.at(0) == "--slots" ? hub : arrivals;
        usable = (args.at(0) == "--slots" || args.at(0) == "--arrivals") && (target = args.at(1).toInt()) > 0;
    }
    if (!usable) {
        std::fprintf(stderr, "usage: kv20-bench-line-mode [--slots N] [--arrivals N]\n");
        return 2;
    }
    Shift shift(hub, std::max(arrivals, hub));
    const bool completed = shift.run();
    return shift.report(completed) && completed ? 0 : 1;
}
