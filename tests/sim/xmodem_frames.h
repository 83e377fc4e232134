#pragma once

#include <QByteArray>
#include <QtGlobal>

// The sending side of XMODEM as the tests see it, written independently of
// the simulator: the CRC is computed bit by bit rather than from a table.
namespace xm {

constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;

quint16 crc16_bitwise(const QByteArray &data);
quint8 sum8(const QByteArray &data);

// One frame: header, number, complement, `size` data bytes (payload padded
// with 0x1A), then the CRC high byte first, or the one-byte sum.
QByteArray frame(char header, quint8 number, const QByteArray &payload, int size, bool crc);
// A 1024-byte STX frame for block `number` (from 1) of image.
QByteArray block_1k(const QByteArray &image, int number, bool crc);

// Deterministic image content of the given size that does not end in 0x1A.
QByteArray image(int size, quint32 seed);

} // namespace xm
