// The station window with a hub of modules plugged in at once: N paced
// simulated modules (115200 8N1) in N named slots of one fabricated USB tree,
// all plugged in with one signal each, a fifth restarting after their
// download as modules do to apply an image. The station runs in a process of
// its own (this program with --station-process), the real window on the
// display at hand (run under xvfb-run; without DISPLAY it is offscreen), so
// that its CPU time and RSS are its own and a 5 ms timer in its event loop
// tells how long the window's thread is kept from its events. Prints figures,
// not verdicts; exits 1 when a module was missed or downloaded to twice, the
// station's journal does not hold a record of every module served, or the
// station did not end as it should.
// KV20_BENCH_VERBOSE=1 traces the run.
//
//   xvfb-run -s "-screen 0 1366x768x24" kv20-bench-station [--modules N] [--image-kib N] [--waves N]
//   xvfb-run -s "-screen 0 1366x768x24" kv20-bench-station --screenshot FILE.png [--chinese]
//   xvfb-run -s "-screen 0 1366x768x24" kv20-bench-station --close-dropping N
//   xvfb-run -s "-screen 0 1366x768x24" kv20-bench-station --report-behind N
//
// --screenshot: 16 slots at 1366x768 in mixed states (passed, failed,
// already done, downloading, waiting), saved once the finished ones are;
// in English unless --chinese.
// --close-dropping N: the station with a [database] url whose host drops
// every packet (its upload inside a connect), one module served, then its
// window closed as the operator closes it: the time from the close to the
// process's end, N times (goal: under 2 s, every run).
// --report-behind N: the Shift report button pressed with a journal of N
// records behind it: how long the page takes, and how late the window's
// events are meanwhile (goal: p99 under 16 ms while the report is made).
// --labels: the recipe prints a label for every pass, as its module leaves
// its slot, to a ZPL printer simulated here (every module restarting after
// its download, as real ones do); once every module has its result all are
// pulled out at once: the time from each module's removal to its label job
// at the printer (goal: p99 under 300 ms), and the event-loop stall with
// labels on.
// --waves N: once every module of a wave has its last result, each slot's
// module is pulled out and a fresh one (a new identity) plugged in, N waves
// in all, so that the station's RSS after each wave tells whether it stays
// flat over a shift.
#include "bench/bench_process.h"
#include "journal/operation_record.h"
#include "line/line_mode.h"
#include "station/station.h"
#include "station/station_window.h"
#include "tests/support/black_hole.h"
#include "tests/support/module_sim_process.h"
#include "tests/support/zpl_printer_sim.h"

#include <QApplication>
#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>
#include <QScreen>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <numeric>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int restart_ms = 1000, stall_timer_ms = 5;
constexpr double line_limit = 11520.0 * 1024 / 1029;  // XMODEM-1K payload at 115200 8N1

