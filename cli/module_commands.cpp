// The commands that talk to modules: list, the one-shot operations (query,
// audio, firmware) on the modules named or found, and line mode (watch).
#include "cli/module_commands.h"

#include "cli/cli_options.h"
#include "cli/interrupt_watcher.h"
#include "cli/live_printer.h"
#include "cli/operation_request.h"
#include "cli/output_format.h"
#include "cli/terminal.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "journal/journal.h"
#include "line/line_mode.h"
#include "line/usb_port_source.h"
#include "runner/module_session.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <functional>
#include <vector>

namespace {

ExitCode list_ports(bool json)
{
    for (const ModulePort &port : find_module_ports()) {
        if (json) {
            write_out(json_line({{QStringLiteral("port"), port.port},
                                 {QStringLiteral("node"), port.node},
                                 {QStringLiteral("name"), port.name},
                                 {QStringLiteral("slot"), port.slot}}));
        } else {
            // The slot last: scripts that cut the first three columns read on.
            say(shown_text(port.port) + QLatin1Char('\t') + shown_text(port.node) + QLatin1Char('\t')
                + shown_text(port.name) + QLatin1Char('\t') + shown_text(port.slot.isEmpty() ? QStringLiteral("-") : port.slot));
        }
    }
    return output_lost() ? output_gone : all_ok;
}

QString found_ports_text(const QList<ModulePort> &found)
{
    QStringList names;
    for (const ModulePort &port : found)
        names << port.port;
    return names.isEmpty() ? QStringLiteral("no module found") : QStringLiteral("found: ") + names.join(QStringLiteral(", "));
}

// The modules the command line names, or why it names none.
bool choose_targets(const CliOptions &options, std::vector<ModuleSession::Target> *targets, QString *error)
{
    const QList<ModulePort> found = find_module_ports();
    if (options.ports.isEmpty()) {
        for (const ModulePort &port : found) {
            targets->push_back({port.port, port.node});
            if (!options.all)
                break;
        }
        if (targets->empty())
            *error = QStringLiteral("no module found");
        return !targets->empty();
    }
    for (const QString &wanted : options.ports) {
        ModuleSession::Target target;
        for (const ModulePort &port : found) {
            if (wanted == port.port || wanted == port.node)
                target = {port.port, port.node};
        }
        // An adapter outside the identity rules is still used when the name
        // can be a port on this system.
        if (target.node.isEmpty())
            unlisted_port(wanted, &target.port, &target.node);
        if (target.node.isEmpty()) {
            *error = QStringLiteral("unknown port %1 (%2)").arg(wanted, found_ports_text(found));
            return false;
        }
        for (const ModuleSession::Target &earlier : *targets) {
            if (earlier.node == target.node) {
                *error = QStringLiteral("port %1 given twice").arg(wanted);
                return false;
            }
        }
        targets->push_back(target);
    }
    return true;
}

LivePrinter::Mode printer_mode(const CliOptions &options)
{
    return options.json ? LivePrinter::json : stdout_is_terminal() ? LivePrinter::terminal : LivePrinter::plain;
}

// A run ends on the first of: an interrupt, a termination, a hang-up, or an
// output that can no longer be written. Its exit code is that first one's.
struct RunEnd
{
    InterruptWatcher watcher;
    int code = 0;

    explicit RunEnd(const std::function<void()> &stop)
    {
        QObject::connect(&watcher, &InterruptWatcher::interrupted, [this, stop](int exit_code) {
            if (code != 0)
                return;
            code = exit_code;
            stop();
        });
        // Queued: the failed write may sit deep inside a printer's call.
        set_output_lost_handler([this] { watcher.end_run(output_gone); });
    }
    ~RunEnd() { set_output_lost_handler(nullptr); }
};

ExitCode run_operations(const CliOptions &options)
{
    std::vector<ModuleSession::Target> targets;
    QString error;
    if (!choose_targets(options, &targets, &error)) {
        complain(error);
        return usage;
    }
    ModuleSession::Request request;
    const Failure refused = prepare_request(options, &request);
    if (refused != Failure::none)
        complain(QStringLiteral("%1: %2").arg(journal_words(refused), options.image));
    LivePrinter printer(printer_mode(options));
    const Journal journal;
    LineMode line(request, journal);
    RunEnd end([&line] { line.stop(); });
    QObject::connect(&line, &LineMode::finished, &QCoreApplication::quit);
    line.serve(QList<ModuleSession::Target>(targets.begin(), targets.end()), &printer, refused);
    QCoreApplication::exec();
    printer.finish();

    if (end.code != 0)
        return ExitCode(end.code);
    // The results could not all be shown.
    if (output_lost())
        return output_gone;
    if (line.counts().failed > 0)
        return failed;
    return line.counts().not_in_journal == 0 ? all_ok : journal_failed;
}

QString line_mode_header(const ModuleSession::Request &request, const Journal &journal)
{
    QString text = QStringLiteral("kv20-cli watch: %1").arg(operation_name(request.type));
    if (!request.image_sha256.isEmpty())
        text += QStringLiteral("  image %1  sha256 %2")
                    .arg(request.image, QString::fromLatin1(request.image_sha256.left(12)));
    return text + QStringLiteral("  journal %1").arg(QFileInfo(journal.path()).absoluteFilePath());
}

// Line mode: runs until a signal, or an output gone, ends it, with that
// one's exit code.
ExitCode run_line_mode(const CliOptions &options)
{
    ModuleSession::Request request;
    const Failure refused = prepare_request(options, &request);
    if (refused != Failure::none) {
        complain(QStringLiteral("%1: %2").arg(journal_words(refused), options.image));
        return failed;
    }
    const Journal journal;
    LineMode line(request, journal);
    LivePrinter printer(printer_mode(options), line_mode_header(request, journal));
    if (!options.db_url.isEmpty())
        line.upload_to(options.db_url);
    RunEnd end([&line] { line.stop(); });
    // Nothing may be written for hours between modules: a reader that went
    // away meanwhile is noticed without waiting for the next module, soon
    // enough that the run still ends within 2 s of it.
    QTimer output_check;
    QObject::connect(&output_check, &QTimer::timeout, [&] {
        if (output_closed())
            end.watcher.end_run(output_gone);
    });
    output_check.start(250);
    QObject::connect(&line, &LineMode::finished, &QCoreApplication::quit);
    UsbPortSource ports;
    line.watch(&ports, options.rescan_ms, &printer);
    QCoreApplication::exec();
    printer.finish();
    return ExitCode(end.code);
}

} // namespace

ExitCode run_list_command(const CommandLine &line)
{
    return list_ports(line.is_set("json"));
}

ExitCode run_operation_command(const CommandLine &line)
{
    CliOptions options;
    QString error;
    if (!read_operation_options(line, &options, &error))
        return line.refuse(error);
    return run_operations(options);
}

ExitCode run_watch_command(const CommandLine &line)
{
    CliOptions options;
    QString error;
    if (!read_watch_options(line, &options, &error))
        return line.refuse(error);
    return run_line_mode(options);
}
