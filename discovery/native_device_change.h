#pragma once

#include <QByteArray>
#include <QtGlobal>

// Reads a native window message: true for a device-change message, with its
// event code and whether it reports a removed volume whose flags are 0.
bool decode_native_device_change(const QByteArray &event_type, void *message, quint32 *event_code,
                                 bool *volume_with_zero_flags);
