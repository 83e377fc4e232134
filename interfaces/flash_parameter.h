#pragma once

#include <QString>
#include <QtGlobal>

// The request record the window hands to the worker. Only the two image paths
// are read; the address and size texts travel along unread.
struct flash_parameter
{
    QString fw_addr;
    QString fw_size;
    QString fw_path;
    QString fs_addr;
    QString fs_size;
    QString fs_path;
    QString extra1;
    QString extra2;
};

// Operation types carried by __start_flash.
namespace operation {
constexpr quint8 device_query = 0;
constexpr quint8 audio_replacement = 1;
constexpr quint8 firmware_upgrade = 2;
constexpr quint8 select_1k_blocks = 3;
constexpr quint8 select_256_blocks = 4;
constexpr quint8 set_cellular_kind = 0x81;  // 129..255 set device_kind to (type & 0x0F)
constexpr quint8 set_wifi_kind = 0x90;
}

// The image an operation sends: the audio path for an audio replacement, the
// firmware path for every other download, none for a query.
inline QString image_path_for(const flash_parameter &request, quint8 type)
{
    if (type == operation::device_query)
        return QString();
    return type == operation::audio_replacement ? request.fs_path : request.fw_path;
}
