#include "cli/report_command.h"

#include "cli/cli_messages.h"
#include "cli/cli_options.h"
#include "cli/output_format.h"
#include "journal/journal_format.h"
#include "journal/operation_record.h"

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

bool journal_file_name(const QString &name)
{
    return name == journal_text(journal_format::file_name)
           || (name.startsWith(journal_text(journal_format::side_file_prefix))
               && name.endsWith(journal_text(journal_format::side_file_suffix)));
}

// The station a journal belongs to: its folder, unless the file has been
// renamed (several stations' journals side by side in one folder) or sits
// at the top of a drive.
QString station_of(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = info.absoluteDir().dirName();
    if (journal_file_name(info.fileName()) && !folder.isEmpty())
        return folder;
    return info.completeBaseName();
}

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
    parser.addOptions({help, from, to, html, json});
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
    if (journals.isEmpty()) {
        complain(QStringLiteral("report takes at least one JOURNAL (kv20-cli report --help)"));
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
    for (const QString &path : journals) {
        QString error;
        if (!read_journal(path, station_of(path), &tally, &error)) {
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
                                                        : QStringLiteral("no record in the journals"));
        return failed;
    }
    return all_ok;
}
