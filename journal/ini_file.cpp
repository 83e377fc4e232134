#include "journal/ini_file.h"

#include <QFile>

bool read_ini(const QString &path, IniFile *ini)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QString section;
    // Engineers write names in Chinese; Notepad may put a byte-order mark
    // first.
    const QString all = QString::fromUtf8(file.readAll()).remove(QChar(0xFEFF));
    for (QString line : all.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed(), value = line.mid(equals + 1).trimmed();
        ini->lines[section].append({key, value});
        ini->values.insert(section + QLatin1Char('/') + key.toLower(), value);
    }
    return true;
}
