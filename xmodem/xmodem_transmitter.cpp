#include "xmodem/xmodem_transmitter.h"

#include "xmodem/crc16.h"
#include "xmodem/xmodem_log.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <array>
#include <cstring>

using namespace xmodem;

namespace {

constexpr int sync_tries = 16;
constexpr quint16 sync_reply_ms = 1000;
constexpr quint16 second_can_ms = 1000;
constexpr quint16 block_reply_ms = 500;
constexpr int max_sends = 5;
constexpr unsigned long eot_reply_ms = 10000;
// A receiver that answers every EOT with an empty text would otherwise keep
// the worker busy for ever.
constexpr int max_eots = 10;
constexpr int report_step = 50;

constexpr int header_size = 3;
constexpr int max_field_size = 1024;
using Frame = std::array<char, header_size + max_field_size + 2>;

enum class Check { crc16, checksum };
enum class SyncOutcome { crc16, checksum, cancelled, none, abandoned };
enum class BlockOutcome { acknowledged, cancelled, refused, abandoned };
enum class EotOutcome { answered, empty, silent };

struct Layout {
    char header;
    int field_size;
};

// Mode 1 (SOH with 256 bytes) departs from classic XMODEM's 128; it is what
// the worker's second block setting asks for. Any other value means 1K blocks.
Layout layout_for(quint8 block_mode)
{
    return block_mode == 1 ? Layout {SOH, 256} : Layout {STX, max_field_size};
}

void send_cancel(ModuleLink &link)
{
    xmodem_cancel(link);
}

// A cancel needs a second CAN read after the first; both in one read count
// as a lone CAN because read_byte drops the rest of a read.
bool second_can_follows(ModuleLink &link)
{
    return link.read_byte(second_can_ms) == CAN;
}

SyncOutcome wait_for_sync(ModuleLink &link)
{
    for (int attempt = 0; attempt < sync_tries; ++attempt) {
        if (link.cancel_requested())
            return SyncOutcome::abandoned;
        qCDebug(xmodem_log) << "sync try=" << attempt;
        const qint8 byte = link.read_byte(sync_reply_ms);
        if (byte < 0)  // silence, or a byte above 0x7F that no receiver sends here
            continue;
        if (byte == CAN) {
            if (second_can_follows(link)) {
                link.write_byte(ACK);
                link.discard_input();
                qCDebug(xmodem_log) << "canceled by remote";
                return SyncOutcome::cancelled;
            }
        } else if (byte == CRC_REQUEST) {
            qCDebug(xmodem_log) << "xmodem recv init = \"C\"";
            return SyncOutcome::crc16;
        } else if (byte == NAK) {
            return SyncOutcome::checksum;
        } else {
            qCDebug(xmodem_log) << "xmodem recv init =" << int(byte);
        }
    }
    return SyncOutcome::none;
}

// Fills frame with block `number` carrying count bytes of data (0 to the
// field size) and returns the frame's length.
int build_frame(Frame &frame, Layout layout, quint8 number, const char *data, int count, Check check)
{
    frame[0] = layout.header;
    frame[1] = static_cast<char>(number);
    frame[2] = static_cast<char>(255 - number);
    char *field = frame.data() + header_size;
    std::memset(field, PAD, static_cast<size_t>(layout.field_size));
    if (count > 0)
        std::memcpy(field, data, static_cast<size_t>(count));

    int end = header_size + layout.field_size;
    if (check == Check::crc16) {
        const quint16 crc = crc16_xmodem(field, layout.field_size);
        frame[end++] = static_cast<char>(crc >> 8);
        frame[end++] = static_cast<char>(crc & 0xFF);
    } else {
        frame[end++] = static_cast<char>(checksum8(field, layout.field_size));
    }
    return end;
}

// NAK, silence and anything unexpected all earn the same resend.
BlockOutcome send_block(ModuleLink &link, const Frame &frame, int frame_length)
{
    const QByteArray bytes = QByteArray::fromRawData(frame.data(), frame_length);
    for (int failed = 0;;) {
        if (link.cancel_requested())
            return BlockOutcome::abandoned;
        link.write_data(bytes);
        qCDebug(xmodem_log) << "Start to receive";
        const qint8 reply = link.read_byte(block_reply_ms);
        if (reply == ACK)
            return BlockOutcome::acknowledged;
        if (reply == CAN && second_can_follows(link)) {
            link.write_byte(ACK);
            return BlockOutcome::cancelled;
        }
        if (++failed == max_sends)
            return BlockOutcome::refused;
        qCDebug(xmodem_log) << "Retry for" << failed;
    }
}

// The reply's content is not examined: receivers answer EOT with ACK, NAK
// or text, and all of them mean the image arrived. Only a text that is empty
// up to its first NUL asks for the EOT again.
EotOutcome send_eot(ModuleLink &link)
{
    link.write_byte(EOT);
    if (!link.wait_for_data(eot_reply_ms))
        return EotOutcome::silent;
    const QByteArray reply = link.read_all();
    return (reply.isEmpty() || reply.at(0) == '\0') ? EotOutcome::empty : EotOutcome::answered;
}

int send_image(ModuleLink &link, WorkerReports &reports, const char *image, qint32 length,
               Check check, const std::atomic<quint8> &block_mode)
{
    Frame frame;
    quint8 number = 1;
    // Wider than the image length so that the step past the end of an image
    // close to 2 GiB cannot overflow.
    qint64 sent = 0;
    int report_counter = 0;
    int empty_eot_replies = 0;

    for (;;) {
        const Layout layout = layout_for(block_mode.load(std::memory_order_relaxed));
        qCDebug(xmodem_log) << "packetno" << int(number);
        const qint64 remaining = qint64(length) - sent;

        if (remaining < 0) {
            const EotOutcome outcome = send_eot(link);
            if (outcome == EotOutcome::answered)
                return ok;
            if (link.cancel_requested()) {
                // The receiver may still be waiting for the end.
                send_cancel(link);
                return cancelled_or_no_eot_reply;
            }
            if (outcome == EotOutcome::silent) {
                qCDebug(xmodem_log) << "Err1";
                return cancelled_or_no_eot_reply;
            }
            if (++empty_eot_replies == max_eots) {
                qCDebug(xmodem_log) << "EOT answered empty" << empty_eot_replies << "times, giving up";
                return cancelled_or_no_eot_reply;
            }
            continue;
        }

        // A remaining count of 0 still sends one all-pad block: the receiver
        // only learns the image ended on a block boundary from that block.
        const int count = int(std::min<qint64>(remaining, layout.field_size));
        const int frame_length = build_frame(frame, layout, number, count > 0 ? image + sent : nullptr,
                                             count, check);
        switch (send_block(link, frame, frame_length)) {
        case BlockOutcome::cancelled:
            return cancelled_or_no_eot_reply;
        case BlockOutcome::refused:
            send_cancel(link);
            return block_not_acknowledged;
        case BlockOutcome::abandoned:
            // The same three CANs as a refused block, so the module stops
            // waiting for the rest of the image.
            send_cancel(link);
            return cancelled_or_no_eot_reply;
        case BlockOutcome::acknowledged:
            break;
        }

        qCDebug(xmodem_log) << "ACK Got!";
        ++number;
        sent += layout.field_size;
        ++report_counter;
        qCDebug(xmodem_log) << "current_report_step:" << report_counter << ",report_step:" << report_step;
        reports.report_progress(int(sent));
        if (report_counter == report_step)
            report_counter = 0;
        qCDebug(xmodem_log) << "Current=" << sent << "All=" << length;
    }
}

} // namespace

void xmodem_cancel(ModuleLink &link)
{
    for (int i = 0; i < 3; ++i)
        link.write_byte(CAN);
}

int xmodem_transmit(ModuleLink &link, WorkerReports &reports, const char *image, qint32 length,
                    quint8 synced, const std::atomic<quint8> &block_mode)
{
    reports.report_debug(QStringLiteral("Send Image File length = %1").arg(length));
    reports.report_debug(QStringLiteral("wait for sync signal..."));

    Check check = Check::crc16;
    if (synced == 1) {
        qCDebug(xmodem_log) << "xmodem recv init = \"C\"";
    } else {
        switch (wait_for_sync(link)) {
        case SyncOutcome::crc16:
            break;
        case SyncOutcome::checksum:
            check = Check::checksum;
            break;
        case SyncOutcome::cancelled:
            return cancelled_or_no_eot_reply;
        case SyncOutcome::abandoned:
            send_cancel(link);
            return cancelled_or_no_eot_reply;
        case SyncOutcome::none:
            send_cancel(link);
            link.discard_input();
            reports.report_debug(QStringLiteral("xmodem no sync detected, fail"));
            return no_sync;
        }
    }
    return send_image(link, reports, image, length, check, block_mode);
}
