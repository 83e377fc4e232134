#include "tools/module_sim/image_store.h"

#include <QSaveFile>

QByteArray strip_xmodem_padding(const QByteArray &image)
{
    int end = int(image.size());
    while (end > 0 && image[end - 1] == '\x1a')
        --end;
    return image.left(end);
}

bool save_image(const QString &path, const QByteArray &image, bool strip_padding, QString &error)
{
    QSaveFile file(path);
    const QByteArray data = strip_padding ? strip_xmodem_padding(image) : image;
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
