#include "db/upload_position.h"

#include <QFile>
#include <QSaveFile>

namespace {

// The file's first line: a position of this kind, not of the programs
// before it (which trusted the URL as written and the journal's first bytes).
const QByteArray format_line = "kv20 upload position 2";

} // namespace

QString UploadPosition::file_for(const QString &journal)
{
    return journal + QStringLiteral(".uploaded");
}

bool UploadPosition::load(const QString &journal, UploadPosition *position)
{
    QFile file(file_for(journal));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.value(0) != format_line)
        return false;
    *position = UploadPosition();
    bool read = true;
    const auto number = [&read](const QByteArray &text) {
        bool ok = false;
        const qint64 n = text.toLongLong(&ok);
        read = read && ok && n >= 0;
        return n;
    };
    int fields_read = 0;
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> f = line.split(' ');
        const QByteArray &key = f.value(0);
        if (key == "database" && f.size() == 2) {
            position->database = f[1];
        } else if (key == "place" && f.size() == 5) {
            position->place = {number(f[1]), number(f[2]), number(f[3]), f[4] == "-" ? QByteArray() : f[4]};
            ++fields_read;
        } else if (key == "last_record" && f.size() == 2) {
            position->last_record = f[1] == "-" ? QByteArray() : f[1];
            ++fields_read;
        } else if (key == "unreadable" && f.size() >= 6) {
            position->unreadable.append(
                {number(f[1]), number(f[2]), number(f[3]), f[4], QString::fromUtf8(f.mid(5).join(' '))});
        } else if (!line.isEmpty()) {
            read = false;
        }
    }
    return read && fields_read == 2 && !position->database.isEmpty();
}

bool UploadPosition::save(const QString &journal, QString *error) const
{
    QByteArray text = format_line + '\n';
    text += "database " + database + '\n';
    text += "place " + QByteArray::number(place.offset) + ' ' + QByteArray::number(place.line) + ' '
            + QByteArray::number(place.last_start) + ' ' + (place.last_sha256.isEmpty() ? "-" : place.last_sha256) + '\n';
    text += "last_record " + (last_record.isEmpty() ? QByteArray("-") : last_record) + '\n';
    for (const JournalRecords::Unreadable &u : unreadable)
        text += "unreadable " + QByteArray::number(u.start) + ' ' + QByteArray::number(u.end) + ' '
                + QByteArray::number(u.line) + ' ' + u.sha256 + ' ' + u.reason.toUtf8() + '\n';
    QSaveFile file(file_for(journal));
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    *error = QStringLiteral("%1: cannot be written: %2").arg(file.fileName(), file.errorString());
    return false;
}

bool UploadPosition::fits(const JournalRecords &records) const
{
    return fits_with(records.start().offset, [&records](qint64 start, qint64 end, const QByteArray &sha256) {
        return records.holds(start, end, sha256);
    });
}

bool UploadPosition::fits(const QString &file, qint64 rows_start) const
{
    return fits_with(rows_start, [&file](qint64 start, qint64 end, const QByteArray &sha256) {
        return !sha256.isEmpty() && JournalRecords::sha256_of(file, start, end) == sha256;
    });
}

bool UploadPosition::fits_with(qint64 rows_start, const std::function<bool(qint64, qint64, const QByteArray &)> &holds) const
{
    if (place.offset < rows_start)
        return false;
    if (place.offset > rows_start && !holds(place.last_start, place.offset, place.last_sha256))
        return false;
    for (const JournalRecords::Unreadable &u : unreadable) {
        if (u.end > place.offset || !holds(u.start, u.end, u.sha256))
            return false;
    }
    return true;
}
