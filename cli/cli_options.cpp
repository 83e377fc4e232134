#include "cli/cli_options.h"

#include "interfaces/flash_parameter.h"
#include "runner/done_before.h"

namespace {

// In the order of CliOptions::Command.
const QStringList operations {QStringLiteral("query"), QStringLiteral("audio"), QStringLiteral("firmware")};

// The operation a command's words name, and its image.
bool read_operation(const QString &name, const QStringList &arguments, CliOptions *options, QString *error)
{
    options->command = CliOptions::Command(operations.indexOf(name));
    const bool with_image = options->command != CliOptions::query;
    if (arguments.size() != (with_image ? 1 : 0)) {
        *error = with_image ? QStringLiteral("%1 takes exactly one IMAGE").arg(name)
                            : QStringLiteral("unexpected argument \"%1\"").arg(arguments.value(0));
        return false;
    }
    options->image = arguments.value(0);
    return true;
}

bool read_variant(const CommandLine &line, CliOptions *options, QString *error)
{
    const QString kind = line.value("variant");
    if (kind != QLatin1String("cellular") && kind != QLatin1String("wifi")) {
        *error = QStringLiteral("--variant takes cellular or wifi, not \"%1\"").arg(kind);
        return false;
    }
    options->cellular = kind == QLatin1String("cellular");
    return true;
}

bool read_targets(const CommandLine &line, CliOptions *options, QString *error)
{
    options->ports = line.values("port");
    options->all = line.is_set("all");
    if (options->all && !options->ports.isEmpty()) {
        *error = QStringLiteral("--all and --port exclude each other");
        return false;
    }
    return true;
}

bool read_rescan(const CommandLine &line, CliOptions *options, QString *error)
{
    bool number = false;
    options->rescan_ms = line.value("rescan-ms").toInt(&number);
    if (!number || options->rescan_ms < 50) {
        *error = QStringLiteral("--rescan-ms takes a number of milliseconds, at least 50");
        return false;
    }
    return true;
}

// --operator and --work-order go into every record as given, surrounding
// blanks aside; a control character would be a scanner's or a script's
// mistake, never a name.
bool read_served_by(const CommandLine &line, CliOptions *options, QString *error)
{
    for (const char *name : {"operator", "work-order"}) {
        const QString value = line.value(name).trimmed();
        for (const QChar c : value) {
            if (c.category() == QChar::Other_Control) {
                *error = QStringLiteral("--%1 holds a control character").arg(QLatin1String(name));
                return false;
            }
        }
        if (line.is_set(name) && value.isEmpty()) {
            *error = QStringLiteral("--%1 takes a non-empty value").arg(QLatin1String(name));
            return false;
        }
        (name[0] == 'o' ? options->operator_id : options->work_order) = value;
    }
    return true;
}

} // namespace

bool read_operation_options(const CommandLine &line, CliOptions *options, QString *error)
{
    options->json = line.is_set("json");
    return read_operation(line.command, line.positional, options, error) && read_variant(line, options, error)
           && read_targets(line, options, error) && read_served_by(line, options, error);
}

bool read_watch_options(const CommandLine &line, CliOptions *options, QString *error)
{
    const QString operation = line.positional.value(0);
    if (!operations.contains(operation)) {
        *error = QStringLiteral("watch takes query, audio IMAGE or firmware IMAGE");
        if (!operation.isEmpty())
            *error += QStringLiteral(", not \"%1\"").arg(operation);
        return false;
    }
    options->watch = true;
    options->json = line.is_set("json");
    options->db_url = line.value("db");
    options->again = line.value("again");
    AgainPolicy policy;
    if (!read_again_policy(options->again, &policy)) {
        *error = QStringLiteral("--again takes allow, warn or block, not \"%1\"").arg(options->again);
        return false;
    }
    return read_operation(operation, line.positional.mid(1), options, error) && read_variant(line, options, error)
           && read_rescan(line, options, error) && read_served_by(line, options, error);
}

quint8 CliOptions::operation_type() const
{
    switch (command) {
    case audio:
        return operation::audio_replacement;
    case firmware:
        return operation::firmware_upgrade;
    default:
        return operation::device_query;
    }
}
