#pragma once

#include "interfaces/failure.h"
#include "interfaces/flash_parameter.h"
#include "interfaces/module_link.h"
#include "interfaces/worker_reports.h"

#include <QByteArray>
#include <QString>

#include <atomic>

// Reads the whole image at path. Refuses anything that cannot be sent whole:
// anything but a regular file (a directory; a FIFO or device node, whose open
// or read could block for ever), an unreadable file, one larger than the
// signed 32-bit length the transfer carries, or one whose size changes while
// it is read.
enum class ImageReadError { none, cannot_open, too_large, unstable };
ImageReadError read_image_file(const QString &path, QByteArray *image);
// Why an image cannot be sent (image_not_found, image_too_large); none for
// none.
Failure image_read_failure(ImageReadError error);

// What one download did: the image that was read (size and SHA-256, empty
// when none was read) and which step failed (image_not_found,
// no_acknowledgement, transfer_error with the transmitter's code, ...), none
// when the module acknowledged the whole image.
struct DownloadOutcome
{
    qint64 image_bytes = -1;
    QByteArray image_sha256;  // lower-case hex
    OperationFailure failure;
};

// One download: image file, AT+XUPDATE or AT+FOTA, "+ok\r\n\r\n", XMODEM-1K.
// A failure is logged and shown already. With expected_sha256 (lower-case
// hex), an image whose bytes no longer hash to it is not sent: the module
// hears nothing (image_changed).
DownloadOutcome download_image(ModuleLink &link, WorkerReports &reports, const flash_parameter &request,
                               quint8 type, const std::atomic<quint8> &block_mode,
                               const QByteArray &expected_sha256 = QByteArray());

// download_image, then the success text.
DownloadOutcome update_image(ModuleLink &link, WorkerReports &reports, const flash_parameter &request,
                             quint8 type, const std::atomic<quint8> &block_mode,
                             const QByteArray &expected_sha256 = QByteArray());
