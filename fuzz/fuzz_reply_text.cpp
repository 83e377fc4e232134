// Reply decoding and value extraction on arbitrary bytes, and on arbitrary
// UTF-16 text (lone surrogates included) that no UTF-8 decoder would produce.
#include "fuzz/fuzz_oracles.h"
#include "fuzz/fuzz_targets.h"
#include "protocol/reply_text.h"

#include <algorithm>

namespace {

const QString marker = QStringLiteral("+ok=");

QString quoted(const QString &s)
{
    QString out;
    for (QChar ch : s) {
        if (ch.unicode() >= 0x20 && ch.unicode() < 0x7f && ch != QLatin1Char('%'))
            out += ch;
        else
            out += QStringLiteral("\\u%1").arg(ch.unicode(), 4, 16, QLatin1Char('0'));
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString check_text_rules(const QString &text, const ReplyFunctions &f)
{
    const QString where = QStringLiteral(" for reply %1").arg(quoted(text));

    QString want;
    const bool want_found = reference::marker_value(text, &want);
    QString value;
    const bool found = f.extract_marker_value(text, &value);
    if (found != want_found)
        return QStringLiteral("extract_marker_value says found=%1, the text %2 the marker").arg(found).arg(want_found ? "holds" : "lacks") + where;
    if (found) {
        const int p = reference::index_of(text, marker);
        const int start = p + marker.size();
        // The value is a piece of the text right behind the first marker:
        // nothing before the marker, and nothing of the marker, leaks into it.
        if (text.mid(start, value.size()) != value)
            return QStringLiteral("value %1 does not start right behind the first marker (at %2)").arg(quoted(value)).arg(p) + where;
        const int line_end = reference::index_of(text, QStringLiteral("\r\n"));
        if (line_end >= start && value.size() != line_end - start)
            return QStringLiteral("value %1 does not end at the first CR LF (at %2)").arg(quoted(value)).arg(line_end) + where;
        if (line_end < start && value.size() != text.size() - start)
            return QStringLiteral("value %1 does not run to the end although the first CR LF (at %2) is not behind the marker")
                       .arg(quoted(value)).arg(line_end) + where;
        if (value != want)
            return QStringLiteral("value %1, expected %2").arg(quoted(value), quoted(want)) + where;
    }

    QString between;
    QStringList want_fields;
    const bool info = reference::info_value(text, &between, &want_fields);
    QStringList fields;
    int length = -1;
    if (f.split_info_value(text, &fields, &length) != info)
        return QStringLiteral("split_info_value disagrees on the marker") + where;
    if (info) {
        if (fields.join(QLatin1Char(',')) != between)
            return QStringLiteral("fields joined by commas give %1, the text between the markers is %2")
                       .arg(quoted(fields.join(QLatin1Char(','))), quoted(between)) + where;
        if (length != between.size())
            return QStringLiteral("value length %1, the text between the markers has %2").arg(length).arg(between.size()) + where;
        for (const QString &field : fields) {
            if (field.contains(QLatin1Char(',')) || field.contains(marker))
                return QStringLiteral("field %1 holds a comma or a marker").arg(quoted(field)) + where;
        }
        if (fields != want_fields)
            return QStringLiteral("%1 fields, expected %2").arg(fields.size()).arg(want_fields.size()) + where;
    }
    return QString();
}

} // namespace

QString check_reply_rules(const QByteArray &input, const ReplyFunctions &f)
{
    const QByteArray visible = reference::before_nul(input);
    const QString text = f.reply_text(input);
    const QString where = QStringLiteral(" for bytes %1").arg(QString::fromLatin1(input.left(64).toHex()));

    // Whatever follows a NUL never matters, whatever it is.
    QByteArray tail = input;
    std::reverse(tail.begin(), tail.end());
    if (f.reply_text(visible) != text || f.reply_text(visible + '\0' + tail) != text)
        return QStringLiteral("bytes after the first NUL change the reply text") + where;
    if (text.contains(QChar(0)))
        return QStringLiteral("the reply text holds a NUL") + where;
    if (text != reference::reply_text(input))
        return QStringLiteral("reply text %1 is not the UTF-8 decoding up to the first NUL").arg(quoted(text)) + where;
    // Decoding must not create or swallow ASCII, so the markers seen in the
    // text are exactly those in the bytes.
    if ((reference::index_of(visible, marker.toLatin1()) >= 0) != text.contains(marker))
        return QStringLiteral("decoding changed whether the marker is present") + where;

    QString finding = check_text_rules(text, f);
    if (!finding.isEmpty())
        return finding;

    // The same bytes read as UTF-16 reach text the decoder never produces.
    QString wide;
    for (int i = 0; i + 1 < input.size(); i += 2)
        wide.append(QChar(static_cast<ushort>(quint8(input.at(i)) | (quint8(input.at(i + 1)) << 8))));
    return check_text_rules(wide, f);
}

QString fuzz_reply_text(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<int>(size));
    return check_reply_rules(input, {reply_text, extract_marker_value, split_info_value});
}

KV20_FUZZ_ENTRY(fuzz_reply_text)
