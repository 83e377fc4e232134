// kv20-cli: the window's operations without a window, on one module or on
// several at once, each on its own worker thread.
#include "cli/cli_options.h"
#include "cli/interrupt_watcher.h"
#include "cli/line_mode.h"
#include "cli/line_printer.h"
#include "cli/progress_printer.h"
#include "cli/terminal.h"
#include "cli/trace_option.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "journal/journal.h"
#include "protocol/download_session.h"
#include "runner/module_session.h"
#include "interfaces/flash_parameter.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextCodec>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

enum ExitCode { all_ok = 0, failed = 1, usage = 2, journal_failed = 3 };

void say(const QString &line, FILE *stream = stdout)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void complain(const QString &line)
{
    say(QStringLiteral("kv20-cli: ") + line, stderr);
}

int list_ports(bool json)
{
    for (const ModulePort &port : find_module_ports()) {
        if (json) {
            const QJsonObject object {{QStringLiteral("port"), port.port},
                                      {QStringLiteral("node"), port.node},
                                      {QStringLiteral("name"), port.name}};
            say(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
        } else {
            say(port.port + QLatin1Char('\t') + port.node + QLatin1Char('\t') + port.name);
        }
    }
    return all_ok;
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

// Checked once, before any module hears a command: an image that cannot be
// sent whole fails every module alike.
QString image_problem(const QString &path)
{
    QByteArray image;
    return image_read_failure(read_image_file(path, &image));
}

int run_operations(const CliOptions &options)
{
    std::vector<ModuleSession::Target> targets;
    QString error;
    if (!choose_targets(options, &targets, &error)) {
        complain(error);
        return usage;
    }
    const quint8 type = options.operation_type();
    const ProgressPrinter::Mode mode = options.json ? ProgressPrinter::json
                                       : stdout_is_terminal() ? ProgressPrinter::terminal
                                                              : ProgressPrinter::plain;
    ProgressPrinter printer(mode);
    const Journal journal;
    bool journal_ok = true;
    bool all_succeeded = true;

    const QString refused = type == operation::device_query ? QString() : image_problem(options.image);
    if (!refused.isEmpty()) {
        complain(QStringLiteral("%1: %2").arg(refused, options.image));
        for (const ModuleSession::Target &target : targets) {
            OperationRecord record = unstarted_operation(target.port, type, options.image, refused);
            record.tool = QStringLiteral("cli");
            const JournalOutcome kept = journal.append(record);
            journal_ok = journal_ok && kept.in_journal;
            for (const QString &notice : kept.notices)
                complain(notice);
            printer.result(printer.add_module(target.port, record.operation), record);
        }
        printer.finish();
        return failed;
    }

    std::vector<std::unique_ptr<ModuleSession>> sessions;
    int running = 0;
    int interrupted_code = 0;
    InterruptWatcher watcher;
    QObject::connect(&watcher, &InterruptWatcher::interrupted, [&](int code) {
        if (interrupted_code != 0)
            return;
        interrupted_code = code;
        for (const auto &session : sessions)
            session->cancel();
    });
    for (const ModuleSession::Target &target : targets) {
        ModuleSession::Request request;
        request.type = type;
        request.image = options.image;
        request.cellular = options.cellular;
        sessions.push_back(std::make_unique<ModuleSession>(target, request, journal));
        ModuleSession *session = sessions.back().get();
        const int index = printer.add_module(target.port, operation_name(type));
        QObject::connect(session, &ModuleSession::progress, &printer,
                         [&printer, index](qint64 bytes, qint64 total) { printer.progress(index, bytes, total); });
        QObject::connect(session, &ModuleSession::finished, &printer, [&, session, index] {
            printer.result(index, session->record());
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

    if (interrupted_code != 0)
        return interrupted_code;
    if (!all_succeeded)
        return failed;
    return journal_ok ? all_ok : journal_failed;
}

// Line mode: runs until a signal ends it, with that signal's exit code.
int run_line_mode(const CliOptions &options)
{
    LineMode line(options, Journal());
    QString refused;
    if (!line.check_image(&refused)) {
        complain(QStringLiteral("%1: %2").arg(refused, options.image));
        return failed;
    }
    LinePrinter printer(options.json ? LinePrinter::json
                        : stdout_is_terminal() ? LinePrinter::terminal
                                               : LinePrinter::plain,
                        line.header());
    int exit_code = 0;
    InterruptWatcher watcher;
    QObject::connect(&watcher, &InterruptWatcher::interrupted, [&](int code) {
        if (exit_code == 0)
            exit_code = code;
        line.stop();
    });
    QObject::connect(&line, &LineMode::finished, &QCoreApplication::quit);
    line.start(&printer);
    QCoreApplication::exec();
    printer.finish(line.records_not_in_journal());
    return exit_code;
}

} // namespace

int main(int argc, char **argv)
{
    // The same codec as the window: command-line paths, file names and the
    // output are UTF-8 even where the process's locale says otherwise.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QCoreApplication app(argc, argv);

    CliOptions options;
    QString error;
    switch (parse_cli_options(app.arguments(), &options, &error)) {
    case ParseResult::help_shown:
        return all_ok;
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
