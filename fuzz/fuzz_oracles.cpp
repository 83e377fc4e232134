#include "fuzz/fuzz_oracles.h"

#include <algorithm>

namespace {

const QString marker = QStringLiteral("+ok=");
const QString reading_status = QStringLiteral("设备信息读取中");

constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr char PAD = 0x1A;

int u8(char c)
{
    return static_cast<quint8>(c);
}

// What the transmitter does after this many EOTs answered with nothing: the
// rules alone would send EOT for ever; the transmitter gives up with -1.
constexpr int max_empty_eot_replies = 10;

struct BlockLayout
{
    char header;
    int field_size;
};

BlockLayout layout_of(quint8 block_mode)
{
    return block_mode == 1 ? BlockLayout {SOH, 256} : BlockLayout {STX, 1024};
}

QByteArray reference_frame(const QByteArray &image, qint64 offset, quint8 number, BlockLayout layout, bool crc)
{
    QByteArray field(layout.field_size, PAD);
    char *out = field.data();
    const char *in = image.constData();
    for (int i = 0; i < layout.field_size && offset + i < image.size(); ++i)
        out[i] = in[offset + i];
    QByteArray frame;
    frame.append(layout.header);
    frame.append(static_cast<char>(number));
    frame.append(static_cast<char>(~number));
    frame.append(field);
    if (crc) {
        const quint16 sum = reference::crc16(field);
        frame.append(static_cast<char>(sum >> 8));
        frame.append(static_cast<char>(sum));
    } else {
        int sum = 0;
        for (char b : field)
            sum += static_cast<quint8>(b);
        frame.append(static_cast<char>(sum & 0xff));
    }
    return frame;
}

// Names the first part of a written frame that differs from the one the rules
// build, so a finding says what went wrong rather than "bytes differ".
QString frame_difference(const QByteArray &got, const QByteArray &want, const QByteArray &image, qint64 offset,
                         int field_size)
{
    if (got.size() != want.size())
        return QStringLiteral("frame of %1 bytes, expected %2").arg(got.size()).arg(want.size());
    if (got.at(0) != want.at(0))
        return QStringLiteral("header 0x%1, expected 0x%2").arg(u8(got.at(0)), 0, 16).arg(u8(want.at(0)), 0, 16);
    if (got.at(1) != want.at(1))
        return QStringLiteral("block number %1, expected %2").arg(u8(got.at(1))).arg(u8(want.at(1)));
    if (got.at(2) != want.at(2))
        return QStringLiteral("complement %1 for block %2").arg(u8(got.at(2))).arg(u8(got.at(1)));
    for (int i = 0; i < field_size; ++i) {
        if (got.at(3 + i) == want.at(3 + i))
            continue;
        const qint64 at = offset + i;
        if (at >= image.size())
            return QStringLiteral("data byte %1 at image offset %2 lies beyond the image end (%3) and is 0x%4, not pad")
                .arg(i).arg(at).arg(image.size()).arg(u8(got.at(3 + i)), 0, 16);
        return QStringLiteral("data byte %1 is 0x%2, image offset %3 holds 0x%4")
            .arg(i).arg(u8(got.at(3 + i)), 0, 16).arg(at).arg(u8(want.at(3 + i)), 0, 16);
    }
    return QStringLiteral("check bytes differ");
}

} // namespace

