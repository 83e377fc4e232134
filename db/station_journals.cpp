#include "db/station_journals.h"

#include "journal/journal_format.h"

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
