#include "protocol/reply_text.h"

namespace {
const QString marker = QStringLiteral("+ok=");
}

QString reply_text(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

bool extract_marker_value(const QString &reply, QString *value)
{
    const int p = reply.indexOf(marker);
    if (p < 0)
        return false;
    const int e = reply.indexOf(QStringLiteral("\r\n"));
    const int length = e - p - 4;
    *value = length < 0 ? reply.mid(p + 4) : reply.mid(p + 4, length);
    return true;
}

bool split_info_value(const QString &reply, QStringList *fields, int *value_length)
{
    if (!reply.contains(marker))
        return false;
    const QString value = reply.split(marker).at(1);
    *value_length = value.size();
    *fields = value.split(QLatin1Char(','));
    return true;
}
