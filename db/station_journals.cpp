#include "db/station_journals.h"

#include "journal/journal_format.h"
#include "journal/journal_reader.h"

#include <QDir>
#include <QFileInfo>

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

void read_ok_records(const QString &folder, const std::function<void(const JournalReader &)> &take)
{
    for (const QString &path : station_journals(folder)) {
        JournalReader reader;
        QString error;
        if (!reader.open(path, &error))
            continue;
        const char *reason = nullptr;
        while (reader.next(&reason)) {
            if (!reason && reader.record().ok)
                take(reader);
        }
    }
}
