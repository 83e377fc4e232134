#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

// An RFC 4180 reader written apart from the journal's writer, so that a
// quoting fault on one side is not mirrored on the other. Records end in
// CR LF; a UTF-8 byte-order mark at the start is skipped.
inline QList<QStringList> read_csv(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QList<QStringList> records;
    QStringList fields;
    QByteArray field;
    bool quoted = false;
    for (int i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes.at(i + 1) == '"')
                field += bytes.at(++i);
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields << QString::fromUtf8(field);
            field.clear();
        } else if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') {
            fields << QString::fromUtf8(field);
            records << fields;
            fields.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !fields.isEmpty())
        records << (fields << QString::fromUtf8(field));
    return records;
}
