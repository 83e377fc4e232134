#include "report/report_command.h"

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

#include <cstdio>

namespace {

// 141: as every command of kv20-cli when its output goes away.
enum ExitCode { done = 0, nothing_in_range = 1, usage = 2, output_gone = 141 };

const char help_text[] =
    "Usage: kv20-cli report JOURNAL... [--from TIME] [--to TIME] [--html FILE] [--json]\n"
    "\n"
    "Reads the results journals of one or many stations (kv20-journal.csv and\n"
    "the side files kv20-journal-unsaved-*.csv) and tells how many modules went\n"
    "through, the first-pass and final yield, modules per hour, failures by\n"
    "detail, each station's and port's yield and durations, and which images\n"
    "were written. A station is named by its journal's folder\n"
    "(line2/station3/kv20-journal.csv is station3); a journal renamed, such as\n"
    "station3.csv, by its file name. Rows that cannot be read are counted and\n"
    "named by file and line.\n"
    "\n"
    "Options:\n"
    "  --from TIME   leave out records before TIME, a local date-time as the\n"
    "                journals write it: 2026-12-06T06:00 (or a date alone)\n"
    "  --to TIME     leave out records from TIME on\n"
    "  --html FILE   write the report as one HTML page (charts included, no\n"
    "                script, nothing loaded from elsewhere)\n"
    "  --json        print the figures as one JSON object (keys in kv20-cli(1))\n"
    "\n"
    "Without --html or --json a summary is printed.\n"
    "Exit status: 0; 1 when no record falls in the range; 2 usage error, a\n"
    "file that cannot be read as a journal or a page that cannot be written;\n"
    "141 when standard output cannot be written.\n";

// False when the output could not take it all (a full disk, a reader gone).
bool write_out(const QByteArray &bytes, FILE *stream = stdout)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    return std::fflush(stream) == 0 && !std::ferror(stream);
}

void complain(const QString &line)
{
    write_out("kv20-cli: " + line.toUtf8() + '\n', stderr);
}

bool journal_file_name(const QString &name)
{
    return name == QLatin1String("kv20-journal.csv")
           || (name.startsWith(QLatin1String("kv20-journal-unsaved-")) && name.endsWith(QLatin1String(".csv")));
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
        return write_out(help_text) ? done : output_gone;
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
    if (!write_out(out)) {
        complain(QStringLiteral("standard output cannot be written"));
        return output_gone;
    }
    if (figures.records == 0) {
        complain(parser.isSet(from) || parser.isSet(to) ? QStringLiteral("no record falls in the range")
                                                        : QStringLiteral("no record in the journals"));
        return nothing_in_range;
    }
    return done;
}
