// Every operation against every fault the module simulator offers, through
// the real window: prints one table row per case with what the operator is
// left with and how long it took, then the simulator's paced line rate. The
// outcomes are the figures; a case whose run went wrong (no end within its
// time-out, controls left disabled, the port left open, the healthy module
// failing) is marked and makes the program exit 1, as does a paced reply
// that did not arrive whole.
//
//   kv20-bench-fault-matrix [--quick | --smoke]   (--quick leaves out the cases
//       that wait out the 10 s and 16 s timeouts; --smoke runs the first two
//       faults of each table only)
#include "bench/fault_matrix/window_operator.h"
#include "tests/support/module_sim_process.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSerialPort>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

using Operation = WindowOperator::Operation;

struct Fault
{
    const char *name;
    QStringList args;
    bool long_wait = false;
};

const Fault query_faults[] = {
    {"healthy", {}},
    {"no reply", {"--no-reply"}},
    {"reply 150 ms late", {"--late-ms=150"}},
    {"reply in 3 bursts", {"--bursts=3", "--burst-gap-ms=10"}},
    {"no marker", {"--no-marker"}},
    {"NUL before marker", {"--nul-before-marker"}},
    {"garbage instead of reply", {"--garbage-instead=16"}},
    {"garbage before reply", {"--garbage-before=16"}},
    {"unplugged mid-reply", {"--unplug-reply-bytes=3"}},
};

const Fault download_faults[] = {
    {"no acknowledgement", {"--no-download-ack"}},
    {"acknowledgement in capitals", {"--ack-upper"}},
    {"acknowledgement with C", {"--ack-with-c"}},
    {"checksum receiver", {"--checksum"}},
    {"block 2 NAKed 4 times", {"--nak-block=2", "--nak-times=4"}},
    {"block 2 never acknowledged", {"--nak-block=2", "--nak-times=5"}},
    {"cancelled, CANs apart", {"--cancel-block=2"}},
    {"cancelled, CANs in one burst", {"--cancel-block=2", "--cancel-gap-ms=0"}},
    {"receiver silent after block 2", {"--silent-block=3"}},
    {"unplugged mid-transfer", {"--unplug-block=2"}},
    {"EOT answered with NAK", {"--eot-reply=nak"}},
    {"EOT answered with empty text for ever", {"--eot-reply=nul", "--eot-fault-times=1000"}},
    {"EOT never answered", {"--eot-reply=none"}, true},
    {"never asks for the transfer", {"--silent-block=0"}, true},
};

// True when the case ran as a case must, whatever its outcome.
bool print_case(WindowOperator &window, const Operation &op, const Fault &fault)
{
    const WindowOperator::Outcome out = window.run(op, fault.args, 30000);
    const bool healthy = fault.args.isEmpty();
    const bool right = out.started && out.ended && out.controls_enabled && out.port_closed
                       && (!healthy || out.status == WindowOperator::success_status(op));
    QString shown = out.started ? out.status : QStringLiteral("(simulator did not start)");
    if (!out.reason.isEmpty())
        shown += QStringLiteral(" after ") + out.reason;
    if (!out.controls_enabled)
        shown += QStringLiteral(", controls left disabled");
    if (!out.port_closed)
        shown += QStringLiteral(", port left open");
    if (!out.ended)
        shown += QStringLiteral(", no end within the time-out");
    std::printf("| %s | %s | %s | %s | %lld | %s |\n", op.name, fault.name, qPrintable(fault.args.join(' ')),
                qPrintable(shown), out.elapsed_ms, right ? "yes" : "NO");
    std::fflush(stdout);
    return right;
}

// The download benchmark's paced line must run at the wire's rate: 10 bits a
// byte at 115200 baud, 11,520 bytes/s.
bool print_pacing()
{
    const QByteArray mac(10240, 'M');
    ModuleSimProcess sim({"--variant=wifi", "--quiet", "--pace", "--mac=" + QString::fromLatin1(mac)});
    QSerialPort port(sim.start() ? sim.device_path() : QString());
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("paced line: simulator or port unavailable\n");
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    port.write("AT+WSMAC\r\n");
    const qint64 expected = mac.size() + 6;  // "+ok=" and "\r\n" around it
    QByteArray reply;
    while (reply.size() < expected && timer.elapsed() < 5000 && port.waitForReadyRead(1000))
        reply += port.readAll();
    const double seconds = timer.elapsed() / 1000.0;
    std::printf("paced line: %d of %lld reply bytes in %.3f s = %.0f bytes/s (the wire: 11520)\n", int(reply.size()),
                expected, seconds, reply.size() / seconds);
    return reply.size() == expected;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QStringList args = app.arguments().mid(1);
    const bool smoke = args == QStringList {"--smoke"};
    const bool quick = smoke || args == QStringList {"--quick"};
    if (!args.isEmpty() && !quick) {
        std::printf("usage: kv20-bench-fault-matrix [--quick | --smoke]\n");
        return 2;
    }
    const int faults_each = smoke ? 2 : 1000;
    WindowOperator window;
    if (!window.ok()) {
        std::printf("the window could not be set up\n");
        return 1;
    }
    const Operation *const operations[] = {&WindowOperator::wifi_query, &WindowOperator::cellular_query,
                                           &WindowOperator::audio_replacement, &WindowOperator::firmware_upgrade};
    std::printf("| operation | fault | simulator options | the operator is left with | ms | run right |\n"
                "|---|---|---|---|---|---|\n");
    int wrong = 0;
    for (const Operation *op : operations)
        for (int i = 0; i < std::min<int>(faults_each, std::size(query_faults)); ++i)
            wrong += print_case(window, *op, query_faults[i]) ? 0 : 1;
    for (const Operation *op : {operations[2], operations[3]})
        for (int i = 0; i < std::min<int>(faults_each, std::size(download_faults)); ++i)
            if (!download_faults[i].long_wait || (!quick && op == operations[2]))
                wrong += print_case(window, *op, download_faults[i]) ? 0 : 1;
    wrong += print_pacing() ? 0 : 1;
    return wrong == 0 ? 0 : 1;
}