void emit_line(const QJsonObject &event)
{
    std::printf("%s\n", QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// --- The station's process -------------------------------------------------

// Tells the driving process each result as line mode hands it to the window.
class ReportingView : public LineModeView
{
public:
    explicit ReportingView(StationWindow *window) : window(window) {}
    void arrival(int id, const QString &port, const QString &slot, const QString &operation) override
    {
        window->arrival(id, port, slot, operation);
    }
    void progress(int id, qint64 bytes, qint64 total) override { window->progress(id, bytes, total); }
    void finished(int id, const OperationRecord &r, bool already_done, const JournalOutcome &kept) override
    {
        window->finished(id, r, already_done, kept);
        emit_line({{"event", "result"}, {"slot", r.slot}, {"ok", r.ok}, {"detail", detail_of(r)},
                   {"already_done", already_done}, {"duration_ms", double(r.duration_ms)}});
    }
    void departure(int id) override { window->departure(id); }
    void notice(const QString &line) override { window->notice(line); }
    void counts(const LineCounts &counts) override { window->counts(counts); }
    void backlog(const BackgroundUpload::State &state) override { window->backlog(state); }

private:
    StationWindow *window;
};

// Where the station hands its Shift report page to the desktop: said on
// standard output instead.
class PageOpened : public QObject
{
    Q_OBJECT

public slots:
    void open_url(const QUrl &url) { emit_line({{"event", "report"}, {"page", url.toLocalFile()}}); }
};

// What the screen shows (the operator's view: a window wider than the
// screen is cut), and the whole window beside it as FILE-window.png.
QJsonObject save_shot(QWidget *window, const QString &path)
{
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const bool saved = (screen.isNull() ? window->grab() : screen).save(path);
    QString whole = path;
    whole.insert(path.endsWith(".png") ? path.size() - 4 : path.size(), "-window");
    return {{"event", "shot"}, {"saved", saved && window->grab().save(whole)}, {"window_width", window->width()},
            {"window_height", window->height()}, {"screen_width", screen.width()}, {"screen_height", screen.height()}};
}

// Serves the recipe in the working directory until "end" on stdin; "shot
// FILE" saves the window as it is.
int station_process(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTranslator english;
    if (!app.arguments().contains("--chinese") && english.load(QStringLiteral(KV20_BIN_DIR "/qt_en")))
        app.installTranslator(&english);
    QString error;
    std::unique_ptr<Station> station = Station::open(QStringLiteral("station.ini"), &error);
    if (!station) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    // The event loop's lateness: a timer armed anew each time it fires, so
    // that a late one does not make the next look early.
    std::vector<double> late_ms;
    QElapsedTimer armed;
    QTimer stall;
    stall.setSingleShot(true);
    stall.setTimerType(Qt::PreciseTimer);
    QElapsedTimer since_start;
    std::vector<double> late_at_s;  // from the window's start: to tell which burst of events kept it
    QObject::connect(&stall, &QTimer::timeout, [&] {
        late_ms.push_back(double(armed.nsecsElapsed()) / 1e6 - stall_timer_ms);
        late_at_s.push_back(double(since_start.nsecsElapsed()) / 1e9);
        armed.start();
        stall.start(stall_timer_ms);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[512];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        pending += QByteArray(buffer, int(qMax<ssize_t>(n, 0)));
        bool ending = n <= 0;
        for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray command = pending.left(end);
            ending = ending || command == "end";
            if (command.startsWith("shot "))
                emit_line(save_shot(station->window(), QString::fromLocal8Bit(command.mid(5))));
            // As the operator closes it: the window asks nothing with no
            // module being served, and the process ends once it is gone.
            if (command == "close")
                station->window()->close();
            // The lateness from the press on: what the report costs the window.
            if (command == "report") {
                late_ms.clear();
                late_at_s.clear();
                station->window()->findChild<QPushButton *>()->click();
            }
        }
        if (!ending)
            return;
        input.setEnabled(false);
        stall.stop();
        std::vector<size_t> worst(late_ms.size());
        std::iota(worst.begin(), worst.end(), 0);
        std::sort(worst.begin(), worst.end(), [&](size_t a, size_t b) { return late_ms[a] > late_ms[b]; });
        QString longest;
        for (size_t i = 0; i < std::min<size_t>(5, worst.size()); ++i)
            longest += QStringLiteral("%1%2 ms at %3 s").arg(i ? ", " : "").arg(late_ms[worst[i]], 0, 'f', 1).arg(late_at_s[worst[i]], 0, 'f', 2);
        emit_line({{"event", "stall"}, {"samples", int(late_ms.size())}, {"median", percentile(late_ms, 0.5)},
                   {"p99", percentile(late_ms, 0.99)}, {"max", percentile(late_ms, 1)}, {"longest", longest}});
        QObject::connect(station->line(), &LineMode::finished, &app, &QCoreApplication::quit);
        station->line()->stop();
    });
    PageOpened pages;
    QDesktopServices::setUrlHandler("file", &pages, "open_url");
    ReportingView view(station->window());
    station->start(&view);
    // As an operator's scan would: the modules are served from now on.
    station->line()->set_operator(QStringLiteral("bench"));
    station->window()->resize(1366, 768);
    emit_line({{"event", "ready"}, {"platform", QGuiApplication::platformName()}});
    since_start.start();
    armed.start();
    stall.start(stall_timer_ms);
    const int status = app.exec();
    // Line mode's last words go to the view, which goes before the station otherwise.
    station.reset();
    return status;
}

// --- The driving process ---------------------------------------------------

struct Module
{
    std::unique_ptr<ModuleSimProcess> sim;
    QString slot;
    int wave = 0;
    bool restarts = false, ends_unfinished = false;  // the latter: still downloading at a screenshot
    int downloads = 0, blocks = 0;
    double first_block_s = 0, last_block_s = 0;
    QList<QJsonObject> results;
    QByteArray log;
    QMetaObject::Connection logging;

    // Its last word: a restarting module is done once it is back and heard nothing.
    bool done() const
    {
        if (results.isEmpty())
            return false;
        const QJsonObject &last = results.last();
        return !restarts || !last["ok"].toBool() || last["already_done"].toBool() || downloads > 1;
    }
};

class Run
{
public:
    Run(int slot_count, int image_kib, int waves, const QString &screenshot, bool chinese, bool labels)
        : slot_count(slot_count), image_kib(image_kib), waves(waves), screenshot(screenshot), chinese(chinese),
          labels(labels) {}
    bool run();
    bool report();

private:
    QString slot_name(int i) const { return QChar('A' + i / 4) + QString::number(i % 4 + 1); }
    QString chain(int i) const { return QStringLiteral("1-1.%1.%2").arg(i / 4 + 1).arg(i % 4 + 1); }

    // The screenshot's mix: slots 0-5 pass, 6-7 restart (already done),
    // 8 is cancelled by the module and 9 pulled out (fail), 10-12 run on
    // slower lines (downloading), 13-15 stay empty (waiting).
    QStringList sim_args(int i, Module *m)
    {
        QStringList args {"--plug-in-on-signal", "--device-tree=" + dir.filePath("sys"), "--usb-port=" + chain(i),
                          QStringLiteral("--devno=BENCH-%1-%2").arg(wave).arg(i)};
        m->restarts = labels || (screenshot.isEmpty() ? i % 5 == 2 : i == 6 || i == 7);
        if (m->restarts)
            args << QStringLiteral("--restart-after-download=%1").arg(restart_ms);
        if (screenshot.isEmpty() || i < 10) {
            args << "--pace";
        } else {
            args << QStringLiteral("--pace=%1").arg(QList<int> {9600, 19200, 38400}.at(i - 10));
            m->ends_unfinished = true;
        }
        if (!screenshot.isEmpty() && i == 8)
            args << "--cancel-block=4";
        if (!screenshot.isEmpty() && i == 9)
            args << "--unplug-block=6";
        return args;
    }

    int modules_plugged() const { return screenshot.isEmpty() ? slot_count : 13; }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KV20_SYSFS_ROOT", dir.filePath("sys"));
        env.insert("KV20_DEVICE_EVENT_FIFO", dir.filePath("events"));
        env.insert("KV20_SIM_LOG_CLOCK", "monotonic");
        if (!env.contains("DISPLAY") && !env.contains("QT_QPA_PLATFORM"))
            env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    void trace(const QString &what)
    {
        static const bool on = qEnvironmentVariableIsSet("KV20_BENCH_VERBOSE");
        if (on)
            std::fprintf(stderr, "%9.3f %s\n", double(clock.nsecsElapsed()) / 1e9, qPrintable(what));
    }

    bool prepare();
    void on_sim_log(Module *m);
    void on_station_output();
    void maybe_end();
    void end();
    bool plug_in(int i);

    const int slot_count, image_kib, waves;
    int wave = 0;
    std::vector<long> rss_after_wave;
    const QString screenshot;
    const bool chinese;
    const bool labels;
    ZplPrinterSim printer;
    QHash<QByteArray, double> removed_s;  // by device number: when its module was pulled out
    std::vector<double> label_ms;         // removal to its job, a label each
    int label_jobs = 0, labels_twice = 0;
    QSet<QByteArray> labelled;
    bool pulled_out = false;
    QTemporaryDir dir;
    QProcess station;
    QElapsedTimer clock;
    std::vector<std::unique_ptr<Module>> modules;
    QByteArray station_pending, load_at_start;
    QJsonObject stall;
    QString platform;
    int unknown_results = 0;
    double served_ms = 0, started_s = 0, plugged_in_s = 0, first_result_s = 0;
    ProcFigures at_start, at_end;
    QJsonObject shot;
    bool ending = false, ended_once = false;
    int modules_index(const Module *m) const
    {
        for (int i = 0; i < slot_count; ++i)
            if (chain(i) == m->slot)
                return i;
        return -1;
    }
};

bool Run::prepare()
{
    QByteArray image(image_kib * 1024, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(image.data()), image.size() / 4);
    QString recipe = QStringLiteral("[recipe]\noperation=audio\nimage=image.bin\nvariant=cellular\nimage_sha256=%1\n"
                                    "target=%2\nsound=off\n[slots]\n")
                         .arg(QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()))
                         .arg(slot_count);
    for (int i = 0; i < slot_count; ++i)
        recipe += chain(i) + '=' + slot_name(i) + '\n';
    if (labels) {
        recipe += QStringLiteral("[label]\nprinter=zpl://127.0.0.1:%1\n").arg(printer.port());
        printer.on_job = [this](const QByteArray &job) {
            const int at = job.indexOf("^FDBENCH-");
            const QByteArray device = job.mid(at + 3, job.indexOf("^FS", at) - at - 3);
            ++label_jobs;
            labels_twice += labelled.contains(device) ? 1 : 0;
            labelled.insert(device);
            if (removed_s.contains(device))
                label_ms.push_back(1000 * (double(clock.nsecsElapsed()) / 1e9 - removed_s.value(device)));
            if (label_jobs >= removed_s.size() && pulled_out)
                end();
        };
    }
    QFile image_file(dir.filePath("image.bin")), recipe_file(dir.filePath("station.ini"));
    return image_file.open(QIODevice::WriteOnly) && image_file.write(image) == image.size() && image_file.flush()
           && recipe_file.open(QIODevice::WriteOnly) && recipe_file.write(recipe.toUtf8()) > 0 && recipe_file.flush()
           && mkfifo(QFile::encodeName(dir.filePath("events")).constData(), 0600) == 0;
}

