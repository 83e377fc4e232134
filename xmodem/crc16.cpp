#include "xmodem/crc16.h"

#include <array>

namespace {

constexpr quint16 polynomial = 0x1021;

// Entry i is the CRC register after shifting the byte i through an empty
// register; built at compile time so the table costs no start-up work.
constexpr std::array<quint16, 256> make_table()
{
    std::array<quint16, 256> table {};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = static_cast<quint16>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ polynomial)
                                 : static_cast<quint16>(crc << 1);
        table[static_cast<size_t>(i)] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> table = make_table();

} // namespace

quint16 crc16_xmodem(const char *data, int length)
{
    quint16 crc = 0;
    for (int i = 0; i < length; ++i) {
        const quint8 byte = static_cast<quint8>(data[i]);
        crc = static_cast<quint16>((crc << 8) ^ table[((crc >> 8) ^ byte) & 0xFF]);
    }
    return crc;
}

quint8 checksum8(const char *data, int length)
{
    quint8 sum = 0;
    for (int i = 0; i < length; ++i)
        sum = static_cast<quint8>(sum + static_cast<quint8>(data[i]));
    return sum;
}
