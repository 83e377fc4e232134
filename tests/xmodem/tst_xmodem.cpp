#include "tests/xmodem/trace_log.h"
#include "tests/xmodem/xmodem_harness.h"
#include "xmodem/xmodem_transmitter.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace xmodem;

namespace {

// Bound for anything the transmitter does at once (a frame after a request,
// an EOT after an ACK); generous for sanitizer builds.
constexpr int prompt_ms = 5000;

QByteArray random_image(int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray out(size, '\0');
    for (char &c : out)
        c = static_cast<char>(gen.bounded(256));
    return out;
}

QByteArray bytes(std::initializer_list<char> list)
{
    return QByteArray(list.begin(), int(list.size()));
}

// Bit by bit, straight from the polynomial; shares nothing with the table.
quint16 reference_crc(const QByteArray &data)
{
    quint16 crc = 0;
    for (char c : data) {
        crc ^= static_cast<quint16>(static_cast<quint8>(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ 0x1021) : static_cast<quint16>(crc << 1);
    }
    return crc;
}

quint8 reference_sum(const QByteArray &data)
{
    unsigned sum = 0;
    for (char c : data)
        sum += static_cast<quint8>(c);
    return static_cast<quint8>(sum);
}

// The data field a receiver must see for the block starting at offset.
QByteArray expected_field(const QByteArray &image, qint64 offset, int field_size)
{
    QByteArray field = image.mid(int(offset), field_size);
    return field + QByteArray(field_size - field.size(), PAD);
}

int frame_size(int field_size, bool crc)
{
    return 3 + field_size + (crc ? 2 : 1);
}

// Empty when frame is the block `number` carrying field; else what is wrong.
QString frame_fault(const QByteArray &frame, quint8 number, const QByteArray &field, bool crc)
{
    const int field_size = field.size();
    if (frame.size() != frame_size(field_size, crc))
        return QStringLiteral("block %1: frame of %2 bytes, expected %3")
            .arg(number).arg(frame.size()).arg(frame_size(field_size, crc));
    const char header = field_size == 1024 ? STX : SOH;
    if (frame.at(0) != header)
        return QStringLiteral("block %1: header %2").arg(number).arg(int(quint8(frame.at(0))));
    if (quint8(frame.at(1)) != number || quint8(frame.at(2)) != quint8(255 - number))
        return QStringLiteral("block %1: number %2 complement %3")
            .arg(number).arg(int(quint8(frame.at(1)))).arg(int(quint8(frame.at(2))));
    if (frame.mid(3, field_size) != field)
        return QStringLiteral("block %1: data field differs").arg(number);
    if (crc) {
        const quint16 want = reference_crc(field);
        const quint16 got = static_cast<quint16>((quint8(frame.at(3 + field_size)) << 8)
                                                 | quint8(frame.at(4 + field_size)));
        if (got != want)
            return QStringLiteral("block %1: crc %2, expected %3 (high byte first)")
                .arg(number).arg(got, 4, 16).arg(want, 4, 16);
    } else if (quint8(frame.back()) != reference_sum(field)) {
        return QStringLiteral("block %1: checksum %2, expected %3")
            .arg(number).arg(int(quint8(frame.back()))).arg(int(reference_sum(field)));
    }
    return QString();
}

// Plays a receiver that acknowledges every block from image offset `offset`
// (block `number`) to the end, including the all-pad block of an image that
// ends on a block boundary.
QString acknowledge_blocks(PtyPair &pty, const QByteArray &image, qint64 offset, quint8 number,
                           int field_size, bool crc)
{
    for (; offset <= image.size(); offset += field_size, ++number) {
        const QByteArray frame = pty.read_exact(frame_size(field_size, crc), prompt_ms);
        const QString fault = frame_fault(frame, number, expected_field(image, offset, field_size), crc);
        if (!fault.isEmpty())
            return fault;
        pty.write(QByteArray(1, ACK));
    }
    return QString();
}

// Reads the EOT and answers it.
QString answer_eot(PtyPair &pty, const QByteArray &reply)
{
    const QByteArray got = pty.read_exact(1, prompt_ms);
    if (got != QByteArray(1, EOT))
        return QStringLiteral("expected EOT, got %1").arg(QString::fromLatin1(got.toHex()));
    pty.write(reply);
    return QString();
}

std::vector<LinkCall> calls_of(const std::vector<LinkCall> &calls, LinkCall::Op op)
{
    std::vector<LinkCall> out;
    for (const LinkCall &c : calls)
        if (c.op == op)
            out.push_back(c);
    return out;
}

QVector<qint64> read_timeouts(const std::vector<LinkCall> &calls)
{
    QVector<qint64> out;
    for (const LinkCall &c : calls_of(calls, LinkCall::read_byte))
        out.append(c.argument);
    return out;
}

QStringList numbered(const QString &prefix, int first, int last)
{
    QStringList out;
    for (int i = first; i <= last; ++i)
        out.append(prefix + QString::number(i));
    return out;
}

QStringList start_log(int length)
{
    return {QStringLiteral("Send Image File length = %1").arg(length), QStringLiteral("wait for sync signal...")};
}

} // namespace

class TestXmodem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { trace_log::install(); }
    void cleanupTestCase() { trace_log::uninstall(); }
    void init() { trace_log::clear(); }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            trace_log::dump_tail(60);
    }

    void crc_transfer_of_2048_bytes_ends_with_a_pad_block()
    {
        const QByteArray image = random_image(2048, 1);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        const QString fault = acknowledge_blocks(run.pty, image, 0, 1, 1024, true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), ok);
        QCOMPARE(run.reports.progress(), QVector<int>({1024, 2048, 3072}));
        QCOMPARE(run.reports.debug_lines(), start_log(2048));
        QVERIFY(run.reports.unexpected().isEmpty());
        QCOMPARE(pending_bytes(run.pty.master()), QByteArray());

        const std::vector<LinkCall> calls = run.calls.snapshot();
        QCOMPARE(read_timeouts(calls), QVector<qint64>({1000, 500, 500, 500}));
        const std::vector<LinkCall> waits = calls_of(calls, LinkCall::wait_for_data);
        QCOMPARE(int(waits.size()), 1);
        QCOMPARE(waits[0].argument, qint64(10000));
        QCOMPARE(calls_of(calls, LinkCall::write_data).size(), size_t(3));
        QCOMPARE(calls_of(calls, LinkCall::discard_input).size(), size_t(0));

        QCOMPARE(trace_log::starting_with("sync try="), QStringList({"sync try= 0"}));
        QCOMPARE(trace_log::count(R"(xmodem recv init = "C")"), 1);
        QCOMPARE(trace_log::starting_with("packetno"), numbered("packetno ", 1, 4));
        QCOMPARE(trace_log::count("Start to receive"), 3);
        QCOMPARE(trace_log::count("ACK Got!"), 3);
        QCOMPARE(trace_log::starting_with("current_report_step:"),
                 QStringList({"current_report_step: 1 ,report_step: 50", "current_report_step: 2 ,report_step: 50",
                              "current_report_step: 3 ,report_step: 50"}));
        QCOMPARE(trace_log::starting_with("Current="),
                 QStringList({"Current= 1024 All= 2048", "Current= 2048 All= 2048", "Current= 3072 All= 2048"}));
        QVERIFY(trace_log::starting_with("Retry for").isEmpty());
    }

    void empty_image_sends_one_pad_block()
    {
        TransmitterRun run {QByteArray()};
        QVERIFY(run.start());
        run.pty.write("C");
        const QByteArray frame = run.pty.read_exact(1029, prompt_ms);
        const QString fault = frame_fault(frame, 1, QByteArray(1024, PAD), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        run.pty.write(QByteArray(1, ACK));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);
        QCOMPARE(run.reports.progress(), QVector<int>({1024}));
        QCOMPARE(run.reports.debug_lines(), start_log(0));
    }

    void one_byte_image_is_padded()
    {
        const QByteArray image("\x80", 1);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        const QByteArray frame = run.pty.read_exact(1029, prompt_ms);
        const QString fault = frame_fault(frame, 1, image + QByteArray(1023, PAD), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        run.pty.write(QByteArray(1, ACK));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);
        QCOMPARE(run.reports.progress(), QVector<int>({1024}));
    }

    void nak_at_sync_selects_checksum_frames()
    {
        const QByteArray image = random_image(1500, 2);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write(QByteArray(1, NAK));
        const QString fault = acknowledge_blocks(run.pty, image, 0, 1, 1024, false);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);
        QCOMPARE(run.reports.progress(), QVector<int>({1024, 2048}));
        QCOMPARE(trace_log::starting_with("xmodem recv init"), QStringList());
    }

    void synced_transfer_sends_first_frame_without_reading()
    {
        const QByteArray image = random_image(700, 3);
        TransmitterRun run(image, 1);
        QVERIFY(run.start());
        const QString fault = acknowledge_blocks(run.pty, image, 0, 1, 1024, true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);

        const std::vector<LinkCall> calls = run.calls.snapshot();
        QVERIFY(!calls.empty());
        QCOMPARE(int(calls.front().op), int(LinkCall::write_data));
        QCOMPARE(run.reports.debug_lines(), start_log(700));
        QCOMPARE(trace_log::count(R"(xmodem recv init = "C")"), 1);
        QVERIFY(trace_log::starting_with("sync try=").isEmpty());
    }

    void block_numbers_wrap_after_255()
    {
        // 257 blocks: the 256th carries number 0, the 257th number 1.
        const QByteArray image = random_image(256 * 1024 + 100, 4);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        const QString fault = acknowledge_blocks(run.pty, image, 0, 1, 1024, true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);

        const std::vector<LinkCall> frames = calls_of(run.calls.snapshot(), LinkCall::write_data);
        QCOMPARE(int(frames.size()), 257);
        QCOMPARE(frames[255].bytes.mid(1, 2), bytes({'\x00', '\xff'}));
        QCOMPARE(frames[256].bytes.mid(1, 2), bytes({'\x01', '\xfe'}));
        const QVector<int> progress = run.reports.progress();
        QCOMPARE(progress.size(), 257);
        QCOMPARE(progress.last(), 257 * 1024);
        // The report counter runs 1..50 and starts again.
        QCOMPARE(trace_log::count("current_report_step: 50 ,report_step: 50"), 5);
        QCOMPARE(trace_log::count("current_report_step: 1 ,report_step: 50"), 6);
        QCOMPARE(trace_log::count("current_report_step: 51 ,report_step: 50"), 0);
    }

    void small_block_mode_data()
    {
        QTest::addColumn<bool>("crc");
        QTest::newRow("crc") << true;
        QTest::newRow("checksum") << false;
    }

    void small_block_mode()
    {
        QFETCH(bool, crc);
        const QByteArray image = random_image(600, 5);
        TransmitterRun run(image, 0, 1);
        QVERIFY(run.start());
        run.pty.write(QByteArray(1, crc ? CRC_REQUEST : NAK));
        const QString fault = acknowledge_blocks(run.pty, image, 0, 1, 256, crc);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);
        QCOMPARE(run.reports.progress(), QVector<int>({256, 512, 768}));
    }

    void block_mode_is_read_for_every_block()
    {
        const QByteArray image = random_image(1300, 6);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        QString fault = frame_fault(run.pty.read_exact(1029, prompt_ms), 1, image.left(1024), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        run.block_mode = 1;
        run.pty.write(QByteArray(1, ACK));
        fault = acknowledge_blocks(run.pty, image, 1024, 2, 256, true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);
        QCOMPARE(run.reports.progress(), QVector<int>({1024, 1280, 1536}));
    }

    void can_pair_at_sync_cancels()
    {
        TransmitterRun run(random_image(100, 7));
        QVERIFY(run.start());
        run.pty.write(QByteArray(1, CAN));
        QVERIFY(run.calls.wait_for_read_result(CAN, 1, prompt_ms));
        run.pty.write(QByteArray(1, CAN));
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), cancelled_or_no_eot_reply);
        QCOMPARE(pending_bytes(run.pty.master()), QByteArray(1, ACK));
        const std::vector<LinkCall> calls = run.calls.snapshot();
        QCOMPARE(read_timeouts(calls), QVector<qint64>({1000, 1000}));
        QVERIFY(calls.size() >= 2);
        QCOMPARE(int(calls[calls.size() - 2].op), int(LinkCall::write_byte));
        QCOMPARE(int(calls.back().op), int(LinkCall::discard_input));
        QCOMPARE(trace_log::count("canceled by remote"), 1);
        QCOMPARE(run.reports.debug_lines(), start_log(100));
        QVERIFY(run.reports.progress().isEmpty());
    }

    void can_and_other_byte_at_sync_use_up_a_try()
    {
        const QByteArray image = random_image(10, 8);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write(QByteArray(1, CAN));
        QVERIFY(run.calls.wait_for_read_result(CAN, 1, prompt_ms));
        run.pty.write("x");
        QVERIFY(run.calls.wait_for_read_result('x', 1, prompt_ms));
        run.pty.write("C");
        const QString fault = acknowledge_blocks(run.pty, image, 0, 1, 1024, true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), ok);
        QCOMPARE(trace_log::starting_with("sync try="), QStringList({"sync try= 0", "sync try= 1"}));
        // The byte after the CAN is dropped, not taken as a sync reply.
        QCOMPARE(trace_log::starting_with("xmodem recv init"), QStringList({R"(xmodem recv init = "C")"}));
        QCOMPARE(read_timeouts(run.calls.snapshot()).mid(0, 3), QVector<qint64>({1000, 1000, 1000}));
    }

    void can_pair_in_one_burst_at_sync_is_a_lone_can()
    {
        const QByteArray image = random_image(10, 9);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write(bytes({CAN, CAN}));
        QVERIFY(run.calls.wait_for_read_result(CAN, 1, prompt_ms));
        // The follow-up read finds this, not the CAN of the burst.
        run.pty.write("C");
        QVERIFY(run.calls.wait_for_read_result(CRC_REQUEST, 1, prompt_ms));
        run.pty.write("C");
        const QString fault = acknowledge_blocks(run.pty, image, 0, 1, 1024, true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), ok);
        QCOMPARE(trace_log::starting_with("sync try="), QStringList({"sync try= 0", "sync try= 1"}));
        QCOMPARE(trace_log::count("canceled by remote"), 0);
        QCOMPARE(calls_of(run.calls.snapshot(), LinkCall::write_byte).size(), size_t(1));  // the EOT
    }

    void other_bytes_at_sync_end_in_no_sync()
    {
        TransmitterRun run(random_image(10, 10));
        QVERIFY(run.start());
        QStringList expected_traces;
        for (int attempt = 0; attempt < 16; ++attempt) {
            QVERIFY(trace_log::wait_for(QStringLiteral("sync try= %1").arg(attempt), 1, prompt_ms));
            // A byte above 0x7F reads as negative and counts as no byte.
            const char byte = attempt == 5 ? '\xc3' : char('a' + attempt);
            if (attempt != 5)
                expected_traces.append(QStringLiteral("xmodem recv init = %1").arg(int(byte)));
            run.pty.write(QByteArray(1, byte));
        }
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), no_sync);
        QCOMPARE(trace_log::starting_with("xmodem recv init"), expected_traces);
        QCOMPARE(pending_bytes(run.pty.master()), bytes({CAN, CAN, CAN}));
        const std::vector<LinkCall> calls = run.calls.snapshot();
        QCOMPARE(read_timeouts(calls), QVector<qint64>(16, 1000));
        QCOMPARE(int(calls.back().op), int(LinkCall::discard_input));
        QCOMPARE(run.reports.debug_lines(), start_log(10) << "xmodem no sync detected, fail");
    }

    void silent_receiver_gives_no_sync_after_16_tries()
    {
        TransmitterRun run(random_image(10, 11));
        QVERIFY(run.start());
        QVERIFY(run.finish(40000));

        QCOMPARE(run.result(), no_sync);
        QVERIFY2(run.elapsed_ms() >= 15900 && run.elapsed_ms() < 25000,
                 qPrintable(QStringLiteral("no sync after %1 ms").arg(run.elapsed_ms())));
        QCOMPARE(trace_log::starting_with("sync try="), numbered("sync try= ", 0, 15));
        QCOMPARE(pending_bytes(run.pty.master()), bytes({CAN, CAN, CAN}));
        const std::vector<LinkCall> calls = run.calls.snapshot();
        const std::vector<LinkCall> reads = calls_of(calls, LinkCall::read_byte);
        QCOMPARE(int(reads.size()), 16);
        for (const LinkCall &read : reads) {
            QCOMPARE(read.argument, qint64(1000));
            QCOMPARE(read.result, qint64(-1));
        }
        QCOMPARE(int(calls.back().op), int(LinkCall::discard_input));
        QCOMPARE(run.reports.debug_lines(), start_log(10) << "xmodem no sync detected, fail");
        QVERIFY(run.reports.progress().isEmpty());
    }

    void can_pair_after_block_cancels()
    {
        const QByteArray image = random_image(3000, 12);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        QString fault = frame_fault(run.pty.read_exact(1029, prompt_ms), 1, image.left(1024), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        run.pty.write(QByteArray(1, ACK));
        fault = frame_fault(run.pty.read_exact(1029, prompt_ms), 2, image.mid(1024, 1024), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        run.pty.write(QByteArray(1, CAN));
        QVERIFY(run.calls.wait_for_read_result(CAN, 1, prompt_ms));
        run.pty.write(QByteArray(1, CAN));
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), cancelled_or_no_eot_reply);
        QCOMPARE(pending_bytes(run.pty.master()), QByteArray(1, ACK));
        const std::vector<LinkCall> calls = run.calls.snapshot();
        QCOMPARE(read_timeouts(calls), QVector<qint64>({1000, 500, 500, 1000}));
        QCOMPARE(calls_of(calls, LinkCall::discard_input).size(), size_t(0));
        QCOMPARE(trace_log::count("canceled by remote"), 0);
        QCOMPARE(run.reports.progress(), QVector<int>({1024}));
    }

    void can_pair_in_one_burst_after_block_is_a_failed_send()
    {
        const QByteArray image = random_image(500, 13);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        const QByteArray first = run.pty.read_exact(1029, prompt_ms);
        QString fault = frame_fault(first, 1, expected_field(image, 0, 1024), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        run.pty.write(bytes({CAN, CAN}));
        QVERIFY(run.calls.wait_for_read_result(CAN, 1, prompt_ms));
        run.pty.write("Z");  // what the follow-up read finds
        QCOMPARE(run.pty.read_exact(1029, prompt_ms), first);
        run.pty.write(QByteArray(1, ACK));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), ok);
        QCOMPARE(trace_log::starting_with("Retry for"), QStringList({"Retry for 1"}));
        QCOMPARE(calls_of(run.calls.snapshot(), LinkCall::write_byte).size(), size_t(1));  // the EOT
        QCOMPARE(run.reports.progress(), QVector<int>({1024}));
    }

    void silent_reply_resends_after_500_ms()
    {
        const QByteArray image = random_image(500, 14);
        TransmitterRun run(image, 1);
        QVERIFY(run.start());
        const QByteArray first = run.pty.read_exact(1029, prompt_ms);
        QCOMPARE(first.size(), 1029);
        QCOMPARE(run.pty.read_exact(1029, prompt_ms), first);
        run.pty.write(QByteArray(1, ACK));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);

        const std::vector<LinkCall> calls = run.calls.snapshot();
        QVERIFY(calls.size() >= 3);
        QCOMPARE(int(calls[0].op), int(LinkCall::write_data));
        QCOMPARE(int(calls[1].op), int(LinkCall::read_byte));
        QCOMPARE(calls[1].result, qint64(-1));
        const qint64 waited = calls[1].at_ms - calls[0].at_ms;
        QVERIFY2(waited >= 495 && waited < 1500, qPrintable(QStringLiteral("waited %1 ms").arg(waited)));
        QCOMPARE(trace_log::starting_with("Retry for"), QStringList({"Retry for 1"}));
    }

    void four_naks_then_ack_continue()
    {
        const QByteArray image = random_image(1500, 15);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        const QByteArray first = run.pty.read_exact(1029, prompt_ms);
        const QString fault = frame_fault(first, 1, image.left(1024), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        for (int nak = 0; nak < 4; ++nak) {
            run.pty.write(QByteArray(1, NAK));
            QCOMPARE(run.pty.read_exact(1029, prompt_ms), first);
        }
        run.pty.write(QByteArray(1, ACK));
        const QString rest = acknowledge_blocks(run.pty, image, 1024, 2, 1024, true);
        QVERIFY2(rest.isEmpty(), qPrintable(rest));
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), ok);
        QCOMPARE(trace_log::starting_with("Retry for"), numbered("Retry for ", 1, 4));
        QCOMPARE(read_timeouts(run.calls.snapshot()), QVector<qint64>({1000, 500, 500, 500, 500, 500, 500}));
        QCOMPARE(run.reports.progress(), QVector<int>({1024, 2048}));
    }

    void five_naks_abort_with_three_cans()
    {
        const QByteArray image = random_image(1500, 16);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        const QByteArray first = run.pty.read_exact(1029, prompt_ms);
        QCOMPARE(first.size(), 1029);
        run.pty.write(QByteArray(1, NAK));
        for (int resend = 0; resend < 4; ++resend) {
            QCOMPARE(run.pty.read_exact(1029, prompt_ms), first);
            run.pty.write(QByteArray(1, NAK));
        }
        QCOMPARE(run.pty.read_exact(3, prompt_ms), bytes({CAN, CAN, CAN}));
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), block_not_acknowledged);
        QCOMPARE(pending_bytes(run.pty.master()), QByteArray());
        QCOMPARE(trace_log::starting_with("Retry for"), numbered("Retry for ", 1, 4));
        const std::vector<LinkCall> calls = run.calls.snapshot();
        QCOMPARE(calls_of(calls, LinkCall::write_data).size(), size_t(5));
        QCOMPARE(calls_of(calls, LinkCall::discard_input).size(), size_t(0));
        QCOMPARE(run.reports.debug_lines(), start_log(1500));
        QVERIFY(run.reports.progress().isEmpty());
    }

    void ack_with_trailing_bytes_counts_once()
    {
        const QByteArray image = random_image(1500, 17);
        TransmitterRun run(image);
        QVERIFY(run.start());
        run.pty.write("C");
        QString fault = frame_fault(run.pty.read_exact(1029, prompt_ms), 1, image.left(1024), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        run.pty.write(bytes({ACK, NAK, CAN, CAN, 'x', 'y'}));
        fault = frame_fault(run.pty.read_exact(1029, prompt_ms), 2, expected_field(image, 1024, 1024), true);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        run.pty.write(QByteArray(1, ACK));
        // Block 2 goes out once: the dropped NAK did not count against it.
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);
        QVERIFY(trace_log::starting_with("Retry for").isEmpty());
        QCOMPARE(run.reports.progress(), QVector<int>({1024, 2048}));
    }

    void eot_answered_by_nak_completes()
    {
        const QByteArray image = random_image(10, 18);
        TransmitterRun run(image, 1);
        QVERIFY(run.start());
        QVERIFY(acknowledge_blocks(run.pty, image, 0, 1, 1024, true).isEmpty());
        QVERIFY(answer_eot(run.pty, QByteArray(1, NAK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);
        QCOMPARE(pending_bytes(run.pty.master()), QByteArray());
    }

    void eot_answered_by_nul_burst_is_sent_again()
    {
        const QByteArray image = random_image(10, 19);
        TransmitterRun run(image, 1);
        QVERIFY(run.start());
        QVERIFY(acknowledge_blocks(run.pty, image, 0, 1, 1024, true).isEmpty());
        QVERIFY(answer_eot(run.pty, bytes({'\0', ACK})).isEmpty());
        QVERIFY(answer_eot(run.pty, QByteArray("done")).isEmpty());
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), ok);
        QCOMPARE(trace_log::count("packetno 2"), 2);
        const std::vector<LinkCall> waits = calls_of(run.calls.snapshot(), LinkCall::wait_for_data);
        QCOMPARE(int(waits.size()), 2);
        QCOMPARE(waits[1].argument, qint64(10000));
    }

    void eot_answered_empty_ten_times_fails()
    {
        const QByteArray image = random_image(10, 20);
        TransmitterRun run(image, 1);
        QVERIFY(run.start());
        QVERIFY(acknowledge_blocks(run.pty, image, 0, 1, 1024, true).isEmpty());
        for (int eot = 0; eot < 10; ++eot) {
            const QString fault = answer_eot(run.pty, QByteArray(1, '\0'));
            QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("EOT %1: %2").arg(eot + 1).arg(fault)));
        }
        QVERIFY(run.finish(prompt_ms));

        QCOMPARE(run.result(), cancelled_or_no_eot_reply);
        QCOMPARE(pending_bytes(run.pty.master()), QByteArray());  // no 11th EOT, no CAN
        QCOMPARE(trace_log::count("packetno 2"), 10);
        QCOMPARE(trace_log::count("EOT answered empty 10 times, giving up"), 1);
        QCOMPARE(run.reports.progress(), QVector<int>({1024}));
    }

    void silent_eot_fails_after_10_s()
    {
        TransmitterRun run(QByteArray {}, 1);
        QVERIFY(run.start());
        QVERIFY(acknowledge_blocks(run.pty, QByteArray(), 0, 1, 1024, true).isEmpty());
        QCOMPARE(run.pty.read_exact(1, prompt_ms), QByteArray(1, EOT));
        QVERIFY(run.finish(30000));

        QCOMPARE(run.result(), cancelled_or_no_eot_reply);
        QCOMPARE(trace_log::count("Err1"), 1);
        QCOMPARE(pending_bytes(run.pty.master()), QByteArray());  // no CAN after EOT
        const std::vector<LinkCall> calls = run.calls.snapshot();
        QVERIFY(calls.size() >= 2);
        const LinkCall &eot = calls[calls.size() - 2];
        const LinkCall &wait = calls.back();
        QCOMPARE(int(eot.op), int(LinkCall::write_byte));
        QCOMPARE(int(wait.op), int(LinkCall::wait_for_data));
        QCOMPARE(wait.result, qint64(0));
        const qint64 waited = wait.at_ms - eot.at_ms;
        QVERIFY2(waited >= 9950 && waited < 13000, qPrintable(QStringLiteral("waited %1 ms").arg(waited)));
    }

    void negative_length_sends_only_eot()
    {
        TransmitterRun run(QByteArray("abc"), 1);
        run.set_length(-5);
        QVERIFY(run.start());
        QVERIFY(answer_eot(run.pty, QByteArray(1, ACK)).isEmpty());
        QVERIFY(run.finish(prompt_ms));
        QCOMPARE(run.result(), ok);
        QCOMPARE(calls_of(run.calls.snapshot(), LinkCall::write_data).size(), size_t(0));
        QVERIFY(run.reports.progress().isEmpty());
        QCOMPARE(run.reports.debug_lines(), start_log(-5));
    }
};

QTEST_GUILESS_MAIN(TestXmodem)
#include "tst_xmodem.moc"
