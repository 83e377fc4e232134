// The code that reads what the module sends, driven by fuzzer bytes, under
// invariants that hold whatever the module says.
#include "fuzz/fuzz_targets.h"

#include "protocol/device_query.h"
#include "protocol/download_session.h"
#include "protocol/reply_text.h"
#include "tests/xmodem/xmodem_frames.h"
#include "xmodem/xmodem_transmitter.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// The blocks of image (the last one may be all pad) as xm::block builds them
// apart from the transmitter, built once for each image, check and size.
const std::vector<QByteArray> &expected_blocks(const QByteArray &image, bool crc, int size)
{
    static std::map<std::tuple<const char *, int, bool, int>, std::vector<QByteArray>> built;
    std::vector<QByteArray> &frames = built[{image.constData(), image.size(), crc, size}];
    for (int i = int(frames.size()) + 1; i <= image.size() / size + 1; ++i)
        frames.push_back(xm::block(image, i, crc, size));
    return frames;
}

// A module played from the script (encoding in README.md). No time passes;
// past the end of the script the module is silent for good, so every
// conversation must end by its own rules.
class FuzzLink : public ModuleLink, public WorkerReports
{
public:
    FuzzLink(const std::uint8_t *data, std::size_t size, QList<QByteArray> tokens)
        : data(data), size(size), tokens(std::move(tokens)) {}

    QList<QByteArray> writes;  // before the transfer's first frame
    QString finding;
    int calls = 0;

    // From the first-th write on, each write is a frame of image, checked as
    // it is made: the transmitter reuses its buffer for the next frame.
    void expect_transfer(const QByteArray &transferred, int size, int first)
    {
        image = transferred, block_size = size, first_frame = first;
    }
    // Every write from first_frame on is the frame of the next block of the
    // image, or a resend of the last, and never past the one block that may
    // be all pad.
    void write_data(const QByteArray &d) override
    {
        call();
        if (block_size == 0 || writes.size() < first_frame) {
            writes << QByteArray(d.constData(), d.size());  // a copy: the caller may reuse raw data
            return;
        }
        if (frames++ == 0)
            expected = &expected_blocks(image, d.size() == block_size + 5, block_size);
        if (d == frame || !finding.isEmpty())
            return;  // a resend
        frame = ++block > int(expected->size()) ? QByteArray() : expected->at(std::size_t(block - 1));
        if (d != frame)
            finding = QStringLiteral("write %1 is not block %2 of the image").arg(first_frame + frames - 1).arg(block);
    }
    void write_byte(char) override { call(); }
    bool wait_for_data(unsigned long) override { call(); return arrive(); }
    bool wait_once(unsigned long) override { call(); return arrive(); }
    QByteArray read_all() override { call(); return std::exchange(buffer, {}); }
    void discard_input() override { call(); buffer.clear(); }
    qint8 read_byte(quint16) override
    {
        call();
        if (buffer.isEmpty() && !arrive())
            return -1;  // whatever arrived quietly stays for a later read
        return buffer.isEmpty() ? -1 : qint8(std::exchange(buffer, {}).at(0));
    }
    // Progress grows by one whole block per acknowledged block.
    void report_progress(int bytes_sent) override
    {
        if (bytes_sent != ++acknowledged * block_size && finding.isEmpty())
            finding = QStringLiteral("progress %1 after %2 blocks").arg(bytes_sent).arg(acknowledged);
    }
    void report_mac_text(const QString &, quint8) override {}
    void report_progress_max(int) override {}
    void report_debug(const QString &) override {}
    void report_status(const QString &, bool) override {}

private:
    void call()
    {
        if (++calls > 100000) {
            std::fprintf(stderr, "FuzzLink: the conversation does not end\n");
            std::abort();
        }
    }
    // One control byte: what arrives during this wait; true when it is noticed.
    bool arrive()
    {
        const std::uint8_t c = pos < size ? data[pos++] : 0;
        const bool notified = c < 0xc0, token = c < 0x80 || c >= 0xe0;
        const int low = c & (notified ? 0x3f : 0x1f);
        if (c < 0x40)
            return false;
        const std::size_t n = token ? 0 : std::min<std::size_t>(std::size_t(low) + 1, size - pos);
        buffer += token ? tokens.at(low % tokens.size()) : QByteArray(reinterpret_cast<const char *>(data + pos), int(n));
        pos += n;
        return notified;
    }

    const std::uint8_t *data;
    std::size_t size, pos = 0;
    QList<QByteArray> tokens;
    QByteArray buffer;
    QByteArray image, frame;
    const std::vector<QByteArray> *expected = nullptr;
    int block_size = 0, first_frame = 0, frames = 0, block = 0, acknowledged = 0;
};

// The frames and progress the link checked; link calls stay within what 16
// sync tries, five sends a block and ten EOTs need.
QString check_transfer(const FuzzLink &link, int image_size, int block_size, int first)
{
    const int bound = 10 * first + 70 + 18 * (image_size / block_size + 1);
    if (link.calls > bound)
        return QStringLiteral("%1 link calls, at most %2 expected").arg(link.calls).arg(bound);
    return link.finding;
}

// Exactly sized on the heap, so that a read past the end is an ASan report.
std::vector<char> make_image(int length)
{
    std::vector<char> image(std::size_t(length), 0);
    for (int i = 0; i < length; ++i)
        image[std::size_t(i)] = char(i * 37 + 11);
    return image;
}

QByteArray view(const std::vector<char> &image) { return QByteArray::fromRawData(image.data(), int(image.size())); }

const QList<QByteArray> receiver_tokens = {"C", "\x15", "\x06", "\x18", "\x18\x18", "\x06\x15",
                                           QByteArray(1, '\0'), "\x80", "\xff", "OK\r\n", "CC"};

} // namespace