void Run::on_sim_log(Module *m)
{
    m->log += m->sim->process().readAllStandardError();
    for (int end; (end = m->log.indexOf('\n')) >= 0; m->log.remove(0, end + 1)) {
        const QByteArray line = m->log.left(end);
        if (line.contains("] command AT+XUPDATE ")) {
            ++m->downloads;
            trace(QStringLiteral("%1: download command").arg(m->slot));
        } else if (line.contains("] block ") && line.endsWith(": ok, ACK")) {
            const double t = log_time(line);
            m->first_block_s = m->blocks++ == 0 ? t : m->first_block_s;
            m->last_block_s = t;
        }
    }
}

void Run::on_station_output()
{
    station_pending += station.readAllStandardOutput();
    for (int eol; (eol = station_pending.indexOf('\n')) >= 0; station_pending.remove(0, eol + 1)) {
        const QJsonObject event = QJsonDocument::fromJson(station_pending.left(eol)).object();
        trace(QString::fromUtf8(station_pending.left(eol)));
        if (event["event"] == "ready") {
            platform = event["platform"].toString();
        } else if (event["event"] == "stall") {
            stall = event;
        } else if (event["event"] == "shot") {
            shot = event;
            end();
        } else if (event["event"] == "result") {
            served_ms += event["already_done"].toBool() ? 0 : event["duration_ms"].toDouble();
            if (first_result_s == 0)
                first_result_s = double(clock.nsecsElapsed()) / 1e9 - started_s;
            Module *m = nullptr;
            for (auto &c : modules)
                m = c->slot == event["slot"].toString() && c->wave == wave ? c.get() : m;
            if (m)
                m->results << event;
            else
                ++unknown_results;
            maybe_end();
        }
    }
}

