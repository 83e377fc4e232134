#pragma once

#include <QByteArray>

// XMODEM frames built apart from the transmitter: the CRC bit by bit from the
// polynomial, not from a table.
namespace xm {

constexpr char SOH = 0x01, STX = 0x02, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18;

inline quint16 crc16_bitwise(const QByteArray &data)
{
    quint16 crc = 0;
    for (const char c : data) {
        crc ^= quint16(quint8(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

// Block `number`: STX for 1024 data bytes (else SOH), number, complement, the
// payload padded with 0x1A to `size`, then the CRC high byte first, or the
// 8-bit sum.
inline QByteArray frame(quint8 number, const QByteArray &payload, int size, bool crc)
{
    const QByteArray data = payload.left(size) + QByteArray(size - payload.left(size).size(), '\x1a');
    QByteArray out = QByteArray(1, size == 1024 ? STX : SOH) + char(number) + char(255 - number) + data;
    quint8 sum = 0;
    for (const char c : data)
        sum = quint8(sum + quint8(c));
    const quint16 c = crc16_bitwise(data);
    return crc ? out + char(c >> 8) + char(c & 0xff) : out + char(sum);
}

// Block `index` (from 1) of image cut into `size`-byte blocks.
inline QByteArray block(const QByteArray &image, int index, bool crc, int size = 1024)
{
    return frame(quint8(index), image.mid((index - 1) * size, size), size, crc);
}

// Deterministic content that does not end in 0x1A.
inline QByteArray image(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    for (char &c : out) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        c = char(seed & 0xff);
    }
    if (size > 0 && out.back() == '\x1a')
        out.back() = 'x';
    return out;
}

} // namespace xm
