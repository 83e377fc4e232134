#include "cli/report_command.h"

#include "cli/cli_messages.h"
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

#include <QDateTime>
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

ExitCode run_report_command(const CommandLine &line)
{
    const QStringList &journals = line.positional;
    if (journals.isEmpty() == !line.is_set("db"))
        return line.refuse(journals.isEmpty() ? QStringLiteral("report takes at least one JOURNAL or --db URL")
                                              : QStringLiteral("report takes JOURNAL... or --db URL, not both"));
    const bool bounded[2] = {line.is_set("from"), line.is_set("to")};
    const QString bound_text[2] = {line.value("from"), line.value("to")};
    qint64 bounds[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        if (bounded[i] && !parse_local_time(bound_text[i], &bounds[i]))
            return line.refuse(QStringLiteral("--%1 takes a local date-time such as 2026-12-06T06:00, not \"%2\"")
                                   .arg(QLatin1String(i == 0 ? "from" : "to"), bound_text[i]));
    }
    if (bounded[0] && bounded[1] && bounds[0] >= bounds[1])
        return line.refuse(QStringLiteral("--from %1 is not before --to %2").arg(bound_text[0], bound_text[1]));

    ShiftTally tally(bounded[0], bounds[0], bounded[1], bounds[1]);
    tally.only_stations(line.values("station"));
    tally.only_served_by(line.values("operator"), line.values("work-order"));
    if (line.is_set("db")) {
        const QString url = line.value("db");
        PgLink link;
        QString error;
        QByteArray identity;
        const bool read = link.connect(url, &error) && db_schema::check(&link, &identity, &error)
                          && read_database_records(&link, bounded[0], bounds[0], bounded[1], bounds[1],
                                                   line.values("station"), &tally,
                                                   tally.add_file(PgLink::describe(url), QString()), &error)
                          && read_database_label_events(&link, bounded[0], bounds[0], bounded[1], bounds[1],
                                                        line.values("station"), &tally, &error);
        if (!read) {
            complain(QStringLiteral("database %1: %2").arg(PgLink::describe(url), error));
            return failed;
        }
    }
    QStringList folders;
    for (const QString &path : journals) {
        QString error;
        if (!read_journal(path, station_of_journal_path(path), &tally, &error)) {
            complain(error);
            return usage;
        }
        // The labels of a journal's passes are beside it, once a folder.
        const QString folder = QFileInfo(path).absolutePath();
        if (!folders.contains(folder)) {
            folders << folder;
            if (!read_label_journals(folder, &tally, &error)) {
                complain(error);
                return usage;
            }
        }
    }
    const ShiftFigures figures = tally.figures();
    if (line.is_set("html")) {
        QString error;
        if (!write_page(line.value("html"), report_page(figures, QDateTime::currentDateTime()), &error)) {
            complain(error);
            return usage;
        }
    }
    const QByteArray out = line.is_set("json")   ? report_json(figures)
                           : line.is_set("html") ? QStringLiteral("report page written to %1\n").arg(line.value("html")).toUtf8()
                                                 : report_text(figures);
    // A report cut short must not pass for a whole one.
    write_out(out);
    if (output_lost()) {
        complain(QStringLiteral("standard output cannot be written"));
        return output_gone;
    }
    if (figures.records == 0) {
        complain(bounded[0] || bounded[1] ? QStringLiteral("no record falls in the range")
                 : line.is_set("db")      ? QStringLiteral("no record in the database")
                                          : QStringLiteral("no record in the journals"));
        return failed;
    }
    return all_ok;
}
