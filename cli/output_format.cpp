#include "cli/output_format.h"

#include <QJsonDocument>

#include <cstdio>

QString rate_text(double bytes_per_second)
{
    return bytes_per_second >= 1024 ? QStringLiteral("%1 KiB/s").arg(bytes_per_second / 1024, 0, 'f', 1)
                                    : QStringLiteral("%1 B/s").arg(bytes_per_second, 0, 'f', 0);
}

QString result_line(const OperationRecord &r)
{
    if (!r.ok)
        return QStringLiteral("%1: failed: %2").arg(r.port, r.detail);
    if (r.operation != QLatin1String("query"))
        return QStringLiteral("%1: ok").arg(r.port);
    return QStringLiteral("%1: ok device_number=%2 imei_or_mac=%3 iccid_or_audio_version=%4 device_version=%5")
        .arg(r.port, r.device_number, r.imei_or_mac, r.iccid_or_audio_version, r.device_version);
}

QJsonObject result_json(const OperationRecord &r)
{
    return {{QStringLiteral("port"), r.port},
            {QStringLiteral("event"), QStringLiteral("result")},
            {QStringLiteral("operation"), r.operation},
            {QStringLiteral("result"), r.ok ? QStringLiteral("ok") : QStringLiteral("failed")},
            {QStringLiteral("detail"), r.ok ? QString() : r.detail},
            {QStringLiteral("device_number"), r.device_number},
            {QStringLiteral("imei_or_mac"), r.imei_or_mac},
            {QStringLiteral("iccid_or_audio_version"), r.iccid_or_audio_version},
            {QStringLiteral("device_version"), r.device_version},
            {QStringLiteral("image_sha256"), QString::fromLatin1(r.image_sha256)},
            {QStringLiteral("duration_ms"), double(r.duration_ms)}};
}

QByteArray json_line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
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
