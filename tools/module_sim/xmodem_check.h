#pragma once

#include <QByteArray>
#include <QtGlobal>

// Block checks of XMODEM: CRC-16/XMODEM (polynomial 0x1021, initial value 0,
// no reflection, no final XOR) and the 8-bit arithmetic sum.
quint16 xmodem_crc16(const char *data, int size);
quint8 xmodem_sum(const char *data, int size);
