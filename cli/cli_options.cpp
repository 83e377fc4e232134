#include "cli/cli_options.h"

#include "cli/trace_option.h"
#include "interfaces/flash_parameter.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace {

struct CommandInfo
{
    const char *name;
    CliOptions::Command command;
    const char *summary;
};

const CommandInfo commands[] = {
    {"list", CliOptions::list, "List the module ports that discovery finds: port, device node, name."},
    {"query", CliOptions::query, "Read each module's identity (device number, IMEI or MAC, ICCID or audio version, firmware version)."},
    {"audio", CliOptions::audio, "Replace each module's audio image with IMAGE (AT+XUPDATE, XMODEM-1K)."},
    {"firmware", CliOptions::firmware, "Upgrade each module's firmware with IMAGE (AT+FOTA, XMODEM-1K), on either variant."},
};

const char overview[] =
    "Usage: kv20-cli COMMAND [options]\n"
    "\n"
    "Talks to the audio modules attached over USB, as the window does, on one\n"
    "module or on several at once. Every operation leaves a record in\n"
    "kv20-journal.csv in the working directory.\n"
    "\n"
    "Commands:\n"
    "  list [--json]\n"
    "  query [--port P]... [--all] [--variant cellular|wifi] [--json]\n"
    "  audio IMAGE [--port P]... [--all] [--variant cellular|wifi] [--json]\n"
    "  firmware IMAGE [--port P]... [--all] [--variant cellular|wifi] [--json]\n"
    "  watch query|audio IMAGE|firmware IMAGE [--variant cellular|wifi] [--json]\n"
    "        [--rescan-ms N] [--db URL]\n"
    "  report JOURNAL... [--from TIME] [--to TIME] [--html FILE] [--json]\n"
    "\n"
    "watch is line mode: every module present and every module plugged in later\n"
    "gets the operation once, several at once, until Ctrl-C.\n"
    "report turns journals of one or many stations into a summary, JSON or an\n"
    "HTML page (exit status 0, 1 no record in the range, 2 usage or file error).\n"
    "\n"
    "Every command takes --trace LAYER[,LAYER]: that layer's trace on standard\n"
    "error (link, worker, protocol, xmodem, discovery, journal, or all).\n"
    "\n"
    "kv20-cli COMMAND --help describes a command.\n"
    "\n"
    "Exit status: 0 every operation succeeded; 1 an operation failed (or, for\n"
    "watch, the image cannot be sent); 2 usage error, unknown port or no module\n"
    "found; 3 every operation succeeded but a record did not reach\n"
    "kv20-journal.csv itself; 130 after SIGINT; 143 after SIGTERM; 129 after\n"
    "SIGHUP; 141 when standard output or standard error could no longer be\n"
    "written (running transfers are cancelled and recorded as on SIGTERM).\n";

const char watch_help[] =
    "Usage: kv20-cli watch query|audio IMAGE|firmware IMAGE [options]\n"
    "\n"
    "Line mode, started once per shift: every module present and every module\n"
    "plugged in later gets the operation as soon as it appears, several at once,\n"
    "each on its own worker thread, and once: a module left plugged in after its\n"
    "result is not served again until it has been unplugged, and a module that\n"
    "comes back within 2 minutes to the USB socket (else the port) where its\n"
    "operation ended ok (one restarting to apply its image) is known by its\n"
    "identity (device number and IMEI, or serial number and MAC): it hears no\n"
    "download command and shows as \"already done\", with no second record; one\n"
    "with the same identity elsewhere, or later, is served. A port that does not\n"
    "open at once is tried again for 3 s.\n"
    "Unplugging a module cancels its running operation (detail \"unplugged\").\n"
    "The image is checked and its SHA-256 taken at the start; a module whose\n"
    "image file changed since then gets nothing (detail \"image changed\").\n"
    "Every result lands in kv20-journal.csv. On a terminal: a header, a line per\n"
    "port redrawn in place and a summary line; otherwise a line per event;\n"
    "--json: JSON Lines (arrival, progress, result, removal, summary).\n"
    "Ctrl-C, SIGTERM or SIGHUP cancels running transfers on the wire, writes\n"
    "their records, prints the summary and exits 130, 143 or 129; an output\n"
    "that can no longer be written does the same, with 141.\n"
    "\n"
    "Options:\n"
    "  --variant cellular|wifi  the identity query to run first (default cellular)\n"
    "  --json                   JSON Lines on standard output\n"
    "  --rescan-ms N            look for modules every N ms besides the\n"
    "                           device-change events (default 2000)\n"
    "  --db URL                 watch: upload each record to this database as well\n"
    "                           (kv20-cli upload --help)\n"
    "  db init --db URL         create the database's tables\n"
    "  upload --db URL [JOURNAL...]  send the records the database lacks\n";

} // namespace

