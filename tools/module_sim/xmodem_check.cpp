#include "tools/module_sim/xmodem_check.h"

#include <array>

namespace {

std::array<quint16, 256> make_table()
{
    std::array<quint16, 256> table {};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
        table[size_t(i)] = crc;
    }
    return table;
}

const std::array<quint16, 256> kTable = make_table();

} // namespace

quint16 xmodem_crc16(const char *data, int size)
{
    quint16 crc = 0;
    for (int i = 0; i < size; ++i)
        crc = quint16((crc << 8) ^ kTable[((crc >> 8) ^ quint8(data[i])) & 0xff]);
    return crc;
}

quint8 xmodem_sum(const char *data, int size)
{
    quint8 sum = 0;
    for (int i = 0; i < size; ++i)
        sum = quint8(sum + quint8(data[i]));
    return sum;
}