QString fuzz_reply_text(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    const QString text = reply_text(input), marker = QStringLiteral("+ok=");
    if (text.contains(QChar(0)) || reply_text(input + '\0' + input) != text)
        return QStringLiteral("the reply text holds a NUL or what follows one");
    const int p = text.indexOf(marker), next = text.indexOf(marker, p + 4);
    QString value;
    QStringList fields;
    int length = 0;
    if (extract_marker_value(text, &value) != (p >= 0) || split_info_value(text, &fields, &length) != (p >= 0))
        return QStringLiteral("marker found where there is none, or missed");
    if (p >= 0 && text.mid(p + 4, value.size()) != value)
        return QStringLiteral("the value does not start right behind the first marker");
    if (p >= 0 && fields.join(QLatin1Char(',')) != text.mid(p + 4, next < 0 ? -1 : next - p - 4))
        return QStringLiteral("the fields are not the text between the first two markers");
    return {};
}

QString fuzz_device_query(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    const bool cellular = data[0] & 1;
    FuzzLink link(data + 1, size - 1, {"+ok=", "\r\n", "+ok=00:11:22:33:44:55\r\n", "+ok=SN1,8600001,8986001\r\n", ",",
                                       QByteArray(1, '\0'), "AT+LVER\r\n", "+ok=V1.2.3\r\nOK\r\n", "+OK=\r\n", "\xe9\x9f\xb3"});
    const int result = cellular ? query_cellular_module(link, link) : query_wifi_module(link, link);
    const QList<QByteArray> commands = cellular ? QList<QByteArray> {"AT+INFO\r\n", "AT+LVER\r\n"}
                                                : QList<QByteArray> {"AT+WSMAC\r\n", "AT+LVER\r\n", "AT+SVER\r\n", "AT+DEVSN\r\n"};
    if (result != 0 && result != -1)
        return QStringLiteral("result %1").arg(result);
    if (link.writes != commands.mid(0, link.writes.size()))
        return QStringLiteral("sent something other than the commands in their order");
    return link.calls > 2 + 7 * commands.size() ? QStringLiteral("%1 link calls").arg(link.calls) : QString();
}

QString fuzz_download_ack(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    static QTemporaryDir dir;
    static const std::vector<char> bytes = make_image(3000);
    static const QByteArray image = view(bytes);
    static flash_parameter request;
    if (request.fw_path.isEmpty()) {
        QFile file(request.fw_path = request.fs_path = dir.filePath(QStringLiteral("image.bin")));
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
            return QStringLiteral("cannot write %1").arg(file.fileName());
    }
    // Byte 0: operation type (bits 0-1), block mode (bit 4).
    static const quint8 types[] = {operation::audio_replacement, operation::firmware_upgrade, 0, 200};
    const quint8 type = types[data[0] & 3], mode = (data[0] >> 4) & 1;
    const std::atomic<quint8> block_mode {mode};
    FuzzLink link(data + 1, size - 1, {"+ok\r\n\r\n", "+ok\r\n\r\nC", "C", "\x06", "\x15", "\x18", QByteArray(1, '\0'),
                                       "\r\n", "+OK\r\n\r\n", "+ok\r\n"});
    link.expect_transfer(image, mode == 1 ? 256 : 1024, 1);
    // The image is there and whole: only the module can make it fail.
    const OperationFailure failure = download_image(link, link, request, type, block_mode).failure;
    if (failure && failure.kind != Failure::no_acknowledgement && failure.kind != Failure::transfer_error)
        return QStringLiteral("failure %1").arg(int(failure.kind));
    const bool audio = type == operation::audio_replacement;
    if (!link.writes.isEmpty() && link.writes[0] != (audio ? "AT+XUPDATE\r\n" : "AT+FOTA\r\n"))
        return QStringLiteral("command %1").arg(QString::fromLatin1(link.writes[0]));
    return check_transfer(link, image.size(), mode == 1 ? 256 : 1024, 1);
}

QString fuzz_xmodem(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    // Byte 0: image (bits 0-1: 0, 1, 1024 or 3000 bytes; bit 5 instead 257
    // blocks of 256 and one byte, so that block numbers wrap), block mode
    // (bit 2), synced (bits 3-4: only 1 skips the sync phase).
    static const std::vector<char> images[] = {make_image(0), make_image(1), make_image(1024), make_image(3000),
                                               make_image(257 * 256 + 1)};
    const std::vector<char> &image = images[(data[0] & 0x20) ? 4 : data[0] & 3];
    const quint8 mode = (data[0] >> 2) & 1, synced = (data[0] >> 3) & 3;
    const std::atomic<quint8> block_mode {mode};
    FuzzLink link(data + 1, size - 1, receiver_tokens);
    link.expect_transfer(view(image), mode == 1 ? 256 : 1024, 0);
    const int result = xmodem_transmit(link, link, image.data(), int(image.size()), synced, block_mode);
    if (result != 0 && result != -1 && result != -2 && result != -4)
        return QStringLiteral("result %1").arg(result);
    return check_transfer(link, int(image.size()), mode == 1 ? 256 : 1024, 0);
}

// Warnings and worse still matter: Qt reports misuse through them.
void fuzz_silence_qt_messages() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false")); }

#ifdef KV20_FUZZ_TARGET
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = (fuzz_silence_qt_messages(), true);
    (void)quiet;
    const QString finding = KV20_FUZZ_TARGET(data, size);
    if (!finding.isEmpty()) {
        std::fprintf(stderr, "\n=== invariant broken ===\n%s\n", qPrintable(finding));
        std::abort();
    }
    return 0;
}
#endif
