#include "report/html_text.h"

#include "report/report_json.h"

namespace {

// Safe in element content and in quoted attribute values alike.
void append_escaped(QString *out, const QString &text)
{
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': *out += QLatin1String("&amp;"); break;
        case '<': *out += QLatin1String("&lt;"); break;
        case '>': *out += QLatin1String("&gt;"); break;
        case '"': *out += QLatin1String("&quot;"); break;
        case '\'': *out += QLatin1String("&#39;"); break;
        // Control characters have no business on the page and some are not
        // allowed in it; a tab or a line break from a field shows as a blank.
        default: *out += c.unicode() < 0x20 || c.unicode() == 0x7f ? QChar(' ') : c;
        }
    }
}

} // namespace

void Markup::start_tag(const char *tag, Attributes attributes)
{
    out_ += QLatin1Char('<');
    out_ += QLatin1String(tag);
    for (const Attribute &a : attributes) {
        if (a.value.isEmpty())
            continue;
        out_ += QLatin1Char(' ');
        out_ += QLatin1String(a.name);
        out_ += QLatin1String("=\"");
        append_escaped(&out_, a.value);
        out_ += QLatin1Char('"');
    }
}

Markup &Markup::open(const char *tag, Attributes attributes)
{
    start_tag(tag, attributes);
    out_ += QLatin1Char('>');
    return *this;
}

Markup &Markup::close(const char *tag)
{
    out_ += QLatin1String("</");
    out_ += QLatin1String(tag);
    out_ += QLatin1Char('>');
    return *this;
}

Markup &Markup::element(const char *tag, Attributes attributes, const QString &text)
{
    return open(tag, attributes).text(text).close(tag);
}

Markup &Markup::empty(const char *tag, Attributes attributes)
{
    start_tag(tag, attributes);
    out_ += QLatin1String("/>");
    return *this;
}

Markup &Markup::text(const QString &text)
{
    append_escaped(&out_, text);
    return *this;
}

Markup &Markup::add(const Markup &part)
{
    out_ += part.out_;
    return *this;
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
