#pragma once

#include "cli/cli_messages.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <utility>

// One command's arguments, read against the options the command table gives
// it: what its run function gets.
class CommandLine
{
public:
    CommandLine(const QString &command, QStringList positional, QSet<QString> set, QHash<QString, QStringList> values)
        : command(command), positional(std::move(positional)), set(std::move(set)), all_values(std::move(values))
    {
    }

    // As the table names it: "query", "db init".
    const QString command;
    // The arguments that are no option, in their order.
    const QStringList positional;

    bool is_set(const char *option) const { return set.contains(QLatin1String(option)); }
    // The last one given, else the option's default.
    QString value(const char *option) const
    {
        const QStringList given = values(option);
        return given.isEmpty() ? QString() : given.last();
    }
    QStringList values(const char *option) const { return all_values.value(QLatin1String(option)); }

    // A usage error, said on standard error with the command's help to read.
    ExitCode refuse(const QString &reason) const;

private:
    const QSet<QString> set;
    const QHash<QString, QStringList> all_values;
};

// kv20-cli with the program's arguments: the command the table finds in
// them, with --trace applied; help and usage errors for the rest.
ExitCode run_cli(const QStringList &arguments);
