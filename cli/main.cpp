// kv20-cli: the window's operations without a window, on one module or on
// several at once, each on its own worker thread.
#include "cli/cli_messages.h"
#include "cli/cli_options.h"
#include "cli/interrupt_watcher.h"
#include "line/line_mode.h"
#include "cli/live_printer.h"
#include "cli/operation_request.h"
#include "cli/output_format.h"
#include "cli/terminal.h"
#include "cli/trace_option.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "db/background_upload.h"
#include "cli/db_commands.h"
#include "journal/journal.h"
#include "cli/report_command.h"
#include "runner/module_session.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextCodec>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

int list_ports(bool json)
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

int run_operations(const CliOptions &options)
{
    std::vector<ModuleSession::Target> targets;
    QString error;
    if (!choose_targets(options, &targets, &error)) {
        complain(error);
        return usage;
    }
    LivePrinter printer(printer_mode(options));
    const Journal journal;
    bool journal_ok = true;
    bool all_succeeded = true;

    ModuleSession::Request request;
    const Failure refused = prepare_request(options, &request);
    if (refused != Failure::none) {
        complain(QStringLiteral("%1: %2").arg(journal_words(refused), options.image));
        for (const ModuleSession::Target &target : targets) {
            OperationRecord record = unstarted_operation(target.port, request.type, options.image, refused);
            record.tool = request.tool;
            const JournalOutcome kept = journal.append(record);
            journal_ok = journal_ok && kept.in_journal;
            for (const QString &notice : kept.notices)
                complain(notice);
            printer.result(printer.add(target.port, record.operation), record);
        }
        printer.finish();
        return output_lost() ? output_gone : failed;
    }

    std::vector<std::unique_ptr<ModuleSession>> sessions;
    int running = 0;
    RunEnd end([&] {
        for (const auto &session : sessions)
            session->cancel();
    });
    for (const ModuleSession::Target &target : targets) {
        sessions.push_back(std::make_unique<ModuleSession>(target, request, journal));
        ModuleSession *session = sessions.back().get();
        const int shown_as = printer.add(target.port, operation_name(request.type));
        QObject::connect(session, &ModuleSession::progress, &printer,
                         [&printer, shown_as](qint64 bytes, qint64 total) { printer.progress(shown_as, bytes, total); });
        QObject::connect(session, &ModuleSession::finished, &printer, [&, session, shown_as] {
            printer.result(shown_as, session->record());
            all_succeeded = all_succeeded && session->record().ok;
            journal_ok = journal_ok && session->journal_outcome().in_journal;
            for (const QString &notice : session->journal_outcome().notices)
                complain(notice);
            if (--running == 0)
                QCoreApplication::quit();
        });
    }
    running = int(sessions.size());
    for (const auto &session : sessions)
        session->start();
    QCoreApplication::exec();
    printer.finish();
    sessions.clear();  // every port closed in its own thread

    if (end.code != 0)
        return end.code;
    // The results could not all be shown.
    if (output_lost())
        return output_gone;
    if (!all_succeeded)
        return failed;
    return journal_ok ? all_ok : journal_failed;
}

QString line_mode_header(const ModuleSession::Request &request, const Journal &journal)
{
    QString text = QStringLiteral("kv20-cli watch: %1").arg(operation_name(request.type));
    if (!request.image_sha256.isEmpty())
        text += QStringLiteral("  image %1  sha256 %2")
                    .arg(request.image, QString::fromLatin1(request.image_sha256.left(12)));
    return text + QStringLiteral("  journal %1").arg(QFileInfo(journal.path()).absoluteFilePath());
}

// How long the upload's batch in flight may go on once the run is to end.
constexpr int upload_stop_ms = 1500;

// Line mode: runs until a signal, or an output gone, ends it, with that
// one's exit code.
int run_line_mode(const CliOptions &options)
{
    ModuleSession::Request request;
    const Failure refused = prepare_request(options, &request);
    if (refused != Failure::none) {
        complain(QStringLiteral("%1: %2").arg(journal_words(refused), options.image));
        return failed;
    }
    const Journal journal;
    LineMode line(request, options.rescan_ms, journal);
    LivePrinter printer(printer_mode(options), line_mode_header(request, journal));
    // On a thread of its own: an operation never waits for the database.
    std::unique_ptr<BackgroundUpload> upload;
    quint64 backlog_shown = 0;
    const auto show_backlog = [&] {
        const BackgroundUpload::State state = upload->state();
        if (state.version != backlog_shown)
            printer.backlog(state.waiting, state.unreadable, state.problem);
        backlog_shown = state.version;
    };
    QTimer backlog_check;
    if (!options.db_url.isEmpty()) {
        upload = std::make_unique<BackgroundUpload>(options.db_url, journal.path());
        QObject::connect(&line, &LineMode::record_kept, [&upload] { upload->record_added(); });
        QObject::connect(&backlog_check, &QTimer::timeout, show_backlog);
        backlog_check.start(250);
    }
    // The run ends within 2 s of its end being asked for, whatever the
    // database does: the upload's time runs from then, beside line mode's
    // own stop.
    RunEnd end([&] {
        if (upload)
            upload->stop_soon(upload_stop_ms);
        line.stop();
    });
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
    line.start(&printer);
    QCoreApplication::exec();
    // A batch in flight gets its time; what is not sent waits for the next run.
    if (upload) {
        upload->stop(upload_stop_ms);
        show_backlog();
    }
    printer.finish(line.records_not_in_journal());
    return end.code;
}

// Runs a command with its own options after taking --trace LAYER[,LAYER]
// out of its arguments; without it, no trace at all.
int with_trace(QStringList arguments, int (*command)(const QStringList &))
{
    QString layers;
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--trace") && i + 1 < arguments.size()) {
            layers = arguments.takeAt(i + 1);
            arguments.removeAt(i--);
        } else if (arguments[i].startsWith(QLatin1String("--trace="))) {
            layers = arguments.takeAt(i--).mid(8);
        }
    }
    QString rules, error;
    if (!trace_rules(layers, &rules, &error)) {
        complain(error);
        return usage;
    }
    apply_trace_rules(rules);
    return command(arguments);
}

} // namespace

int main(int argc, char **argv)
{
    // The same codec as the window: command-line paths, file names and the
    // output are UTF-8 even where the process's locale says otherwise.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QCoreApplication app(argc, argv);
    // A reader that goes away (`kv20-cli ... | head`) fails a write instead
    // of ending the process while modules are still receiving.
    ignore_broken_pipe();

    // The report reads journals only: no module, no worker, its own options.
    if (app.arguments().value(1) == QLatin1String("report"))
        return with_trace(app.arguments(), run_report_command);
    // The database's commands read journals and talk to the database only.
    if (app.arguments().value(1) == QLatin1String("db") && app.arguments().value(2) == QLatin1String("init"))
        return with_trace(app.arguments(), run_db_init_command);
    if (app.arguments().value(1) == QLatin1String("upload"))
        return with_trace(app.arguments(), run_upload_command);

    CliOptions options;
    QString error;
    switch (parse_cli_options(app.arguments(), &options, &error)) {
    case ParseResult::help_shown:
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? all_ok : output_gone;
    case ParseResult::usage_error:
        complain(error + QStringLiteral(" (kv20-cli --help)"));
        return usage;
    case ParseResult::run:
        break;
    }
    apply_trace_rules(options.trace_rules);
    if (options.command == CliOptions::list)
        return list_ports(options.json);
    if (options.watch)
        return run_line_mode(options);
    return run_operations(options);
}
