#include "cli/db_commands.h"

#include "cli/cli_messages.h"
#include "cli/output_format.h"
#include "db/db_schema.h"
#include "db/journal_upload.h"
#include "db/pg_link.h"
#include "db/station_journals.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

const char init_help[] =
    "Usage: kv20-cli db init --db URL\n"
    "\n"
    "Creates the tables the stations upload their records to, or brings them\n"
    "up to this version; running it again changes nothing. URL is a libpq\n"
    "connection URI, postgresql://USER@HOST:PORT/DATABASE?sslmode=require;\n"
    "the password comes from PGPASSWORD or the password file (~/.pgpass,\n"
    "%APPDATA%\\postgresql\\pgpass.conf on Windows), never from the command line.\n";

const char upload_help[] =
    "Usage: kv20-cli upload --db URL [JOURNAL...]\n"
    "\n"
    "Sends every record of the journals that the database does not have yet,\n"
    "in batches; a record already there is left as it is, so that running it\n"
    "again sends nothing twice. Without JOURNAL: kv20-journal.csv, its side\n"
    "files and the older journals set aside in the working directory. Where\n"
    "each journal's upload stands is kept beside it in JOURNAL.uploaded.\n"
    "URL as for kv20-cli db init --help.\n"
    "\n"
    "Exit status: 0 every record is in the database; 1 one is not (the database\n"
    "cannot be reached or refused, a record cannot be read); 2 usage error.\n";

// The command's options; false with the exit code in *code when it is not
// to run.
bool parse(const QStringList &arguments, int skip, const char *help_text, bool positionals, QString *url,
           QStringList *rest, int *code)
{
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption db(QStringLiteral("db"), QString(), QStringLiteral("URL"));
    parser.addOptions({help, db});
    QStringList args = arguments;
    for (int i = 0; i < skip; ++i)
        args.removeAt(1);
    const QString command = arguments.mid(1, skip).join(QLatin1Char(' '));
    if (!parser.parse(args)) {
        complain(parser.errorText() + QStringLiteral(" (kv20-cli %1 --help)").arg(command));
        *code = usage;
        return false;
    }
    if (parser.isSet(help)) {
        write_out(help_text);
        *code = output_lost() ? output_gone : all_ok;
        return false;
    }
    if (!parser.isSet(db) || parser.value(db).isEmpty()) {
        complain(QStringLiteral("%1 takes --db URL (kv20-cli %1 --help)").arg(command));
        *code = usage;
        return false;
    }
    if (!positionals && !parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("%1 takes no %2 (kv20-cli %1 --help)").arg(command, parser.positionalArguments().first()));
        *code = usage;
        return false;
    }
    *url = parser.value(db);
    *rest = parser.positionalArguments();
    return true;
}

// Connects and checks the schema (and learns the database's identity), or
// brings it up; false once the operator was told why not.
bool open(PgLink *link, const QString &url, bool init, QByteArray *identity)
{
    QString error;
    if (link->connect(url, &error) && (init ? db_schema::init(link, &error) : true)
        && db_schema::check(link, identity, &error))
        return true;
    complain(QStringLiteral("database %1: %2").arg(PgLink::describe(url), error));
    return false;
}

} // namespace

int run_db_init_command(const QStringList &arguments)
{
    QString url;
    QStringList rest;
    int code = all_ok;
    if (!parse(arguments, 2, init_help, false, &url, &rest, &code))
        return code;
    PgLink link;
    QByteArray identity;
    if (!open(&link, url, true, &identity))
        return failed;
    say(QStringLiteral("schema version %1 in %2").arg(db_schema::version).arg(shown_text(PgLink::describe(url))));
    return output_lost() ? output_gone : all_ok;
}

int run_upload_command(const QStringList &arguments)
{
    QString url, error;
    QStringList journals;
    int code = all_ok;
    if (!parse(arguments, 1, upload_help, true, &url, &journals, &code))
        return code;
    if (journals.isEmpty())
        journals = station_journals(QDir::currentPath());
    for (const QString &path : journals) {
        if (!QFileInfo(path).isFile()) {
            complain(QStringLiteral("%1: no such journal").arg(path));
            return usage;
        }
    }
    PgLink link;
    QByteArray identity;
    if (!open(&link, url, false, &identity))
        return failed;
    JournalUpload upload;
    upload.link = &link;
    upload.database = identity;
    upload.unreadable = [](const QString &row) { complain(QStringLiteral("unreadable row: ") + row); };
    UploadCounts counts;
    bool all_sent = true;
    for (const QString &path : journals) {
        if (!upload.run(path, &counts, &error)) {
            complain(link.connected() ? QStringLiteral("%1: not all sent: %2").arg(path, error)
                                      : QStringLiteral("%1: not all sent: database %2: %3").arg(path, PgLink::describe(url), error));
            all_sent = false;
            if (!link.connected())
                break;  // the rest would fail the same way
        }
    }
    say(QStringLiteral("%1 sent, %2 already there, %3 unreadable (%4 journals, %5)")
            .arg(counts.sent)
            .arg(counts.already_there)
            .arg(counts.unreadable)
            .arg(journals.size())
            .arg(shown_text(PgLink::describe(url))));
    if (output_lost())
        return output_gone;
    return all_sent && counts.unreadable == 0 ? all_ok : failed;
}
