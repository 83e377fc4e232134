#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// An INI file as engineers write it by hand (station.ini, config.ini): UTF-8
// with or without a byte-order mark, a comment on a line of its own (`;` or
// `#` first), `[section]` lines, and `key=value` lines whose value is taken
// whole, blanks around it trimmed. Read by hand, not through QSettings, which
// sorts a section's keys and reads a value with a comma as a list.
struct IniFile
{
    // By "section/key", both in lower case; a key given twice has its last value.
    QHash<QString, QString> values;
    // By section, in lower case: each line's key and value as written, in the
    // file's order.
    QHash<QString, QList<QPair<QString, QString>>> lines;
};

// False when the file cannot be read.
bool read_ini(const QString &path, IniFile *ini);
