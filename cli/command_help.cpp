#include "cli/command_help.h"

#include "cli/command_table.h"
#include "trace/trace_option.h"

#include <QCommandLineParser>

namespace {

const char about[] =
    "Talks to the audio modules attached over USB, as the window does, on one\n"
    "module or on several at once. Every operation leaves a record in\n"
    "kv20-journal.csv in the working directory.\n";

const char exit_status[] =
    "Exit status (report, db init and upload: their --help): 0 every operation\n"
    "succeeded; 1 an operation failed (or, for watch, the image cannot be sent);\n"
    "2 usage error, unknown port or no module found; 3 every operation succeeded\n"
    "but a record did not reach kv20-journal.csv itself; 130 after SIGINT; 143\n"
    "after SIGTERM; 129 after SIGHUP; 141 when standard output or standard error\n"
    "could no longer be written (running transfers are cancelled and recorded as\n"
    "on SIGTERM).\n";

// The name and the synopsis, its further lines indented under the first.
QString usage_of(const CliCommand &command)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(command.name), QString::fromLatin1(command.synopsis))
        .replace(QLatin1Char('\n'), QStringLiteral("\n        "));
}

} // namespace

QString overview_help()
{
    QString text = QStringLiteral("Usage: kv20-cli COMMAND [options]\n\n%1\nCommands:\n").arg(QLatin1String(about));
    for (const CliCommand &command : cli_commands())
        text += QStringLiteral("  %1\n      %2\n").arg(usage_of(command), QLatin1String(command.summary));
    return text
           + QStringLiteral("\nEvery command takes --trace LAYER[,LAYER], the trace of those layers on\n"
                            "standard error: %1 or all.\n"
                            "kv20-cli COMMAND --help describes a command.\n\n%2")
                 .arg(trace_layer_names(), QLatin1String(exit_status));
}

QString command_help(const CliCommand &command)
{
    QString text = QStringLiteral("Usage: kv20-cli %1\n\n%2\n").arg(usage_of(command), QLatin1String(command.summary));
    if (*command.help)
        text += QLatin1Char('\n') + QString::fromLatin1(command.help);
    // Qt's layout of the options, without its first line, which names the
    // program alone.
    QCommandLineParser parser;
    add_command_options(command, &parser);
    const QString options = parser.helpText();
    return text + QLatin1Char('\n') + options.mid(options.indexOf(QLatin1String("Options:")));
}
