// The XMODEM transmitter against a receiver that answers whatever the fuzzer
// says, over images of a few sizes and both block modes.
#include "fuzz/fuzz_oracles.h"
#include "fuzz/fuzz_targets.h"
#include "xmodem/xmodem_transmitter.h"

#include <atomic>
#include <memory>

namespace {

const QList<QByteArray> receiver_tokens = {
    QByteArrayLiteral("C"),
    QByteArray(1, 0x15),      // NAK
    QByteArray(1, 0x06),      // ACK
    QByteArray(1, 0x18),      // CAN
    QByteArray(2, 0x18),      // CAN CAN in one read
    QByteArrayLiteral("\x06\x15"),
    QByteArray(1, '\0'),
    QByteArray(1, '\x80'),
    QByteArray(1, '\xff'),
    QByteArrayLiteral("OK\r\n"),
    QByteArrayLiteral("CC"),
};

// Exactly sized heap blocks: a read past the image end is an ASan report.
struct Image
{
    explicit Image(int length) : length(length), bytes(new char[static_cast<size_t>(length)])
    {
        for (int i = 0; i < length; ++i)
            bytes[static_cast<size_t>(i)] = static_cast<char>(i * 37 + 11);
    }
    QByteArray copy() const { return QByteArray(bytes.get(), length); }
    // The checks read the image where it lies: copying 64 KiB for every run
    // would cost more than the transfer itself.
    QByteArray view() const { return QByteArray::fromRawData(bytes.get(), length); }
    int length;
    std::unique_ptr<char[]> bytes;
};

// 257 small blocks and one byte: in block mode 1 the block number wraps
// from 255 through 0 to 2.
constexpr int wrapping_length = 257 * 256 + 1;

const Image &image_for(int choice)
{
    static const Image images[] = {Image(0), Image(1), Image(1024), Image(3000), Image(wrapping_length)};
    return images[choice];
}

struct XmodemSetup
{
    const Image &image;
    quint8 mode;
    quint8 synced;
};

// First byte: image (bits 0-1: 0, 1, 1024 or 3000 bytes; bit 5 instead the
// long image), block mode (bit 2), synced value (bits 3-4: 1 skips the sync
// phase, 0, 2 and 3 do not).
XmodemSetup setup_for(std::uint8_t config)
{
    return {image_for((config & 0x20) ? 4 : config & 3), quint8((config >> 2) & 1), quint8((config >> 3) & 3)};
}

} // namespace

QByteArray fuzz_xmodem_image(std::uint8_t config)
{
    return setup_for(config).image.copy();
}

QString check_xmodem_run(const std::vector<FuzzEvent> &trace, const QByteArray &image, quint8 synced,
                         quint8 block_mode, int result)
{
    const QString setup = QStringLiteral("image %1 bytes, block mode %2, synced %3").arg(image.size()).arg(block_mode).arg(synced);
    if (result != 0 && result != -1 && result != -2 && result != -4)
        return QStringLiteral("%1: result %2\n%3").arg(setup).arg(result).arg(format_trace(trace));
    const QString frames = check_xmodem_frames(trace, image, block_mode);
    if (!frames.isEmpty())
        return QStringLiteral("%1: %2\n%3").arg(setup, frames, format_trace(trace));

    TraceCursor c(trace);
    const int expected = expect_xmodem(c, image, synced, block_mode);
    c.expect_end(QStringLiteral("after the transfer returned"));
    if (!c.ok())
        return QStringLiteral("%1: %2\n%3").arg(setup, c.error, format_trace(trace, c.position()));
    if (result != expected)
        return QStringLiteral("%1: result %2, expected %3\n%4").arg(setup).arg(result).arg(expected).arg(format_trace(trace));
    return QString();
}

QString fuzz_xmodem(const std::uint8_t *data, std::size_t size, FuzzOutcome *outcome)
{
    if (size == 0)
        return QString();
    const XmodemSetup setup = setup_for(data[0]);
    const std::atomic<quint8> block_mode {setup.mode};

    FuzzScript script(data + 1, size - 1);
    std::vector<FuzzEvent> trace;
    FuzzLink link(script, trace, receiver_tokens);
    FuzzReports reports(trace);
    const int result = xmodem_transmit(link, reports, setup.image.bytes.get(), setup.image.length, setup.synced,
                                       block_mode);
    if (outcome) {
        outcome->result = result;
        outcome->trace = trace;
    }
    return check_xmodem_run(trace, setup.image.view(), setup.synced, setup.mode, result);
}

KV20_FUZZ_ENTRY(fuzz_xmodem)