void Run::maybe_end()
{
    for (auto &m : modules)
        if (m->wave == wave && !m->ends_unfinished && !m->done())
            return;
    if (ending)
        return;
    if (wave + 1 < waves) {
        rss_after_wave.push_back(proc_figures(station.processId()).rss_kib);
        ++wave;
        for (int i = 0; i < modules_plugged(); ++i) {
            for (auto &m : modules)
                if (m->slot == chain(i) && m->sim) {
                    on_sim_log(m.get());
                    QObject::disconnect(m->logging);
                    m->sim.reset();  // pulled out
                }
            if (!plug_in(i) || ::kill(pid_t(modules.back()->sim->process().processId()), SIGUSR2) != 0)
                std::fprintf(stderr, "wave %d: slot %d not plugged in\n", wave + 1, i);
        }
        return;
    }
    ending = true;
    at_end = proc_figures(station.processId());
    if (labels) {
        // All at once, as a hub's worth of modules is taken off the bench.
        for (auto &m : modules) {
            if (!m->sim)
                continue;
            on_sim_log(m.get());
            QObject::disconnect(m->logging);
            bool passed = false;
            for (const QJsonObject &r : qAsConst(m->results))
                passed = passed || (r["ok"].toBool() && !r["already_done"].toBool());
            if (passed)
                removed_s.insert(QStringLiteral("BENCH-%1-%2").arg(m->wave).arg(modules_index(m.get())).toUtf8(),
                                 double(clock.nsecsElapsed()) / 1e9);
            m->sim.reset();
        }
        pulled_out = true;
        QTimer::singleShot(30000, &station, [this] { end(); });
        if (label_jobs >= removed_s.size())
            end();
        return;
    }
    if (screenshot.isEmpty())
        end();
    else  // the last result painted first
        QTimer::singleShot(300, &station, [this] { station.write(QFile::encodeName("shot " + screenshot) + '\n'); });
}

