#pragma once

#include "worker/flash_parameter.h"
#include "worker/module_link.h"
#include "worker/worker_reports.h"

#include <QByteArray>
#include <QString>

#include <atomic>

// Reads the whole image at path. Refuses (false, *error set) anything that
// cannot be sent whole: a directory, an unreadable file, one larger than the
// signed 32-bit length the transfer carries, or one whose size changes while
// it is read.
enum class ImageReadError { none, cannot_open, too_large, unstable };
ImageReadError read_image_file(const QString &path, QByteArray *image);

// One download: image file, AT+XUPDATE or AT+FOTA, "+ok\r\n\r\n", XMODEM-1K.
// 0 on success, -1 on any failure (already logged and shown).
int download_image(ModuleLink &link, WorkerReports &reports, const flash_parameter &request,
                   quint8 type, const std::atomic<quint8> &block_mode);

// download_image, then the success text.
int update_image(ModuleLink &link, WorkerReports &reports, const flash_parameter &request,
                 quint8 type, const std::atomic<quint8> &block_mode);