namespace reference {

QByteArray before_nul(const QByteArray &bytes)
{
    QByteArray out;
    for (char b : bytes) {
        if (b == '\0')
            break;
        out.append(b);
    }
    return out;
}

QString reply_text(const QByteArray &bytes)
{
    return QString::fromUtf8(before_nul(bytes));
}

int index_of(const QString &hay, const QString &needle, int from)
{
    for (int i = from; i + needle.size() <= hay.size(); ++i) {
        int k = 0;
        while (k < needle.size() && hay.at(i + k) == needle.at(k))
            ++k;
        if (k == needle.size())
            return i;
    }
    return -1;
}

int index_of(const QByteArray &hay, const QByteArray &needle)
{
    for (int i = 0; i + needle.size() <= hay.size(); ++i) {
        if (std::equal(needle.begin(), needle.end(), hay.begin() + i))
            return i;
    }
    return -1;
}

bool marker_value(const QString &reply, QString *value)
{
    const int p = index_of(reply, marker);
    if (p < 0)
        return false;
    const int start = p + marker.size();
    const int line_end = index_of(reply, QStringLiteral("\r\n"));
    // A line end before the marker (or none) lets the value run to the end.
    const int stop = line_end >= start ? line_end : reply.size();
    QString out;
    for (int i = start; i < stop; ++i)
        out.append(reply.at(i));
    *value = out;
    return true;
}

bool info_value(const QString &reply, QString *between, QStringList *fields)
{
    const int p = index_of(reply, marker);
    if (p < 0)
        return false;
    const int start = p + marker.size();
    const int next = index_of(reply, marker, start);
    const int stop = next < 0 ? reply.size() : next;
    QString text;
    QStringList parts {QString()};
    for (int i = start; i < stop; ++i) {
        text.append(reply.at(i));
        if (reply.at(i) == QLatin1Char(','))
            parts.append(QString());
        else
            parts.last().append(reply.at(i));
    }
    *between = text;
    *fields = parts;
    return true;
}

quint16 crc16(const QByteArray &data)
{
    quint16 crc = 0;
    for (char b : data) {
        crc ^= static_cast<quint16>(static_cast<quint8>(b) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ 0x1021) : static_cast<quint16>(crc << 1);
    }
    return crc;
}

} // namespace reference

bool TraceCursor::fail(const QString &message)
{
    if (error.isEmpty())
        error = message + QStringLiteral(" (at event %1)").arg(pos);
    return false;
}

QString TraceCursor::here() const
{
    return pos < static_cast<int>(trace.size()) ? describe(trace[static_cast<size_t>(pos)]) : QStringLiteral("end of trace");
}

const FuzzEvent *TraceCursor::take(FuzzEvent::Kind kind, const QString &why)
{
    if (!ok())
        return nullptr;
    FuzzEvent wanted {kind, {}, 0, 0, {}};
    if (pos >= static_cast<int>(trace.size()) || trace[static_cast<size_t>(pos)].kind != kind) {
        fail(QStringLiteral("%1: expected %2, got %3").arg(why, describe(wanted).section(QLatin1Char('('), 0, 0), here()));
        return nullptr;
    }
    return &trace[static_cast<size_t>(pos++)];
}

bool TraceCursor::take_write(const QByteArray &bytes, const QString &why)
{
    const FuzzEvent *e = take(FuzzEvent::write_data, why);
    if (!e)
        return false;
    if (e->bytes != bytes)
        return fail(QStringLiteral("%1: wrote %2, expected %3")
                        .arg(why, QString::fromLatin1(e->bytes.left(40).toHex()), QString::fromLatin1(bytes.left(40).toHex())));
    return true;
}

bool TraceCursor::take_write_byte(char byte, const QString &why)
{
    const FuzzEvent *e = take(FuzzEvent::write_byte, why);
    if (!e)
        return false;
    if (e->bytes != QByteArray(1, byte))
        return fail(QStringLiteral("%1: wrote byte 0x%2, expected 0x%3")
                        .arg(why).arg(u8(e->bytes.at(0)), 0, 16).arg(u8(byte), 0, 16));
    return true;
}

bool TraceCursor::take_wait(qint64 timeout_ms, const QString &why, bool *arrived)
{
    const FuzzEvent *e = take(FuzzEvent::wait_for_data, why);
    if (!e)
        return false;
    if (e->number != timeout_ms)
        return fail(QStringLiteral("%1: waited %2 ms, expected %3 ms").arg(why).arg(e->number).arg(timeout_ms));
    *arrived = e->result != 0;
    return true;
}

bool TraceCursor::take_read_byte(qint64 timeout_ms, const QString &why, int *value)
{
    const FuzzEvent *e = take(FuzzEvent::read_byte, why);
    if (!e)
        return false;
    if (e->number != timeout_ms)
        return fail(QStringLiteral("%1: read with %2 ms, expected %3 ms").arg(why).arg(e->number).arg(timeout_ms));
    *value = e->result;
    return true;
}