void Run::end()
{
    if (ended_once)
        return;
    ended_once = true;
    station.write("end\n");
    QTimer::singleShot(15000, &station, [this] { station.kill(); });
}

// A simulator for slot i, started and waiting for SIGUSR2 to appear.
bool Run::plug_in(int i)
{
    modules.push_back(std::make_unique<Module>());
    Module *m = modules.back().get();
    m->slot = chain(i);
    m->wave = wave;
    m->sim = std::make_unique<ModuleSimProcess>(sim_args(i, m));
    m->sim->process().setProcessEnvironment(environment());
    if (!m->sim->start())
        return false;
    m->logging = QObject::connect(&m->sim->process(), &QProcess::readyReadStandardError, [this, m] { on_sim_log(m); });
    return true;
}

bool Run::run()
{
    clock.start();
    if (!prepare()) {
        std::fprintf(stderr, "cannot prepare %s\n", qPrintable(dir.path()));
        return false;
    }
    // Every simulator is started ahead: plugging a hub in must not be a hub
    // of programs starting.
    for (int i = 0; i < modules_plugged(); ++i) {
        if (!plug_in(i)) {
            std::fprintf(stderr, "simulator %d did not start\n", i);
            return false;
        }
    }
    // All plugged in once the station listens for device events: none is
    // lost, and none waits for the window's start-up.
    const QByteArray fifo_path = QFile::encodeName(dir.filePath("events"));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(watch, fifo_path.constData(), IN_OPEN);
    QSocketNotifier opened(watch, QSocketNotifier::Read);
    QObject::connect(&opened, &QSocketNotifier::activated, [&] {
        opened.setEnabled(false);
        at_start = proc_figures(station.processId());
        plugged_in_s = double(clock.nsecsElapsed()) / 1e9 - started_s;
        for (auto &m : modules)
            ::kill(pid_t(m->sim->process().processId()), SIGUSR2);
        trace("all plugged in");
    });
    // A module without its result by then counts as missed.
    QTimer::singleShot(waves * (60000 + 3 * image_kib * 1024 * 1000 / int(line_limit)), &station, [this] {
        if (!ending) {
            ending = true;
            at_end = proc_figures(station.processId());
            end();
        }
    });
    station.setProcessEnvironment(environment());
    station.setWorkingDirectory(dir.path());
    // Its log as the operator's station writes it, kept out of the figures.
    station.setStandardErrorFile(dir.filePath("station.log"));
    QObject::connect(&station, &QProcess::readyReadStandardOutput, [this] { on_station_output(); });
    QObject::connect(&station, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &QCoreApplication::quit);
    load_at_start = read_all("/proc/loadavg").split(' ').first();
    started_s = double(clock.nsecsElapsed()) / 1e9;
    station.start(QCoreApplication::applicationFilePath(),
                  chinese ? QStringList {"--station-process", "--chinese"} : QStringList {"--station-process"});
    QCoreApplication::exec();
    close(watch);
    on_station_output();
    // What a simulator says as it is stopped no longer counts.
    for (auto &m : modules) {
        if (!m->sim)
            continue;
        on_sim_log(m.get());
        QObject::disconnect(m->logging);
    }
    const bool ended = station.exitStatus() == QProcess::NormalExit && station.exitCode() == 0;
    if (!ended)
        std::fprintf(stderr, "the station ended abnormally; the end of its log:\n%s\n",
                     read_all(dir.filePath("station.log")).right(2000).constData());
    return ended;
}

