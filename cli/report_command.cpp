#include "cli/report_command.h"

#include "cli/cli_messages.h"
#include "cli/cli_options.h"
#include "cli/output_format.h"
#include "db/db_report.h"
#include "db/db_schema.h"
#include "db/pg_link.h"
#include "journal/station_name.h"

#include "report/journal_reading.h"
#include "report/report_json.h"
#include "report/report_page.h"
#include "report/report_text.h"
#include "report/shift_tally.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>


namespace {

bool write_page(const QString &path, const QByteArray &page, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(page) == page.size() && file.commit())
        return true;
    *error = QStringLiteral("%1: cannot be written: %2").arg(path, file.errorString());
    return false;
}

} // namespace

int run_report_command(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("TIME"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("TIME"));
    const QCommandLineOption html(QStringLiteral("html"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption json(QStringLiteral("json"), QString());
    const QCommandLineOption db(QStringLiteral("db"), QString(), QStringLiteral("URL"));
    const QCommandLineOption station(QStringLiteral("station"), QString(), QStringLiteral("NAME"));
    parser.addOptions({help, from, to, html, json, db, station});
    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest)) {
        complain(parser.errorText() + QStringLiteral(" (kv20-cli report --help)"));
        return usage;
    }
    if (parser.isSet(help)) {
        write_out(report_help);
        return output_lost() ? output_gone : all_ok;
    }
    const QStringList journals = parser.positionalArguments();
    if (journals.isEmpty() == !parser.isSet(db)) {
        complain(journals.isEmpty() ? QStringLiteral("report takes at least one JOURNAL or --db URL (kv20-cli report --help)")
                                    : QStringLiteral("report takes JOURNAL... or --db URL, not both (kv20-cli report --help)"));
        return usage;
    }
    qint64 bounds[2] = {0, 0};
    const QCommandLineOption *bound_options[2] = {&from, &to};
    for (int i = 0; i < 2; ++i) {
        if (parser.isSet(*bound_options[i]) && !parse_local_time(parser.value(*bound_options[i]), &bounds[i])) {
            complain(QStringLiteral("--%1 takes a local date-time such as 2026-12-06T06:00, not \"%2\"")
                         .arg(bound_options[i]->names().constFirst(), parser.value(*bound_options[i])));
            return usage;
        }
    }
    if (parser.isSet(from) && parser.isSet(to) && bounds[0] >= bounds[1]) {
        complain(QStringLiteral("--from %1 is not before --to %2").arg(parser.value(from), parser.value(to)));
        return usage;
    }

    ShiftTally tally(parser.isSet(from), bounds[0], parser.isSet(to), bounds[1]);
    tally.only_stations(parser.values(station));
    if (parser.isSet(db)) {
        const QString url = parser.value(db);
        PgLink link;
        QString error;
        QByteArray identity;
        const bool read = link.connect(url, &error) && db_schema::check(&link, &identity, &error)
                          && read_database_records(&link, parser.isSet(from), bounds[0], parser.isSet(to), bounds[1],
                                                   parser.values(station), &tally,
                                                   tally.add_file(PgLink::describe(url), QString()), &error);
        if (!read) {
            complain(QStringLiteral("database %1: %2").arg(PgLink::describe(url), error));
            return failed;
        }
    }
    for (const QString &path : journals) {
        QString error;
        if (!read_journal(path, station_of_journal_path(path), &tally, &error)) {
            complain(error);
            return usage;
        }
    }
    const ShiftFigures figures = tally.figures();
    if (parser.isSet(html)) {
        QString error;
        if (!write_page(parser.value(html), report_page(figures, QDateTime::currentDateTime()), &error)) {
            complain(error);
            return usage;
        }
    }
    const QByteArray out = parser.isSet(json)   ? report_json(figures)
                           : parser.isSet(html) ? QStringLiteral("report page written to %1\n").arg(parser.value(html)).toUtf8()
                                                : report_text(figures);
    // A report cut short must not pass for a whole one.
    write_out(out);
    if (output_lost()) {
        complain(QStringLiteral("standard output cannot be written"));
        return output_gone;
    }
    if (figures.records == 0) {
        complain(parser.isSet(from) || parser.isSet(to) ? QStringLiteral("no record falls in the range")
                   : parser.isSet(db)                   ? QStringLiteral("no record in the database")
                                                        : QStringLiteral("no record in the journals"));
        return failed;
    }
    return all_ok;
}
