#include "cli/output_format.h"

#include "cli/cli_messages.h"

#include <QJsonDocument>

#include <cstdio>

QString shown_text(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\r')
            shown += QLatin1String("\\r");
        else if (u == '\n')
            shown += QLatin1String("\\n");
        else if (u == '\t')
            shown += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            shown += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString rate_text(double bytes_per_second)
{
    return bytes_per_second >= 1024 ? QStringLiteral("%1 KiB/s").arg(bytes_per_second / 1024, 0, 'f', 1)
                                    : QStringLiteral("%1 B/s").arg(bytes_per_second, 0, 'f', 0);
}

QString result_line(const OperationRecord &r)
{
    const QString port = shown_text(r.port);
    if (!r.ok)
        return QStringLiteral("%1: failed: %2").arg(port, shown_text(detail_of(r)));
    if (r.operation != QLatin1String("query"))
        return QStringLiteral("%1: ok").arg(port);
    // The device fields under the journal's column names.
    return QStringLiteral("%1: ok device_number=%2 imei_or_mac=%3 iccid_or_audio_version=%4 device_version=%5")
        .arg(port, shown_text(r.device_number), shown_text(r.imei_or_mac), shown_text(r.iccid_or_audio_version),
             shown_text(r.device_version));
}

QJsonObject result_json(const OperationRecord &r)
{
    namespace format = journal_format;
    const auto key = [](format::Column column) { return journal_text(format::columns[column].name); };
    return {{key(format::port), r.port},
            {QStringLiteral("event"), QStringLiteral("result")},
            {key(format::operation), r.operation},
            {key(format::result), journal_text(result_word(r))},
            {key(format::detail), detail_of(r)},
            {key(format::device_number), r.device_number},
            {key(format::imei_or_mac), r.imei_or_mac},
            {key(format::iccid_or_audio_version), r.iccid_or_audio_version},
            {key(format::device_version), r.device_version},
            {key(format::image_sha256), QString::fromLatin1(r.image_sha256)},
            {key(format::duration_ms), double(r.duration_ms)},
            {key(format::operator_id), r.operator_id},
            {key(format::work_order), r.work_order},
            {key(format::again_of), r.earlier.record_id}};
}

QByteArray json_line(const QJsonObject &object)
{
    const QByteArray compact = QJsonDocument(object).toJson(QJsonDocument::Compact);
    // JSON lets DEL and the C1 controls (U+0080 to U+009F, C2 80 to C2 9F in
    // UTF-8) stand raw in a string, where a terminal still acts on them; as
    // \u escapes they read back the same. Outside a string they cannot occur.
    QByteArray line;
    line.reserve(compact.size() + 1);
    for (int i = 0; i < compact.size(); ++i) {
        const uchar c = uchar(compact.at(i)), next = i + 1 < compact.size() ? uchar(compact.at(i + 1)) : 0;
        if (c == 0x7f) {
            line += "\\u007f";
        } else if (c == 0xc2 && next >= 0x80 && next < 0xa0) {
            line += "\\u00" + QByteArray::number(next, 16);
            ++i;
        } else {
            line += char(c);
        }
    }
    return line + '\n';
}

namespace {
// Each stream on its own: with standard output gone, the summary and the
// journal notices still reach standard error.
bool lost_out = false, lost_err = false;
std::function<void()> lost_handler;
} // namespace

void write_out(const QByteArray &bytes, FILE *stream)
{
    bool &lost = stream == stderr ? lost_err : lost_out;
    if (lost)
        return;
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    if (std::fflush(stream) == 0 && written == size_t(bytes.size()))
        return;
    const bool first = !output_lost();
    lost = true;
    if (first && lost_handler)
        lost_handler();
}

void set_output_lost_handler(std::function<void()> handler)
{
    lost_handler = std::move(handler);
}

bool output_lost()
{
    return lost_out || lost_err;
}

void say(const QString &line, FILE *stream)
{
    write_out(line.toUtf8() + '\n', stream);
}

void complain(const QString &line)
{
    say(QStringLiteral("kv20-cli: ") + shown_text(line), stderr);
}
