#pragma once

#include <QtGlobal>

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR; table-driven, one lookup per byte.
quint16 crc16_xmodem(const char *data, int length);

// Classic XMODEM's check: the sum of the bytes, modulo 256.
quint8 checksum8(const char *data, int length);
