#include "cli/command_table.h"

#include "cli/db_commands.h"
#include "cli/module_commands.h"
#include "cli/report_command.h"
#include "trace/trace_option.h"

#include <QCommandLineParser>

namespace {

const CliOption json_lines {"json", nullptr, "JSON Lines on standard output, one object per event."};
const CliOption port {"port", "P",
                      "The module on port P: a name as list shows it (pts/3, COM5) or a device node "
                      "(/dev/ttyACM0). May be given several times."};
const CliOption all {"all", nullptr, "Every module found, all at once."};
const CliOption variant {"variant", "cellular|wifi",
                         "The identity query to run first: cellular (AT+INFO, AT+LVER) or wifi (AT+WSMAC, "
                         "AT+LVER, AT+SVER, AT+DEVSN).",
                         "cellular"};
const CliOption operator_id {"operator", "ID", "Who serves the modules: into every record (operator column)."};
const CliOption work_order {"work-order", "WO", "The work order served: into every record (work_order column)."};
const CliOption database {"db", "URL", "The line's PostgreSQL database, a libpq connection URI."};

const char one_shot_help[] =
    "Without --port or --all it takes the first module found, as the window\n"
    "does. Each module's result is a line (pts/3: ok), or a JSON Lines event.\n";

const char watch_help[] =
    "Started once per shift: every module present and every module plugged in\n"
    "later gets the operation as soon as it appears, several at once, each on\n"
    "its own worker thread, and once: a module left plugged in after its\n"
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
    "that can no longer be written does the same, with 141.\n";

const char report_help[] =
    "Reads the results journals of one or many stations (kv20-journal.csv and\n"
    "the side files kv20-journal-unsaved-*.csv) and tells how many modules went\n"
    "through, the first-pass and final yield, modules per hour, failures by\n"
    "detail, each station's and port's yield and durations, and which images\n"
    "were written. A record names its station in the journal's station column;\n"
    "in journals from before that column a station is named by its journal's\n"
    "folder (line2/station3/kv20-journal.csv is station3); a journal renamed,\n"
    "such as station3.csv, by its file name. Rows that cannot be read are\n"
    "counted and named by file and line. With --db the records come from the\n"
    "line's database that kv20-cli upload fills; the figures are those of the\n"
    "same records' journals. Without --html or --json a summary is printed.\n"
    "\n"
    "Exit status: 0; 1 when no record falls in the range or the database\n"
    "cannot be read; 2 usage error, a file that cannot be read as a journal or\n"
    "a page that cannot be written; 141 when standard output cannot be written.\n";

const char db_init_help[] =
    "Running it again changes nothing. URL is a libpq connection URI,\n"
    "postgresql://USER@HOST:PORT/DATABASE?sslmode=require; the password comes\n"
    "from PGPASSWORD or the password file (~/.pgpass,\n"
    "%APPDATA%\\postgresql\\pgpass.conf on Windows), never from the command line.\n"
    "\n"
    "Exit status: 0; 1 the database refused or cannot be reached; 2 usage error.\n";

const char upload_help[] =
    "In batches; a record already there is left as it is, so that running it\n"
    "again sends nothing twice. Without JOURNAL: kv20-journal.csv, its side\n"
    "files and the older journals set aside in the working directory. Where\n"
    "each journal's upload stands is kept beside it in JOURNAL.uploaded.\n"
    "URL as for kv20-cli db init --help.\n"
    "\n"
    "Exit status: 0 every record is in the database; 1 one is not (the database\n"
    "cannot be reached or refused, a record cannot be read); 2 usage error.\n";

const std::vector<CliCommand> commands {
    {"list", "[--json]", "List the module ports discovery finds: port, device node, name, slot.", "",
     {json_lines}, run_list_command},
    {"query", "[--port P]... [--all] [--variant cellular|wifi] [--json]\n[--operator ID] [--work-order WO]",
     "Read each module's identity: device number, IMEI or MAC, versions.", one_shot_help,
     {port, all, variant, json_lines, operator_id, work_order}, run_operation_command},
    {"audio", "IMAGE [--port P]... [--all]\n[--variant cellular|wifi] [--json]\n[--operator ID] [--work-order WO]",
     "Replace each module's audio image with IMAGE (AT+XUPDATE, XMODEM-1K).", one_shot_help,
     {port, all, variant, json_lines, operator_id, work_order}, run_operation_command},
    {"firmware", "IMAGE [--port P]... [--all]\n[--variant cellular|wifi] [--json]\n[--operator ID] [--work-order WO]",
     "Upgrade each module's firmware with IMAGE (AT+FOTA, XMODEM-1K).", one_shot_help,
     {port, all, variant, json_lines, operator_id, work_order}, run_operation_command},
    {"watch", "query|audio IMAGE|firmware IMAGE\n[--variant cellular|wifi] [--json] [--rescan-ms N] [--db URL]\n[--operator ID] [--work-order WO] [--again allow|warn|block]",
     "Line mode: every module plugged in served once, until Ctrl-C.", watch_help,
     {variant, json_lines, operator_id, work_order,
      {"rescan-ms", "N", "Look for modules every N ms besides the device-change events.", "2000"},
      {"db", "URL", "Upload each record to this database as well (kv20-cli upload --help)."},
      {"again", "allow|warn|block",
       "A module served before (an ok record for its identity in this folder's journals, or with --db in the "
       "database): served as any other, served and its record naming the earlier one, or not written to.",
       "allow"}},
     run_watch_command},
    {"report", "JOURNAL...|--db URL [--from TIME] [--to TIME]\n[--station NAME]... [--operator ID]... [--work-order WO]...\n[--html FILE] [--json]",
     "A shift's figures from journals or the database: summary, JSON, HTML.", report_help,
     {{"from", "TIME",
       "Leave out records before TIME, a local date-time as the journals write it: 2026-12-06T06:00 "
       "(or a date alone)."},
      {"to", "TIME", "Leave out records from TIME on."},
      {"station", "NAME", "Only this station's records (again for more stations)."},
      {"operator", "ID", "Only the records this operator served (again for more)."},
      {"work-order", "WO", "Only the records of this work order (again for more)."},
      {"html", "FILE", "Write the report as one HTML page (charts included, no script, nothing loaded from elsewhere)."},
      {"json", nullptr, "Print the figures as one JSON object (keys in kv20-cli(1))."},
      {"db", "URL", "Read the records from the line's database instead (kv20-cli db init --help)."}},
     run_report_command},
    {"db init", "--db URL", "Create the database's tables, or bring them up to this version.", db_init_help,
     {database}, run_db_init_command},
    {"upload", "--db URL [JOURNAL...]", "Send every record of the journals that the database does not have yet.",
     upload_help, {database}, run_upload_command},
};

} // namespace

const std::vector<CliCommand> &cli_commands()
{
    return commands;
}

void add_command_options(const CliCommand &command, QCommandLineParser *parser)
{
    for (const CliOption &option : command.options) {
        QString text = QString::fromLatin1(option.text);
        if (option.default_value)
            text += QStringLiteral(" Default: %1.").arg(QLatin1String(option.default_value));
        parser->addOption({QLatin1String(option.name), text, QLatin1String(option.value_name),
                           QLatin1String(option.default_value)});
    }
    parser->addOption({QStringLiteral("trace"),
                       QStringLiteral("The trace of these layers on standard error: %1 or all.").arg(trace_layer_names()),
                       QStringLiteral("LAYER[,LAYER]")});
    parser->addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")});
}