const char report_help[] =
    "Usage: kv20-cli report JOURNAL... [--from TIME] [--to TIME] [--station NAME]...\n"
    "                       [--html FILE] [--json]\n"
    "       kv20-cli report --db URL [--from TIME] [--to TIME] [--station NAME]...\n"
    "                       [--html FILE] [--json]\n"
    "\n"
    "Reads the results journals of one or many stations (kv20-journal.csv and\n"
    "the side files kv20-journal-unsaved-*.csv) and tells how many modules went\n"
    "through, the first-pass and final yield, modules per hour, failures by\n"
    "detail, each station's and port's yield and durations, and which images\n"
    "were written. A record names its station in the journal's station column;\n"
    "in journals from before that column a station is named by its journal's\n"
    "folder (line2/station3/kv20-journal.csv is station3); a journal renamed,\n"
    "such as station3.csv, by its file name. Rows that cannot be read are\n"
    "counted and named by file and line. With --db the records come from the\n"
    "line's database that kv20-cli upload fills (URL as for kv20-cli db init);\n"
    "the figures are those of the same records' journals.\n"
    "\n"
    "Options:\n"
    "  --from TIME   leave out records before TIME, a local date-time as the\n"
    "                journals write it: 2026-12-06T06:00 (or a date alone)\n"
    "  --to TIME     leave out records from TIME on\n"
    "  --station NAME  only this station's records (again for more stations)\n"
    "  --html FILE   write the report as one HTML page (charts included, no\n"
    "                script, nothing loaded from elsewhere)\n"
    "  --json        print the figures as one JSON object (keys in kv20-cli(1))\n"
    "\n"
    "Without --html or --json a summary is printed.\n"
    "Exit status: 0; 1 when no record falls in the range or the database\n"
    "cannot be read; 2 usage error, a\n"
    "file that cannot be read as a journal or a page that cannot be written;\n"
    "141 when standard output cannot be written.\n";

