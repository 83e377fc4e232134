#include "db/db_command.h"

#include "db/db_schema.h"
#include "db/journal_upload.h"
#include "db/pg_link.h"
#include "journal/journal_format.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

enum ExitCode { done = 0, not_done = 1, usage = 2, output_gone = 141 };

bool write_out(const QByteArray &bytes, FILE *stream = stdout)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    return std::fflush(stream) == 0 && !std::ferror(stream);
}

void complain(const QString &line)
{
    write_out("kv20-cli: " + line.toUtf8() + '\n', stderr);
}

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
        *code = write_out(help_text) ? done : output_gone;
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

// Connects and brings the schema up (db_schema::init) or checks it
// (db_schema::check); false once the operator was told why not.
bool open(PgLink *link, const QString &url, bool (*schema)(PgLink *, QString *))
{
    QString error;
    if (link->connect(url, &error) && schema(link, &error))
        return true;
    complain(QStringLiteral("database %1: %2").arg(PgLink::describe(url), error));
    return false;
}

} // namespace

QStringList station_journals(const QString &folder)
{
    const auto text = [](std::string_view s) { return QString::fromLatin1(s.data(), int(s.size())); };
    const QDir dir(folder);
    QStringList journals;
    if (QFileInfo(dir.filePath(text(journal_format::file_name))).isFile())
        journals << dir.filePath(text(journal_format::file_name));
    for (const std::string_view prefix : {journal_format::side_file_prefix, journal_format::older_file_prefix}) {
        for (const QString &name : dir.entryList({text(prefix) + QLatin1Char('*') + text(journal_format::side_file_suffix)},
                                                 QDir::Files, QDir::Name))
            journals << dir.filePath(name);
    }
    return journals;
}

int run_db_init_command(const QStringList &arguments)
{
    QString url;
    QStringList rest;
    int code = done;
    if (!parse(arguments, 2, init_help, false, &url, &rest, &code))
        return code;
    PgLink link;
    if (!open(&link, url, db_schema::init))
        return not_done;
    return write_out(QStringLiteral("schema version %1 in %2\n").arg(db_schema::version).arg(PgLink::describe(url)).toUtf8())
               ? done
               : output_gone;
}

int run_upload_command(const QStringList &arguments)
{
    QString url, error;
    QStringList journals;
    int code = done;
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
    if (!open(&link, url, db_schema::check))
        return not_done;
    JournalUpload upload;
    upload.link = &link;
    upload.database = PgLink::describe(url).toUtf8();
    upload.unreadable = [](const QString &line) { complain(QStringLiteral("unreadable record: ") + line); };
    UploadCounts counts;
    bool all_sent = true;
    for (const QString &path : journals) {
        if (!upload.run(path, &counts, &error)) {
            complain(QStringLiteral("%1: not all sent: %2").arg(path, error));
            all_sent = false;
            if (!link.connected())
                break;  // the rest would fail the same way
        }
    }
    const QString summary = QStringLiteral("%1 sent, %2 already there, %3 unreadable (%4 journals, %5)\n")
                                .arg(counts.sent)
                                .arg(counts.already_there)
                                .arg(counts.unreadable)
                                .arg(journals.size())
                                .arg(PgLink::describe(url));
    if (!write_out(summary.toUtf8()))
        return output_gone;
    return all_sent && counts.unreadable == 0 ? done : not_done;
}