bool TraceCursor::take_debug(const QString &line)
{
    const FuzzEvent *e = take(FuzzEvent::report_debug, QStringLiteral("log line \"%1\"").arg(line));
    if (!e)
        return false;
    if (e->text != line)
        return fail(QStringLiteral("log line \"%1\", expected \"%2\"").arg(e->text, line));
    return true;
}

bool TraceCursor::take_status(const QString &text, bool flag)
{
    const FuzzEvent *e = take(FuzzEvent::report_status, QStringLiteral("status \"%1\"").arg(text));
    if (!e)
        return false;
    if (e->text != text || (e->number != 0) != flag)
        return fail(QStringLiteral("status \"%1\" %2, expected \"%3\" %4")
                        .arg(e->text, QString::number(e->number), text, QString::number(flag)));
    return true;
}

bool TraceCursor::take_field(const QString &value, quint8 type)
{
    const FuzzEvent *e = take(FuzzEvent::report_mac_text, QStringLiteral("field %1").arg(type));
    if (!e)
        return false;
    if (e->number != type || e->text != value)
        return fail(QStringLiteral("field %1 \"%2\", expected field %3 \"%4\"")
                        .arg(QString::number(e->number), e->text, QString::number(type), value));
    return true;
}

bool TraceCursor::take_progress(qint64 value)
{
    const FuzzEvent *e = take(FuzzEvent::report_progress, QStringLiteral("progress %1").arg(value));
    if (!e)
        return false;
    if (e->number != value)
        return fail(QStringLiteral("progress %1, expected %2").arg(e->number).arg(value));
    return true;
}

bool TraceCursor::expect_end(const QString &why)
{
    if (!ok())
        return false;
    if (pos != static_cast<int>(trace.size()))
        return fail(QStringLiteral("%1: nothing may follow, got %2").arg(why, here()));
    return true;
}

namespace {

enum class Gathered { reply, silent, broken };

// First burst within 200 ms, then up to three more 20 ms waits.
Gathered expect_gather(TraceCursor &c, const QString &command)
{
    bool arrived = false;
    if (!c.take_wait(200, QStringLiteral("first wait for the %1 reply").arg(command), &arrived))
        return Gathered::broken;
    if (!arrived)
        return Gathered::silent;
    for (int burst = 1; burst < 4; ++burst) {
        if (!c.take_wait(20, QStringLiteral("burst %1 of the %2 reply").arg(burst).arg(command), &arrived))
            return Gathered::broken;
        if (!arrived)
            break;
    }
    return Gathered::reply;
}

void expect_query_start(TraceCursor &c)
{
    c.take(FuzzEvent::discard_input, QStringLiteral("discard before the query"));
    c.take_status(reading_status, true);
    c.take(FuzzEvent::discard_input, QStringLiteral("second discard before the query"));
}

// One single-value step; returns 1 when it produced a value, 0 when the
// reply had no marker, -1 when no reply came, broken_trace otherwise.
int expect_single_value(TraceCursor &c, const char *command, quint8 field)
{
    const QString name = QString::fromLatin1(command).trimmed();
    if (!c.take_write(QByteArray(command), QStringLiteral("command %1").arg(name)))
        return broken_trace;
    switch (expect_gather(c, name)) {
    case Gathered::broken:
        return broken_trace;
    case Gathered::silent:
        return -1;
    case Gathered::reply:
        break;
    }
    const FuzzEvent *reply = c.take(FuzzEvent::read_all, QStringLiteral("read of the %1 reply").arg(name));
    if (!reply)
        return broken_trace;
    QString value;
    if (!reference::marker_value(reference::reply_text(reply->bytes), &value))
        return 0;
    return c.take_field(value, field) ? 1 : broken_trace;
}

} // namespace

int expect_wifi_query(TraceCursor &c)
{
    static const struct
    {
        const char *command;
        quint8 field;
    } steps[] = {{"AT+WSMAC\r\n", 0}, {"AT+LVER\r\n", 1}, {"AT+SVER\r\n", 2}, {"AT+DEVSN\r\n", 3}};

    expect_query_start(c);
    int result = -1;
    for (const auto &step : steps) {
        if (!c.ok())
            return broken_trace;
        const int outcome = expect_single_value(c, step.command, step.field);
        if (outcome == broken_trace || outcome == -1)
            return outcome;
        if (outcome == 1)
            result = 0;
    }
    return c.ok() ? result : broken_trace;
}