bool Run::report()
{
    int ok = 0, failed = 0, already = 0, missed = 0, doubled = unknown_results, restarting = 0;
    std::vector<double> rates;
    for (auto &m : modules) {
        for (const QJsonObject &r : qAsConst(m->results))
            ++(r["already_done"].toBool() ? already : r["ok"].toBool() ? ok : failed);
        missed += m->done() || m->ends_unfinished ? 0 : 1;
        doubled += m->downloads > 1 ? 1 : 0;
        restarting += m->restarts ? 1 : 0;
        // The line carried every block after the first between their log lines.
        if (m->blocks > 1 && m->last_block_s > m->first_block_s && !m->results.isEmpty() && m->results.first()["ok"].toBool())
            rates.push_back(100.0 * (m->blocks - 1) * 1024 / (m->last_block_s - m->first_block_s) / line_limit);
    }
    const double module_hours = served_ms / 3600000.0;
    std::printf("station: %zu modules plugged in (%d wave%s) at once into %d named slots, %d KiB image, %d restarting %d ms after "
                "their download; window on Qt platform \"%s\"%s\n", modules.size(), waves, waves > 1 ? "s" : "", slot_count, image_kib, restarting,
                restart_ms, qPrintable(platform), screenshot.isEmpty() ? "" : ", screenshot mode");
    std::printf("  run                       : %.1f s, station exit %d; load average %s at the start, %s at the end; "
                "this benchmark's own CPU time %.2f s\n", double(clock.elapsed()) / 1000, station.exitCode(),
                load_at_start.constData(), read_all("/proc/loadavg").split(' ').first().constData(),
                proc_figures(QCoreApplication::applicationPid()).cpu_s);
    const qint64 records = journal_records(dir.filePath(journal_text(journal_format::file_name)));
    std::printf("  ok / failed / already done: %d / %d / %d   (journal: %lld records)\n", ok, failed, already, records);
    std::printf("  double downloads, missed  : %d, %d   (goal 0, 0)\n", doubled, missed);
    std::printf("  event-loop stall (5 ms timer lateness): median %.2f ms, p99 %.2f ms, max %.2f ms, of %d   (goal: p99 "
                "under 16 ms)\n", stall["median"].toDouble(), stall["p99"].toDouble(), stall["max"].toDouble(),
                stall["samples"].toInt());
    std::printf("  longest stalls            : %s, from the window's start; modules plugged in at %.2f s, first "
                "result at %.2f s\n", qPrintable(stall["longest"].toString()), plugged_in_s, first_result_s);
    std::printf("  payload rate / 11,464 B/s : min %.2f%%, median %.2f%%, max %.2f%%, of %zu transfers   (goal: "
                "min 99%%)\n", percentile(rates, 0), percentile(rates, 0.5), percentile(rates, 1), rates.size());
    std::printf("  station RSS, descriptors  : %ld KiB, %d before the first module; %ld KiB, %d after the last "
                "result   (goal: flat)\n", at_start.rss_kib, at_start.fds, at_end.rss_kib, at_end.fds);
    if (!rss_after_wave.empty()) {
        QString after;
        for (const long kib : rss_after_wave)
            after += QString::number(kib) + " KiB, ";
        std::printf("  station RSS after each wave: %s%ld KiB\n", qPrintable(after), at_end.rss_kib);
    }
    const double cpu_s = at_end.cpu_s - at_start.cpu_s;
    std::printf("  station CPU time          : %.2f s while serving (%.2f s in all); %.1f s per module-hour (%.4f h "
                "of modules served)\n", cpu_s, at_end.cpu_s, module_hours > 0 ? cpu_s / module_hours : 0, module_hours);
    if (!screenshot.isEmpty())
        std::printf("  screenshot                : %s %s: the screen's %dx%d, the window %dx%d (whole in its -window.png)\n",
                    qPrintable(screenshot), shot["saved"].toBool() ? "saved" : "NOT saved", shot["screen_width"].toInt(),
                    shot["screen_height"].toInt(), shot["window_width"].toInt(), shot["window_height"].toInt());
    bool labels_right = true;
    if (labels) {
        labels_right = label_jobs == removed_s.size() && labels_twice == 0 && int(label_ms.size()) == label_jobs;
        std::printf("  removal to label job      : median %.1f ms, p99 %.1f ms, max %.1f ms, of %d labels for %d passes "
                    "pulled out at once, %d twice   (goal: p99 under 300 ms): %s\n",
                    percentile(label_ms, 0.5), percentile(label_ms, 0.99), percentile(label_ms, 1), label_jobs,
                    int(removed_s.size()), labels_twice, goal_verdict(labels_right, percentile(label_ms, 0.99) < 300));
    }
    return doubled == 0 && missed == 0 && records == ok + failed && labels_right;
}

