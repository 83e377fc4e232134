#include "journal/station_name.h"

#include "journal/ini_file.h"
#include "journal/journal_format.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace {

QLatin1String latin1(std::string_view text)
{
    return QLatin1String(text.data(), int(text.size()));
}

} // namespace

QString station_name(const QString &folder)
{
    for (const char *file : {"station.ini", "config.ini"}) {
        const QString path = QDir(folder).filePath(QLatin1String(file));
        // Taken whole: operators write names such as "line2, 工位3" by hand.
        IniFile ini;
        if (!read_ini(path, &ini))
            continue;
        QString name = ini.values.value(QStringLiteral("station/name"));
        // QSettings writes a value with a comma into config.ini in quotes.
        if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
            name = name.mid(1, name.size() - 2).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return QSysInfo::machineHostName();
}

QString station_of_journal_path(const QString &path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const bool journal_name = name == latin1(journal_format::file_name)
                              || ((name.startsWith(latin1(journal_format::side_file_prefix))
                                   || name.startsWith(latin1(journal_format::older_file_prefix)))
                                  && name.endsWith(latin1(journal_format::side_file_suffix)));
    const QString folder = info.absoluteDir().dirName();
    if (journal_name && !folder.isEmpty())
        return folder;
    return info.completeBaseName();
}
