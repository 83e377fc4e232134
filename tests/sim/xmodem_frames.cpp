#include "tests/sim/xmodem_frames.h"

namespace xm {

quint16 crc16_bitwise(const QByteArray &data)
{
    quint16 crc = 0;
    for (const char c : data) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = (quint8(c) >> bit) & 1;
            const bool top = crc & 0x8000;
            crc = quint16(crc << 1);
            if (in != top)
                crc ^= 0x1021;
        }
    }
    return crc;
}

quint8 sum8(const QByteArray &data)
{
    unsigned total = 0;
    for (const char c : data)
        total += quint8(c);
    return quint8(total & 0xff);
}

QByteArray frame(char header, quint8 number, const QByteArray &payload, int size, bool crc)
{
    QByteArray data = payload.left(size);
    data.append(QByteArray(size - data.size(), '\x1a'));
    QByteArray out;
    out.append(header);
    out.append(char(number));
    out.append(char(255 - number));
    out.append(data);
    if (crc) {
        const quint16 c = crc16_bitwise(data);
        out.append(char(c >> 8));
        out.append(char(c & 0xff));
    } else {
        out.append(char(sum8(data)));
    }
    return out;
}

QByteArray block_1k(const QByteArray &image, int number, bool crc)
{
    return frame(STX, quint8(number), image.mid((number - 1) * 1024, 1024), 1024, crc);
}

QByteArray image(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    quint32 s = seed;
    for (int i = 0; i < size; ++i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        out[i] = char(s & 0xff);
    }
    if (size > 0 && out[size - 1] == '\x1a')
        out[size - 1] = 'x';
    return out;
}

} // namespace xm