int expect_cellular_query(TraceCursor &c)
{
    expect_query_start(c);
    if (!c.take_write(QByteArrayLiteral("AT+INFO\r\n"), QStringLiteral("command AT+INFO")))
        return broken_trace;
    switch (expect_gather(c, QStringLiteral("AT+INFO"))) {
    case Gathered::broken:
        return broken_trace;
    case Gathered::silent:
        return -1;
    case Gathered::reply:
        break;
    }
    bool late = false;
    if (!c.take_wait(100, QStringLiteral("extra wait after the AT+INFO reply"), &late))
        return broken_trace;
    const FuzzEvent *reply = c.take(FuzzEvent::read_all, QStringLiteral("read of the AT+INFO reply"));
    if (!reply)
        return broken_trace;

    int result = -1;
    QString between;
    QStringList fields;
    if (reference::info_value(reference::reply_text(reply->bytes), &between, &fields)) {
        // Device number, IMEI, ICCID; a field the module left out shows empty.
        const quint8 rows[] = {3, 0, 2};
        for (int i = 0; i < 3; ++i)
            c.take_field(i < fields.size() ? fields.at(i) : QString(), rows[i]);
        result = 0;
    }
    const int version = expect_single_value(c, "AT+LVER\r\n", 1);
    if (version == broken_trace || !c.ok())
        return broken_trace;
    if (version == -1)
        return -1;
    return version == 1 ? 0 : result;
}

int expect_xmodem(TraceCursor &c, const QByteArray &image, quint8 synced, quint8 block_mode)
{
    c.take_debug(QStringLiteral("Send Image File length = %1").arg(image.size()));
    c.take_debug(QStringLiteral("wait for sync signal..."));
    if (!c.ok())
        return broken_trace;

    bool crc = true;
    if (synced != 1) {
        bool found = false;
        for (int attempt = 0; attempt < 16 && !found; ++attempt) {
            int byte = -1;
            if (!c.take_read_byte(1000, QStringLiteral("sync try %1").arg(attempt), &byte))
                return broken_trace;
            if (byte == CAN) {
                int second = -1;
                if (!c.take_read_byte(1000, QStringLiteral("second CAN at sync"), &second))
                    return broken_trace;
                if (second == CAN) {
                    c.take_write_byte(ACK, QStringLiteral("ACK confirming a cancel at sync"));
                    c.take(FuzzEvent::discard_input, QStringLiteral("discard after a cancel at sync"));
                    return c.ok() ? -1 : broken_trace;
                }
            } else if (byte == 'C') {
                found = true;
            } else if (byte == NAK) {
                crc = false;
                found = true;
            }
        }
        if (!found) {
            for (int i = 0; i < 3; ++i)
                c.take_write_byte(CAN, QStringLiteral("CAN %1 after no sync").arg(i + 1));
            c.take(FuzzEvent::discard_input, QStringLiteral("discard after no sync"));
            c.take_debug(QStringLiteral("xmodem no sync detected, fail"));
            return c.ok() ? -2 : broken_trace;
        }
    }

    const BlockLayout layout = layout_of(block_mode);
    qint64 sent = 0;
    quint8 number = 1;
    int empty_replies = 0;
    for (;;) {
        if (image.size() - sent < 0) {
            bool arrived = false;
            if (!c.take_write_byte(EOT, QStringLiteral("EOT"))
                || !c.take_wait(10000, QStringLiteral("wait for the EOT reply"), &arrived))
                return broken_trace;
            if (!arrived)
                return -1;
            const FuzzEvent *reply = c.take(FuzzEvent::read_all, QStringLiteral("read of the EOT reply"));
            if (!reply)
                return broken_trace;
            if (!reference::before_nul(reply->bytes).isEmpty())
                return 0;
            if (++empty_replies == max_empty_eot_replies)
                return -1;
            continue;
        }

        const QByteArray frame = reference_frame(image, sent, number, layout, crc);
        for (int send = 1;; ++send) {
            const FuzzEvent *written = c.take(FuzzEvent::write_data, QStringLiteral("send %1 of block %2").arg(send).arg(number));
            if (!written)
                return broken_trace;
            if (written->bytes != frame) {
                c.fail(frame_difference(written->bytes, frame, image, sent, layout.field_size));
                return broken_trace;
            }
            int reply = -1;
            if (!c.take_read_byte(500, QStringLiteral("reply to block %1").arg(number), &reply))
                return broken_trace;
            if (reply == ACK)
                break;
            if (reply == CAN) {
                int second = -1;
                if (!c.take_read_byte(1000, QStringLiteral("second CAN after block %1").arg(number), &second))
                    return broken_trace;
                if (second == CAN)
                    return c.take_write_byte(ACK, QStringLiteral("ACK confirming a cancel")) ? -1 : broken_trace;
            }
            if (send == 5) {
                for (int i = 0; i < 3; ++i)
                    c.take_write_byte(CAN, QStringLiteral("CAN %1 after five sends").arg(i + 1));
                return c.ok() ? -4 : broken_trace;
            }
        }
        ++number;
        sent += layout.field_size;
        if (!c.take_progress(sent))
            return broken_trace;
    }
}

