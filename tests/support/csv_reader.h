#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QTextCodec>

// A file's bytes; none where it cannot be read (a journal not written yet).
inline QByteArray read_file(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// UTF-8 as it stands: a byte-order mark or a NUL inside a value is part of
// it (QString::fromUtf8 would drop the one at the start and stop at the other).
inline QString utf8_text(const QByteArray &bytes)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
}

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
            fields << utf8_text(field);
            field.clear();
        } else if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') {
            fields << utf8_text(field);
            records << fields;
            fields.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !fields.isEmpty())
        records << (fields << utf8_text(field));
    return records;
}
