#pragma once

#include <QByteArray>
#include <QString>

// Puts a received image on disk. The file appears complete or not at all
// (written under a temporary name, then renamed), so whoever waits for it
// never reads half an image.
bool save_image(const QString &path, const QByteArray &image, bool strip_padding, QString &error);

// The image without the trailing 0x1A fill of its last block.
QByteArray strip_xmodem_padding(const QByteArray &image);