int expect_download(TraceCursor &c, const QByteArray &image, ImagePath path, quint8 type, quint8 block_mode)
{
    const bool audio = type == 1;
    if (path == ImagePath::empty) {
        c.take_debug(QStringLiteral("firmware img not selected."));
        return c.ok() ? -1 : broken_trace;
    }
    if (path == ImagePath::missing) {
        c.take_status(QStringLiteral("未发现软件"), false);
        c.take_debug(QStringLiteral("firmware not found!"));
        return c.ok() ? -1 : broken_trace;
    }
    c.take_debug(QStringLiteral("firmware file read OK!"));
    c.take_write(audio ? QByteArrayLiteral("AT+XUPDATE\r\n") : QByteArrayLiteral("AT+FOTA\r\n"),
                 QStringLiteral("download command"));
    c.take_status(audio ? QStringLiteral("音频文件下载中") : QStringLiteral("设备固件下载中"), true);
    bool arrived = false;
    if (!c.take_wait(100, QStringLiteral("wait for the acknowledgement"), &arrived))
        return broken_trace;
    if (!arrived)
        return -1;
    const FuzzEvent *reply = c.take(FuzzEvent::read_all, QStringLiteral("read of the acknowledgement"));
    if (!reply)
        return broken_trace;
    const QString text = reference::reply_text(reply->bytes);
    if (reference::index_of(text, QStringLiteral("+ok\r\n\r\n")) < 0)
        return -1;
    const quint8 synced = reference::index_of(text, QStringLiteral("C")) >= 0 ? 1 : 0;

    c.take_debug(QStringLiteral("Start xmodem session"));
    if (const FuzzEvent *max = c.take(FuzzEvent::report_progress_max, QStringLiteral("progress maximum"))) {
        if (max->number != image.size())
            c.fail(QStringLiteral("progress maximum %1, image has %2 bytes").arg(max->number).arg(image.size()));
    }
    c.take(FuzzEvent::discard_input, QStringLiteral("discard before the transfer"));
    if (!c.ok())
        return broken_trace;
    const int transfer = expect_xmodem(c, image, synced, block_mode);
    if (transfer == broken_trace)
        return broken_trace;
    if (transfer < 0) {
        c.take_debug(QStringLiteral("xmodem transmit error:%1").arg(transfer));
        c.take_status(QStringLiteral("传输错误"), false);
        return c.ok() ? -1 : broken_trace;
    }
    c.take_debug(QStringLiteral("xmodem transfer OK"));
    return c.ok() ? 0 : broken_trace;
}

int xmodem_call_bound(int length, quint8 block_mode)
{
    const int field = layout_of(block_mode).field_size;
    const int blocks = length / field + 1;
    const int sync = 16 * 2 + 4;
    const int per_block = 5 * 3 + 3;
    const int eot = max_empty_eot_replies * 3;
    return sync + blocks * per_block + eot;
}