// The window's close to the station's end, `runs` times, while its upload
// is inside a connect to a host that drops every packet.
bool close_while_dropping(int runs)
{
    BlackHole black_hole;
    std::vector<double> closes;
    bool ended = true;
    for (int run = 0; run < runs && black_hole.port() != 0; ++run) {
        QTemporaryDir dir;
        QFile recipe(dir.filePath("station.ini"));
        if (!recipe.open(QIODevice::WriteOnly)
            || recipe.write(QStringLiteral("[recipe]\noperation=query\n[slots]\n1-1.1=A1\n[database]\n"
                                           "url=postgresql://kv20@127.0.0.1:%1/kv20\n").arg(black_hole.port()).toUtf8()) <= 0)
            return false;
        recipe.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KV20_SYSFS_ROOT", dir.filePath("sys"));
        ModuleSimProcess module({"--usb-port=1-1.1", "--device-tree=" + dir.filePath("sys")});
        QProcess station;
        station.setProcessEnvironment(env);
        station.setWorkingDirectory(dir.path());
        if (!module.start())
            return false;
        station.start(QCoreApplication::applicationFilePath(), {"--station-process"});
        QByteArray out;
        if (!wait_for_output(station, &out, "\"result\"", 20000)) {
            std::fprintf(stderr, "no module served: %s\n", station.readAllStandardError().constData());
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        station.write("close\n");
        ended = station.waitForFinished(30000) && station.exitStatus() == QProcess::NormalExit
                && station.exitCode() == 0 && ended;
        closes.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    if (closes.empty())
        return false;
    std::sort(closes.begin(), closes.end());
    std::printf("station with [database] url, its host dropping packets: the window's close to exit over %d runs:"
                " median %.0f ms, max %.0f ms;  goal < 2000 ms every run: %s\n",
                runs, closes[closes.size() / 2], closes.back(), goal_verdict(ended, closes.back() < 2000));
    if (!ended)
        std::fprintf(stderr, "a station did not end by itself with status 0 within 30 s of its close\n");
    return ended;
}

// The Shift report over a journal of `records` records while a 5 ms timer
// measures how late the window's events are.
bool report_behind(int records)
{
    QTemporaryDir dir;
    QFile recipe(dir.filePath("station.ini")), journal(dir.filePath(journal_text(journal_format::file_name)));
    if (!recipe.open(QIODevice::WriteOnly) || recipe.write("[recipe]\noperation=query\n[slots]\n1-1.1=A1\n") <= 0
        || !journal.open(QIODevice::WriteOnly) || journal.write(Journal::header_row()) <= 0)
        return false;
    recipe.close();
    OperationRecord r;
    r.started = QDateTime(QDate(2026, 12, 7), QTime(6, 0));
    r.tool = r.station = QStringLiteral("station");
    r.operation = QStringLiteral("query");
    r.ok = true;
    r.duration_ms = 150;
    QByteArray rows;
    for (int i = 0; i < records; ++i) {
        r.port = QStringLiteral("ttyACM%1").arg(i % 16);
        r.device_number = QStringLiteral("KV20-DN-%1").arg(i, 8, 10, QLatin1Char('0'));
        r.imei_or_mac = QStringLiteral("86123%1").arg(i, 10, 10, QLatin1Char('0'));
        r.record_id = QStringLiteral("00000000-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0'));
        r.started = r.started.addMSecs(20);
        rows += Journal::record_row(r);
        if (rows.size() > (1 << 20) || i + 1 == records) {
            if (journal.write(rows) != rows.size())
                return false;
            rows.clear();
        }
    }
    journal.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KV20_SYSFS_ROOT", dir.filePath("sys"));
    QProcess station;
    station.setProcessEnvironment(env);
    station.setWorkingDirectory(dir.path());
    station.start(QCoreApplication::applicationFilePath(), {"--station-process"});
    QByteArray out;
    bool right = wait_for_output(station, &out, "\"ready\"", 20000);
    station.write("report\n");
    QElapsedTimer made;
    made.start();
    right = right && wait_for_output(station, &out, "\"report\"", 120000);
    const double made_s = double(made.nsecsElapsed()) / 1e9;
    station.write("end\n");
    right = wait_for_output(station, &out, "\"stall\"", 20000) && right;
    station.waitForFinished(15000);
    QJsonObject stall, page;
    for (const QByteArray &line : out.split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event["event"] == "stall")
            stall = event;
        else if (event["event"] == "report")
            page = event;
    }
    // The page counts every record of the journal (its figure grouped by
    // thousands).
    QFile html(page["page"].toString());
    const QRegularExpression tile("<span class=\"figure\">([^<]*)</span><span class=\"label\">records<");
    const QString counted = html.open(QIODevice::ReadOnly) ? tile.match(QString::fromUtf8(html.readAll())).captured(1) : QString();
    right = right && QString(counted).remove(QRegularExpression("[^0-9]")) == QString::number(records);
    std::printf("Shift report behind %d records: page in %.2f s; event-loop stall meanwhile (5 ms timer lateness): "
                "median %.2f ms, p99 %.2f ms, max %.2f ms, of %d;  goal p99 < 16 ms: %s\n",
                records, made_s, stall["median"].toDouble(), stall["p99"].toDouble(), stall["max"].toDouble(),
                stall["samples"].toInt(), goal_verdict(right, stall["p99"].toDouble() < 16));
    if (!right)
        std::fprintf(stderr, "the report did not come, or its page does not count %d records: %s\n", records,
                     station.readAllStandardError().constData());
    return right;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--station-process") == 0)
        return station_process(argc, argv);
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int modules = 32, image_kib = 64, waves = 1, closes = 0, report_records = 0;
    QString screenshot;
    // The station's own language, for a screenshot in the texts operators read by default.
    const bool chinese = args.removeAll("--chinese") > 0;
    const bool labels = args.removeAll("--labels") > 0;
    bool usable = args.size() % 2 == 0;
    for (; usable && !args.isEmpty(); args = args.mid(2)) {
        if (args.at(0) == "--screenshot")
            screenshot = args.at(1);
        else if (args.at(0) == "--close-dropping")
            usable = (closes = args.at(1).toInt()) > 0;
        else if (args.at(0) == "--report-behind")
            usable = (report_records = args.at(1).toInt()) > 0;
        else if (args.at(0) == "--waves")
            usable = (waves = args.at(1).toInt()) > 0 && waves <= 100;
        else if (args.at(0) == "--modules")
            usable = (modules = args.at(1).toInt()) > 0 && modules <= 26 * 4;
        else
            usable = args.at(0) == "--image-kib" && (image_kib = args.at(1).toInt()) > 0;
    }
    // Every label of the run is timed from the one removal of all modules.
    usable = usable && !(labels && waves > 1);
    if (!usable) {
        std::fprintf(stderr, "usage: kv20-bench-station [--modules N] [--image-kib N] [--waves N] [--labels] | --screenshot FILE.png [--chinese] | --close-dropping N | --report-behind N\n");
        return 2;
    }
    if (closes > 0)
        return close_while_dropping(closes) ? 0 : 1;
    if (report_records > 0)
        return report_behind(report_records) ? 0 : 1;
    Run run(screenshot.isEmpty() ? modules : 16, image_kib, screenshot.isEmpty() ? waves : 1, screenshot, chinese, labels);
    const bool completed = run.run();
    return run.report() && completed ? 0 : 1;
}

#include "station_bench.moc"
