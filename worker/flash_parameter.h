#pragma once

#include <QString>

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
