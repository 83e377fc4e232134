#include "tools/module_sim/xmodem_receiver.h"

#include "tools/module_sim/image_store.h"
#include "tools/module_sim/sim_log.h"
#include "tools/module_sim/xmodem_check.h"

#include <algorithm>

namespace {

constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;

OutChunks one(char byte, AfterOutput after = AfterOutput::Nothing)
{
    return {OutChunk {0, QByteArray(1, byte), after}};
}

} // namespace

XmodemReceiver::XmodemReceiver(const TransferOptions &options) : opt_(options)
{
}

char XmodemReceiver::request_byte() const
{
    return opt_.checksum ? NAK : 'C';
}

int XmodemReceiver::frame_size(char header) const
{
    const int data = header == STX ? 1024 : opt_.soh_size;
    return 3 + data + (opt_.checksum ? 1 : 2);
}

OutChunks XmodemReceiver::start(SimTime now, bool request_sent)
{
    last_rx_ = idle_mark_ = now;
    if (request_sent) {
        requests_ = 1;
        next_request_ = now + sim_ms(opt_.request_interval_ms);
    } else {
        next_request_ = now + sim_ms(opt_.first_request_ms);
    }
    log_line(QStringLiteral("receiving an image (%1 mode)").arg(opt_.checksum ? QStringLiteral("checksum") : QStringLiteral("CRC")));
    return {};
}

void XmodemReceiver::finish(const QString &why)
{
    state_ = State::Done;
    frame_.clear();
    frame_size_ = 0;
    log_line(QStringLiteral("transfer ended: %1; back to commands").arg(why));
}

QByteArray XmodemReceiver::take_leftover()
{
    QByteArray out;
    out.swap(leftover_);
    return out;
}

OutChunks XmodemReceiver::cancel()
{
    log_line(QStringLiteral("cancelling with CAN CAN%1")
                 .arg(opt_.cancel_gap_ms > 0 ? QStringLiteral(" (%1 ms apart)").arg(opt_.cancel_gap_ms) : QStringLiteral(" (one burst)")));
    finish(QStringLiteral("cancelled by the module"));
    if (opt_.cancel_gap_ms <= 0)
        return {OutChunk {0, QByteArray(2, CAN), AfterOutput::Nothing}};
    return {OutChunk {0, QByteArray(1, CAN), AfterOutput::Nothing},
            OutChunk {opt_.cancel_gap_ms, QByteArray(1, CAN), AfterOutput::Nothing}};
}

void XmodemReceiver::store_image()
{
    saved_ = true;
    if (opt_.save_image.isEmpty()) {
        log_line(QStringLiteral("image received: %1 bytes in %2 blocks").arg(image_.size()).arg(blocks_));
        return;
    }
    QString error;
    if (save_image(opt_.save_image, image_, opt_.strip_padding, error))
        log_line(QStringLiteral("image saved: %1 bytes in %2 blocks to %3").arg(image_.size()).arg(blocks_).arg(opt_.save_image));
    else
        log_error(QStringLiteral("cannot save the image to %1: %2").arg(opt_.save_image, error));
}

OutChunks XmodemReceiver::feed(const QByteArray &bytes, SimTime now)
{
    OutChunks out;
    if (!bytes.isEmpty()) {
        last_rx_ = idle_mark_ = now;
        idle_timeouts_ = 0;
    }
    int i = 0;
    while (i < bytes.size() && state_ != State::Done) {
        if (frame_size_ > 0) {
            const int take = std::min<int>(frame_size_ - int(frame_.size()), int(bytes.size()) - i);
            frame_.append(bytes.constData() + i, take);
            i += take;
            if (frame_.size() == frame_size_)
                out += on_frame(now);
            continue;
        }
        const char c = bytes[i++];
        if (state_ == State::Ending && c != EOT && c != CAN) {
            // The sender took our answer to EOT as the end; what follows is
            // for the command interpreter.
            leftover_ = bytes.mid(i - 1);
            finish(QStringLiteral("image complete"));
            return out;
        }
        if (c == CAN) {
            if (++cans_ >= 2) {
                leftover_ = bytes.mid(i);
                finish(QStringLiteral("cancelled by the sender"));
                return out;
            }
            continue;
        }
        cans_ = 0;
        if (c == SOH || c == STX) {
            frame_ = QByteArray(1, c);
            frame_size_ = frame_size(c);
            state_ = State::Receiving;
            stray_a_ = false;
        } else if (c == EOT) {
            out += on_eot(now);
        } else if (!silent_ && stray_a_ && (c == 'T' || c == 't')) {
            // A command line where a frame should be: the sender has given
            // up without a word. Let the interpreter have it.
            leftover_ = QByteArray(1, 'A') + bytes.mid(i - 1);
            finish(QStringLiteral("a command arrived instead of a frame"));
            return out;
        } else {
            stray_a_ = (c == 'A' || c == 'a');
        }
    }
    if (state_ == State::Done && i < bytes.size())
        leftover_ += bytes.mid(i);
    return out;
}

