#include "protocol/download_session.h"

#include "protocol/module_status.h"
#include "protocol/protocol_log.h"
#include "protocol/reply_text.h"
#include "xmodem/xmodem_transmitter.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <limits>

ImageReadError read_image_file(const QString &path, QByteArray *image)
{
    QFile file(path);
    // Checked before the open: opening a FIFO blocks until a writer comes.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return ImageReadError::cannot_open;
    const qint64 size = file.size();
    if (size > std::numeric_limits<qint32>::max())
        return ImageReadError::too_large;
    *image = file.read(size);
    // A short read, or a file that grew meanwhile, would send an image the
    // operator never chose.
    const bool more = !file.read(1).isEmpty();
    if (image->size() != size || more || file.size() != size) {
        image->clear();
        return ImageReadError::unstable;
    }
    return ImageReadError::none;
}

Failure image_read_failure(ImageReadError error)
{
    switch (error) {
    case ImageReadError::none:
        return Failure::none;
    case ImageReadError::too_large:
        return Failure::image_too_large;
    default:
        return Failure::image_not_found;
    }
}

DownloadOutcome download_image(ModuleLink &link, WorkerReports &reports, const flash_parameter &request,
                               quint8 type, const std::atomic<quint8> &block_mode, const QByteArray &expected_sha256)
{
    DownloadOutcome out;
    // Every type but audio replacement downloads the firmware image.
    const bool audio = type == operation::audio_replacement;
    const QString path = audio ? request.fs_path : request.fw_path;
    if (path.isEmpty()) {
        reports.report_debug(QStringLiteral("firmware img not selected."));
        out.failure = Failure::image_not_found;
        return out;
    }
    qCDebug(protocol_log) << "open:" << path;

    QByteArray image;
    const ImageReadError read_error = read_image_file(path, &image);
    out.failure = image_read_failure(read_error);
    switch (read_error) {
    case ImageReadError::none:
        out.image_bytes = image.size();
        out.image_sha256 = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
        break;
    case ImageReadError::cannot_open:
        reports.report_status(ModuleStatus::tr("未发现软件"), false);
        reports.report_debug(QStringLiteral("firmware not found!"));
        return out;
    case ImageReadError::too_large:
        reports.report_status(ModuleStatus::tr("未发现软件"), false);
        reports.report_debug(QStringLiteral("firmware file too large!"));
        return out;
    case ImageReadError::unstable:
        reports.report_status(ModuleStatus::tr("未发现软件"), false);
        reports.report_debug(QStringLiteral("firmware file read failed!"));
        return out;
    }
    if (!expected_sha256.isEmpty() && out.image_sha256 != expected_sha256) {
        out.failure = Failure::image_changed;
        reports.report_status(ModuleStatus::tr("未发现软件"), false);
        reports.report_debug(QStringLiteral("firmware file changed!"));
        return out;
    }
    reports.report_debug(QStringLiteral("firmware file read OK!"));

    // A cancel made by now leaves the module without its command: the
    // record says why (the worker's cancel), not this.
    if (link.cancel_requested()) {
        out.failure = Failure::no_acknowledgement;
        return out;
    }
    link.write_data(audio ? QByteArrayLiteral("AT+XUPDATE\r\n") : QByteArrayLiteral("AT+FOTA\r\n"));
    reports.report_status(audio ? ModuleStatus::tr("音频文件下载中") : ModuleStatus::tr("设备固件下载中"), true);

    const QString reply = link.wait_for_data(100) ? reply_text(link.read_all()) : QString();
    qCDebug(protocol_log) << "read:" << reply;
    if (!reply.contains(QStringLiteral("+ok\r\n\r\n"))) {
        // Once the command is out the module may be waiting for blocks.
        if (link.cancel_requested())
            xmodem_cancel(link);
        out.failure = Failure::no_acknowledgement;
        return out;
    }
    const quint8 synced = reply.contains(QLatin1Char('C')) ? 1 : 0;

    reports.report_debug(QStringLiteral("Start xmodem session"));
    reports.report_progress_max(image.size());
    link.discard_input();
    qCDebug(protocol_log) << "xmodem transmit starting";
    const int result = xmodem_transmit(link, reports, image.constData(), image.size(), synced, block_mode);
    if (result < 0) {
        out.failure = OperationFailure(Failure::transfer_error, result);
        reports.report_debug(QStringLiteral("xmodem transmit error:%1").arg(result));
        reports.report_status(ModuleStatus::tr("传输错误"), false);
        return out;
    }
    reports.report_debug(QStringLiteral("xmodem transfer OK"));
    qCDebug(protocol_log) << "xmodem transmit end";
    return out;
}

DownloadOutcome update_image(ModuleLink &link, WorkerReports &reports, const flash_parameter &request,
                             quint8 type, const std::atomic<quint8> &block_mode, const QByteArray &expected_sha256)
{
    const DownloadOutcome outcome = download_image(link, reports, request, type, block_mode, expected_sha256);
    if (outcome.failure)
        qCDebug(protocol_log) << "firmware update fail";
    else
        reports.report_status(ModuleStatus::tr("下载成功"), true);
    return outcome;
}
