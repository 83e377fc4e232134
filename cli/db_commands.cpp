#include "cli/db_commands.h"

#include "cli/cli_messages.h"
#include "cli/output_format.h"
#include "db/db_schema.h"
#include "db/journal_upload.h"
#include "db/label_upload.h"
#include "db/pg_link.h"
#include "db/station_journals.h"
#include "journal/label_journal.h"

#include <QDir>
#include <QFileInfo>

namespace {

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

ExitCode run_db_init_command(const CommandLine &line)
{
    const QString url = line.value("db");
    if (url.isEmpty())
        return line.refuse(QStringLiteral("db init takes --db URL"));
    if (!line.positional.isEmpty())
        return line.refuse(QStringLiteral("db init takes no %1").arg(line.positional.first()));
    PgLink link;
    QByteArray identity;
    if (!open(&link, url, true, &identity))
        return failed;
    say(QStringLiteral("schema version %1 in %2").arg(db_schema::version).arg(shown_text(PgLink::describe(url))));
    return output_lost() ? output_gone : all_ok;
}

ExitCode run_upload_command(const CommandLine &line)
{
    const QString url = line.value("db");
    if (url.isEmpty())
        return line.refuse(QStringLiteral("upload takes --db URL"));
    QString error;
    QStringList journals = line.positional;
    if (journals.isEmpty())
        journals = station_journals(QDir::currentPath()) + LabelJournal::files_in(QDir::currentPath());
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
    LabelUpload labels;
    labels.link = &link;
    labels.database = identity;
    UploadCounts counts, label_counts;
    int label_files = 0;
    bool all_sent = true;
    for (const QString &path : journals) {
        const bool of_labels = LabelJournal::is_label_file(path);
        label_files += of_labels ? 1 : 0;
        if (!(of_labels ? labels.run(path, &label_counts, &error) : upload.run(path, &counts, &error))) {
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
            .arg(journals.size() - label_files)
            .arg(shown_text(PgLink::describe(url))));
    if (label_files > 0)
        say(QStringLiteral("label events: %1 sent, %2 already there, %3 unreadable (%4 label journals)")
                .arg(label_counts.sent)
                .arg(label_counts.already_there)
                .arg(label_counts.unreadable)
                .arg(label_files));
    if (output_lost())
        return output_gone;
    return all_sent && counts.unreadable == 0 && label_counts.unreadable == 0 ? all_ok : failed;
}