ParseResult parse_cli_options(const QStringList &arguments, CliOptions *options, QString *error)
{
    QTextStream out(stdout);
    if (arguments.size() < 2 || arguments.at(1) == QLatin1String("--help")
        || arguments.at(1) == QLatin1String("-h")) {
        out << overview;
        if (arguments.size() < 2) {
            *error = QStringLiteral("no command given");
            return ParseResult::usage_error;
        }
        return ParseResult::help_shown;
    }
    QStringList rest = arguments;
    rest.removeAt(1);
    options->watch = arguments.at(1) == QLatin1String("watch");
    const QString name = options->watch ? rest.value(1) : arguments.at(1);
    if (options->watch && !name.startsWith(QLatin1Char('-')))
        rest.removeAt(1);
    const CommandInfo *info = nullptr;
    for (const CommandInfo &candidate : commands)
        if (name == QLatin1String(candidate.name) && !(options->watch && candidate.command == CliOptions::list))
            info = &candidate;
    if (!info && options->watch && (name == QLatin1String("--help") || name == QLatin1String("-h"))) {
        out << watch_help;
        return ParseResult::help_shown;
    }
    if (!info) {
        *error = options->watch
                     ? QStringLiteral("watch takes query, audio IMAGE or firmware IMAGE, not \"%1\"").arg(name)
                     : QStringLiteral("unknown command \"%1\" (commands: list, query, audio, firmware, watch, report)").arg(name);
        return ParseResult::usage_error;
    }
    options->command = info->command;
    const bool with_image = info->command == CliOptions::audio || info->command == CliOptions::firmware;

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(info->summary));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("JSON Lines on standard output, one object per event."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The module on port P: a name as list shows it (pts/3, COM5) or a "
                                                 "device node (/dev/ttyACM0). May be given several times."),
                                  QStringLiteral("P"));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Every module found, all at once."));
    const QCommandLineOption rescan(QStringLiteral("rescan-ms"),
                                    QStringLiteral("Look for modules every N ms besides the device-change events "
                                                   "(default 2000)."),
                                    QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption variant(QStringLiteral("variant"),
                                     QStringLiteral("The identity query to run first: cellular (AT+INFO, AT+LVER; "
                                                    "the default) or wifi (AT+WSMAC, AT+LVER, AT+SVER, AT+DEVSN)."),
                                     QStringLiteral("cellular|wifi"), QStringLiteral("cellular"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("The trace of these layers on standard error: link, worker, "
                                                  "protocol, xmodem, discovery, journal, or all."),
                                   QStringLiteral("LAYER[,LAYER]"));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("Upload each record to this PostgreSQL database too (a libpq URI)."),
                                QStringLiteral("URL"));
    parser.addOption(help);
    parser.addOption(json);
    parser.addOption(trace);
    if (options->watch) {
        parser.addOption(variant);
        parser.addOption(rescan);
        parser.addOption(db);
    } else if (info->command != CliOptions::list) {
        parser.addOption(port);
        parser.addOption(all);
        parser.addOption(variant);
    }
    if (with_image)
        parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("The image file to send, byte for byte."));

    if (!parser.parse(rest)) {
        *error = parser.errorText();
        return ParseResult::usage_error;
    }
    if (parser.isSet(help)) {
        // Qt's first line names the program alone; the command belongs in it.
        out << "Usage: kv20-cli " << (options->watch ? "watch " : "") << info->name << " [options]"
            << (with_image ? " IMAGE" : "") << "\n"
            << parser.helpText().section(QLatin1Char('\n'), 1);
        return ParseResult::help_shown;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != (with_image ? 1 : 0)) {
        *error = with_image ? QStringLiteral("%1 takes exactly one IMAGE").arg(QString::fromLatin1(info->name))
                            : QStringLiteral("unexpected argument \"%1\"").arg(positional.value(0));
        return ParseResult::usage_error;
    }
    if (with_image)
        options->image = positional.at(0);
    options->json = parser.isSet(json);
    if (!trace_rules(parser.values(trace).join(QLatin1Char(',')), &options->trace_rules, error))
        return ParseResult::usage_error;
    if (info->command == CliOptions::list)
        return ParseResult::run;

    if (options->watch) {
        bool number = false;
        options->rescan_ms = parser.value(rescan).toInt(&number);
        if (!number || options->rescan_ms < 50) {
            *error = QStringLiteral("--rescan-ms takes a number of milliseconds, at least 50");
            return ParseResult::usage_error;
        }
        options->db_url = parser.value(db);
    } else {
        options->ports = parser.values(port);
        options->all = parser.isSet(all);
    }
    const QString kind = parser.value(variant);
    if (kind != QLatin1String("cellular") && kind != QLatin1String("wifi")) {
        *error = QStringLiteral("--variant takes cellular or wifi, not \"%1\"").arg(kind);
        return ParseResult::usage_error;
    }
    options->cellular = kind == QLatin1String("cellular");
    if (options->all && !options->ports.isEmpty()) {
        *error = QStringLiteral("--all and --port exclude each other");
        return ParseResult::usage_error;
    }
    return ParseResult::run;
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