OutChunks XmodemReceiver::on_frame(SimTime now)
{
    Q_UNUSED(now);
    const QByteArray frame = frame_;
    frame_.clear();
    frame_size_ = 0;
    const int data_size = frame.size() - 3 - (opt_.checksum ? 1 : 2);
    const quint8 number = quint8(frame[1]);
    const quint8 complement = quint8(frame[2]);
    const char *data = frame.constData() + 3;
    const QString label = QStringLiteral("block #%1 (%2 bytes)").arg(number).arg(data_size);

    if (silent_) {
        log_line(label + QStringLiteral(" ignored (silent)"));
        return {};
    }
    if (quint8(number + complement) != 0xff) {
        log_line(label + QStringLiteral(": bad complement %1, NAK").arg(complement));
        return one(NAK);
    }
    bool check_ok;
    if (opt_.checksum) {
        check_ok = xmodem_sum(data, data_size) == quint8(frame[frame.size() - 1]);
    } else {
        const quint16 got = quint16((quint8(frame[frame.size() - 2]) << 8) | quint8(frame[frame.size() - 1]));
        check_ok = xmodem_crc16(data, data_size) == got;
    }
    if (!check_ok) {
        log_line(label + (opt_.checksum ? QStringLiteral(": bad checksum, NAK") : QStringLiteral(": bad CRC, NAK")));
        return one(NAK);
    }
    if (blocks_ > 0 && number == last_number_) {
        log_line(label + QStringLiteral(": repeat of the previous block, ACK"));
        return one(ACK);
    }
    if (number != quint8(last_number_ + 1)) {
        log_line(label + QStringLiteral(": out of sequence (expected #%1), NAK").arg(quint8(last_number_ + 1)));
        return one(NAK);
    }

    const int position = blocks_ + 1;
    const QString name = QStringLiteral("block %1 #%2 (%3 bytes)").arg(position).arg(number).arg(data_size);
    if (opt_.silent_block >= 1 && position >= opt_.silent_block) {
        silent_ = true;
        log_line(name + QStringLiteral(": falling silent"));
        return {};
    }
    if (position == opt_.cancel_block) {
        log_line(name + QStringLiteral(": answering with a cancel"));
        return cancel();
    }
    if (position == opt_.nak_block && naks_given_ < opt_.nak_times) {
        ++naks_given_;
        log_line(name + QStringLiteral(": NAK on purpose (%1 of %2)").arg(naks_given_).arg(opt_.nak_times));
        return one(NAK);
    }
    image_.append(data, data_size);
    ++blocks_;
    last_number_ = number;
    if (position == opt_.unplug_block) {
        log_line(name + QStringLiteral(": stored, unplugging"));
        state_ = State::Done;
        return {OutChunk {0, {}, AfterOutput::Unplug}};
    }
    log_line(name + QStringLiteral(": ok, ACK"));
    return one(ACK);
}

OutChunks XmodemReceiver::on_eot(SimTime now)
{
    if (silent_) {
        log_line(QStringLiteral("EOT ignored (silent)"));
        return {};
    }
    if (!saved_)
        store_image();
    if (opt_.eot_reply != EotReply::Ack && eot_faults_ < opt_.eot_fault_times) {
        ++eot_faults_;
        state_ = State::Ending;
        idle_mark_ = now;
        switch (opt_.eot_reply) {
        case EotReply::Nak:
            log_line(QStringLiteral("EOT: NAK on purpose"));
            return one(NAK);
        case EotReply::NulAck:
            log_line(QStringLiteral("EOT: NUL and ACK on purpose"));
            return {OutChunk {0, QByteArray("\0\x06", 2), AfterOutput::Nothing}};
        default:
            log_line(QStringLiteral("EOT: no answer on purpose"));
            return {};
        }
    }
    log_line(QStringLiteral("EOT: ACK"));
    finish(QStringLiteral("image complete"));
    return one(ACK, opt_.restart_after_download_ms >= 0 ? AfterOutput::Restart : AfterOutput::Nothing);
}

std::optional<SimTime> XmodemReceiver::deadline() const
{
    switch (state_) {
    case State::Asking:
        return next_request_;
    case State::Receiving:
        if (frame_size_ > 0)
            return last_rx_ + sim_ms(opt_.frame_timeout_ms);
        return idle_mark_ + sim_ms(opt_.request_interval_ms);
    case State::Ending:
        return idle_mark_ + sim_ms(opt_.request_interval_ms);
    case State::Done:
        break;
    }
    return std::nullopt;
}

OutChunks XmodemReceiver::tick(SimTime now)
{
    const std::optional<SimTime> due = deadline();
    if (!due || now < *due)
        return {};

    switch (state_) {
    case State::Asking:
        if (requests_ == 0 && opt_.unplug_block == 0) {
            log_line(QStringLiteral("unplugging instead of asking for the image"));
            state_ = State::Done;
            return {OutChunk {0, {}, AfterOutput::Unplug}};
        }
        if (requests_ == 0 && opt_.cancel_block == 0)
            return cancel();
        if (requests_ == 0 && opt_.silent_block == 0) {
            silent_ = true;
            log_line(QStringLiteral("not asking for the image (silent)"));
        }
        if (requests_ >= opt_.request_limit) {
            finish(QStringLiteral("no sender after %1 requests").arg(requests_));
            return {};
        }
        ++requests_;
        next_request_ = now + sim_ms(opt_.request_interval_ms);
        if (silent_)
            return {};
        log_line(QStringLiteral("asking for the image with %1 (%2)").arg(opt_.checksum ? QStringLiteral("NAK") : QStringLiteral("C")).arg(requests_));
        return one(request_byte());

    case State::Receiving:
        if (frame_size_ > 0) {
            log_line(QStringLiteral("frame stalled after %1 of %2 bytes: dropped%3")
                         .arg(frame_.size()).arg(frame_size_).arg(silent_ ? QString() : QStringLiteral(", NAK")));
            frame_.clear();
            frame_size_ = 0;
            idle_mark_ = now;
            return silent_ ? OutChunks {} : one(NAK);
        }
        idle_mark_ = now;
        if (++idle_timeouts_ >= opt_.request_limit) {
            finish(QStringLiteral("the sender went quiet"));
            return {};
        }
        if (silent_)
            return {};
        log_line(QStringLiteral("no frame for %1 ms, NAK").arg(opt_.request_interval_ms));
        return one(NAK);

    case State::Ending:
        finish(QStringLiteral("image complete"));
        return {};

    case State::Done:
        break;
    }
    return {};
}
