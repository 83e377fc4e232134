#include "report/html_text.h"

#include "report/report_json.h"

QString html_escaped(const QString &text)
{
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        // Control characters have no business on the page and some are not
        // allowed in it; a tab or a line break from a field shows as a blank.
        default: out += c.unicode() < 0x20 || c.unicode() == 0x7f ? QChar(' ') : c;
        }
    }
    return out;
}

QString grouped(quint64 n)
{
    QString digits = QString::number(n);
    for (int i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QChar(0x202F));
    return digits;
}

QString percent_text(quint64 part, quint64 whole)
{
    return whole == 0 ? QStringLiteral("–") : QString::number(percent(part, whole), 'f', 1) + QStringLiteral(" %");
}