QString check_xmodem_frames(const std::vector<FuzzEvent> &trace, const QByteArray &image, quint8 block_mode)
{
    const BlockLayout layout = layout_of(block_mode);
    const int crc_length = 3 + layout.field_size + 2;
    int frame_length = 0;
    qint64 block_index = -1;
    QByteArray previous;
    qint64 last_progress = 0;
    int link_calls = 0;
    int index = 0;
    for (const FuzzEvent &e : trace) {
        const QString at = QStringLiteral(" (event %1)").arg(index++);
        if (e.is_link_call())
            ++link_calls;
        if (e.kind == FuzzEvent::report_progress) {
            if (e.number <= 0 || e.number % layout.field_size != 0)
                return QStringLiteral("progress %1 is not a whole number of %2-byte blocks").arg(e.number).arg(layout.field_size) + at;
            if (e.number < last_progress)
                return QStringLiteral("progress went back from %1 to %2").arg(last_progress).arg(e.number) + at;
            if (e.number != last_progress + layout.field_size)
                return QStringLiteral("progress jumped from %1 to %2").arg(last_progress).arg(e.number) + at;
            if (e.number != (block_index + 1) * layout.field_size)
                return QStringLiteral("progress %1 does not match %2 blocks sent").arg(e.number).arg(block_index + 1) + at;
            last_progress = e.number;
            continue;
        }
        if (e.kind != FuzzEvent::write_data)
            continue;
        const QByteArray &f = e.bytes;
        if (f.size() != crc_length && f.size() != crc_length - 1)
            return QStringLiteral("frame of %1 bytes").arg(f.size()) + at;
        if (frame_length == 0)
            frame_length = f.size();
        if (f.size() != frame_length)
            return QStringLiteral("check mode changed within one transfer") + at;
        if (f.at(0) != layout.header)
            return QStringLiteral("header 0x%1").arg(u8(f.at(0)), 0, 16) + at;
        const quint8 number = static_cast<quint8>(f.at(1));
        if (static_cast<quint8>(f.at(2)) != static_cast<quint8>(255 - number))
            return QStringLiteral("block %1 carries complement %2").arg(number).arg(u8(f.at(2))) + at;
        const quint8 current = static_cast<quint8>(block_index + 1);
        if (block_index >= 0 && number == current) {
            if (f != previous)
                return QStringLiteral("a resend of block %1 differs from the first send").arg(number) + at;
            continue;
        }
        if (number != static_cast<quint8>(current + 1))
            return QStringLiteral("block number %1 follows %2").arg(number).arg(block_index < 0 ? 0 : current) + at;
        ++block_index;
        const qint64 offset = block_index * layout.field_size;
        if (offset > image.size())
            return QStringLiteral("block %1 starts at %2, past the image end %3").arg(number).arg(offset).arg(image.size()) + at;
        const char *field = f.constData() + 3;
        const char *in = image.constData();
        for (int i = 0; i < layout.field_size; ++i) {
            const char b = field[i];
            const qint64 pos = offset + i;
            if (pos < image.size() && b != in[pos])
                return QStringLiteral("data byte %1 of block %2 is not image byte %3").arg(i).arg(number).arg(pos) + at;
            if (pos >= image.size() && b != PAD)
                return QStringLiteral("block %1 carries 0x%2 from beyond the image end at offset %3")
                           .arg(number).arg(u8(b), 0, 16).arg(pos) + at;
        }
        previous = f;
    }
    const int bound = xmodem_call_bound(image.size(), block_mode);
    if (link_calls > bound)
        return QStringLiteral("%1 link calls, the bound for this image is %2").arg(link_calls).arg(bound);
    return QString();
}

QString format_trace(const std::vector<FuzzEvent> &trace, int around)
{
    const int n = static_cast<int>(trace.size());
    int first = 0;
    int last = n;
    if (around >= 0) {
        first = std::max(0, around - 12);
        last = std::min(n, around + 4);
    }
    QString out;
    if (first > 0)
        out += QStringLiteral("  ...\n");
    for (int i = first; i < last; ++i)
        out += QStringLiteral("  %1: %2\n").arg(i).arg(describe(trace[static_cast<size_t>(i)]));
    if (last < n)
        out += QStringLiteral("  ...\n");
    return out;
}
