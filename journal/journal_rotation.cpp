#include "journal/journal_file.h"

#include "journal/journal_format.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

bool journal_outdated(qint64 file_size, const JournalReadAt &read_at, const QByteArray &preamble, bool *outdated)
{
    const qint64 size = qMin<qint64>(file_size, preamble.size());
    QByteArray start(int(size), Qt::Uninitialized);
    if (size > 0 && !read_at(0, start.data(), size))
        return false;
    *outdated = !preamble.startsWith(start);
    return true;
}

QString older_journal_path(const QString &path)
{
    const auto text = [](std::string_view s) { return QString::fromLatin1(s.data(), int(s.size())); };
    const QString base = QFileInfo(path).absolutePath() + QLatin1Char('/') + text(journal_format::older_file_prefix)
                         + QDateTime::currentDateTime().toString(text(journal_format::side_file_stamp));
    QString candidate = base + text(journal_format::side_file_suffix);
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = base + QStringLiteral("-%1").arg(n) + text(journal_format::side_file_suffix);
    return QDir::toNativeSeparators(candidate);
}
