#include "cli/command_line.h"

#include "cli/command_help.h"
#include "cli/command_table.h"
#include "cli/output_format.h"
#include "trace/trace_option.h"

#include <QCommandLineParser>

namespace {

ExitCode usage_error(const QString &command, const QString &reason)
{
    complain(QStringLiteral("%1 (kv20-cli %2 --help)").arg(reason, command));
    return usage;
}

// The command whose one or two words the arguments start with.
const CliCommand *find_command(const QStringList &arguments)
{
    for (const CliCommand &command : cli_commands()) {
        const QStringList words = QString::fromLatin1(command.name).split(QLatin1Char(' '));
        if (arguments.mid(1, words.size()) == words)
            return &command;
    }
    return nullptr;
}

QString command_names()
{
    QStringList names;
    for (const CliCommand &command : cli_commands())
        names << QLatin1String(command.name);
    return names.join(QStringLiteral(", "));
}

ExitCode help_shown(const QString &text)
{
    write_out(text.toUtf8());
    return output_lost() ? output_gone : all_ok;
}

// The command's options read, --trace applied, and the command run.
ExitCode run_command(const CliCommand &command, QStringList arguments)
{
    const QString name = QLatin1String(command.name);
    arguments.erase(arguments.begin() + 1, arguments.begin() + 1 + name.count(QLatin1Char(' ')) + 1);
    QCommandLineParser parser;
    add_command_options(command, &parser);
    if (!parser.parse(arguments))
        return usage_error(name, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        return help_shown(command_help(command));
    QString rules, error;
    if (!trace_rules(parser.values(QStringLiteral("trace")).join(QLatin1Char(',')), &rules, &error))
        return usage_error(name, error);
    apply_trace_rules(rules);

    QSet<QString> set;
    QHash<QString, QStringList> values;
    for (const CliOption &option : command.options) {
        const QString option_name = QLatin1String(option.name);
        if (parser.isSet(option_name))
            set << option_name;
        values.insert(option_name, parser.values(option_name));
    }
    return command.run(CommandLine(name, parser.positionalArguments(), set, values));
}

} // namespace

ExitCode CommandLine::refuse(const QString &reason) const
{
    return usage_error(command, reason);
}

ExitCode run_cli(const QStringList &arguments)
{
    if (arguments.size() < 2) {
        write_out(overview_help().toUtf8());
        complain(QStringLiteral("no command given (kv20-cli --help)"));
        return usage;
    }
    if (arguments.at(1) == QLatin1String("--help") || arguments.at(1) == QLatin1String("-h"))
        return help_shown(overview_help());
    if (const CliCommand *command = find_command(arguments))
        return run_command(*command, arguments);
    complain(QStringLiteral("unknown command \"%1\" (commands: %2) (kv20-cli --help)").arg(arguments.at(1), command_names()));
    return usage;
}
