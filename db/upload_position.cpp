#include "db/upload_position.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>

namespace {

QByteArray head_hash(const QString &journal, qint64 offset)
{
    QFile file(journal);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray head = file.read(qMin(offset, UploadPosition::head_bytes));
    return QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex();
}

} // namespace

QString UploadPosition::file_for(const QString &journal)
{
    return journal + QStringLiteral(".uploaded");
}

qint64 UploadPosition::load(const QString &journal, const QByteArray &database)
{
    QFile file(file_for(journal));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Three lines: database, offset, hash of the head.
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.size() < 3 || lines[0] != database)
        return 0;
    bool number = false;
    const qint64 offset = lines[1].toLongLong(&number);
    if (!number || offset < 0 || QFile(journal).size() < offset || head_hash(journal, offset) != lines[2])
        return 0;
    return offset;
}

bool UploadPosition::save(const QString &journal, const QByteArray &database, qint64 offset, QString *error)
{
    QSaveFile file(file_for(journal));
    const QByteArray text = database + '\n' + QByteArray::number(offset) + '\n' + head_hash(journal, offset) + '\n';
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    *error = QStringLiteral("%1: cannot be written: %2").arg(file.fileName(), file.errorString());
    return false;
}
