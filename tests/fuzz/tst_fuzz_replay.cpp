// The fuzz targets without libFuzzer: every seed and every kept finding is
// replayed in the ordinary build, the seeds must still reach the outcome they
// were written for, and the targets' checks must reject broken behaviour.
#include "fuzz/fuzz_link.h"
#include "fuzz/fuzz_oracles.h"
#include "fuzz/fuzz_targets.h"
#include "protocol/reply_text.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

using Target = std::function<QString(const QByteArray &)>;

Target target_named(const QString &name)
{
    auto bytes = [](const QByteArray &input) { return reinterpret_cast<const std::uint8_t *>(input.constData()); };
    auto size = [](const QByteArray &input) { return static_cast<std::size_t>(input.size()); };
    if (name == QLatin1String("reply_text"))
        return [=](const QByteArray &in) { return fuzz_reply_text(bytes(in), size(in)); };
    if (name == QLatin1String("device_query"))
        return [=](const QByteArray &in) { return fuzz_device_query(bytes(in), size(in)); };
    if (name == QLatin1String("download_ack"))
        return [=](const QByteArray &in) { return fuzz_download_ack(bytes(in), size(in)); };
    return [=](const QByteArray &in) { return fuzz_xmodem(bytes(in), size(in)); };
}

const QStringList target_names = {"reply_text", "device_query", "download_ack", "xmodem"};

QByteArray read_file(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QByteArray seed(const QString &target, const QString &name)
{
    return read_file(QStringLiteral(KV20_FUZZ_DIR "/corpus/%1/%2").arg(target, name));
}

int count(const std::vector<FuzzEvent> &trace, FuzzEvent::Kind kind)
{
    return static_cast<int>(std::count_if(trace.begin(), trace.end(), [kind](const FuzzEvent &e) { return e.kind == kind; }));
}

int index_of_kind(const std::vector<FuzzEvent> &trace, FuzzEvent::Kind kind, int occurrence = 1)
{
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].kind == kind && --occurrence == 0)
            return static_cast<int>(i);
    }
    return -1;
}

// Deliberately broken stand-ins for the reply functions.
QString text_past_nul(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

bool value_to_line_end_after_marker(const QString &reply, QString *value)
{
    const int p = reply.indexOf(QLatin1String("+ok="));
    if (p < 0)
        return false;
    const int e = reply.indexOf(QLatin1String("\r\n"), p);
    *value = e < 0 ? reply.mid(p + 4) : reply.mid(p + 4, e - p - 4);
    return true;
}

bool value_with_marker(const QString &reply, QString *value)
{
    if (!extract_marker_value(reply, value))
        return false;
    *value = QLatin1String("+ok=") + *value;
    return true;
}

bool fields_without_empty_parts(const QString &reply, QStringList *fields, int *length)
{
    if (!split_info_value(reply, fields, length))
        return false;
    fields->removeAll(QString());
    return true;
}

bool fields_after_last_marker(const QString &reply, QStringList *fields, int *length)
{
    const int p = reply.lastIndexOf(QLatin1String("+ok="));
    if (p < 0)
        return false;
    const QString value = reply.mid(p + 4);
    *length = value.size();
    *fields = value.split(QLatin1Char(','));
    return true;
}

} // namespace

using Mutation = std::function<void(std::vector<FuzzEvent> &)>;
Q_DECLARE_METATYPE(Mutation)

class FuzzReplayTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { fuzz_silence_qt_messages(); }

    void every_target_has_seeds();
    void replay_data();
    void replay();
    void seeds_reach_their_outcome_data();
    void seeds_reach_their_outcome();

    void script_events_drive_the_link();
    void written_bytes_are_copied();

    void reply_checks_reject_broken_functions_data();
    void reply_checks_reject_broken_functions();
    void transfer_checks_reject_broken_traces_data();
    void transfer_checks_reject_broken_traces();
    void query_checks_reject_broken_traces_data();
    void query_checks_reject_broken_traces();
    void download_checks_reject_success_without_ack();
};

void FuzzReplayTest::every_target_has_seeds()
{
    for (const QString &name : target_names) {
        const QDir dir(QStringLiteral(KV20_FUZZ_DIR "/corpus/") + name);
        QVERIFY2(dir.entryList(QDir::Files).size() >= 5, qPrintable(name));
    }
}

void FuzzReplayTest::replay_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    for (const QString &name : target_names) {
        for (const char *kind : {"corpus", "findings"}) {
            const QDir dir(QStringLiteral(KV20_FUZZ_DIR "/%1/%2").arg(QLatin1String(kind), name));
            for (const QString &file : dir.entryList(QDir::Files, QDir::Name))
                QTest::newRow(qPrintable(QStringLiteral("%1/%2/%3").arg(QLatin1String(kind), name, file)))
                    << name << dir.filePath(file);
        }
    }
}

void FuzzReplayTest::replay()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString finding = target_named(target)(file.readAll());
    QVERIFY2(finding.isEmpty(), qPrintable(finding));
}

void FuzzReplayTest::seeds_reach_their_outcome_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("seed");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("frames");  // frames written, or commands for a query; -1: not checked

    QTest::newRow("wifi all answered") << "device_query" << "wifi_all_answered" << 0 << 4;
    QTest::newRow("wifi first silent") << "device_query" << "wifi_first_silent" << -1 << 1;
    QTest::newRow("wifi serial number only") << "device_query" << "wifi_only_serial_number" << 0 << 4;
    QTest::newRow("wifi version silent") << "device_query" << "wifi_two_bursts_then_silent" << -1 << 2;
    QTest::newRow("wifi late bytes") << "device_query" << "wifi_late_bytes_carried_over" << 0 << 4;
    QTest::newRow("cellular all answered") << "device_query" << "cellular_all_answered" << 0 << 2;
    QTest::newRow("cellular short info") << "device_query" << "cellular_short_info" << 0 << 2;
    QTest::newRow("cellular info silent") << "device_query" << "cellular_info_silent" << -1 << 1;

    QTest::newRow("audio ack with C") << "download_ack" << "audio_ack_with_c" << 0 << 3;
    QTest::newRow("firmware ack then sync") << "download_ack" << "firmware_ack_then_sync" << 0 << 3;
    QTest::newRow("firmware checksum") << "download_ack" << "firmware_checksum_mode" << 0 << 3;
    QTest::newRow("small blocks") << "download_ack" << "small_blocks" << 0 << 12;
    QTest::newRow("ack in capitals") << "download_ack" << "ack_in_capitals" << -1 << 0;
    QTest::newRow("ack after NUL") << "download_ack" << "ack_after_nul" << -1 << 0;
    QTest::newRow("no reply") << "download_ack" << "no_reply" << -1 << 0;
    QTest::newRow("empty path") << "download_ack" << "empty_path" << -1 << -1;
    QTest::newRow("missing file") << "download_ack" << "missing_file" << -1 << -1;
    QTest::newRow("cancel after block") << "download_ack" << "cancel_after_block" << -1 << 1;

    QTest::newRow("crc 3000") << "xmodem" << "crc_3000" << 0 << 3;
    QTest::newRow("synced 1024") << "xmodem" << "synced_1024" << 0 << 2;
    QTest::newRow("empty image") << "xmodem" << "empty_image" << 0 << 1;
    QTest::newRow("checksum") << "xmodem" << "one_byte_checksum" << 0 << 1;
    QTest::newRow("small blocks 3000") << "xmodem" << "small_blocks_3000" << 0 << 12;
    QTest::newRow("cancel at sync") << "xmodem" << "cancel_at_sync" << -1 << 0;
    QTest::newRow("CAN pair in one read") << "xmodem" << "can_pair_in_one_read" << -2 << 0;
    QTest::newRow("five NAKs") << "xmodem" << "five_naks" << -4 << 5;
    QTest::newRow("four NAKs then ACK") << "xmodem" << "four_naks_then_ack" << 0 << 5;
    QTest::newRow("empty EOT reply") << "xmodem" << "eot_answered_empty_then_text" << 0 << 1;
    QTest::newRow("EOT answered empty ten times") << "xmodem" << "eot_answered_empty_ten_times" << -1 << 1;
    QTest::newRow("EOT unanswered") << "xmodem" << "eot_unanswered" << -1 << 1;
    QTest::newRow("ACK arrives quietly") << "xmodem" << "ack_arrives_quietly" << 0 << 2;
    QTest::newRow("no sync") << "xmodem" << "no_sync" << -2 << 0;
    QTest::newRow("block number wraps") << "xmodem" << "block_number_wraps" << 0 << 258;
}

void FuzzReplayTest::seeds_reach_their_outcome()
{
    QFETCH(QString, target);
    QFETCH(QString, seed);
    QFETCH(int, result);
    QFETCH(int, frames);

    const QByteArray input = ::seed(target, seed);
    QVERIFY(!input.isEmpty());
    const auto *data = reinterpret_cast<const std::uint8_t *>(input.constData());
    const auto size = static_cast<std::size_t>(input.size());
    FuzzOutcome outcome;
    const QString finding = target == QLatin1String("device_query") ? fuzz_device_query(data, size, &outcome)
                          : target == QLatin1String("download_ack") ? fuzz_download_ack(data, size, &outcome)
                                                                     : fuzz_xmodem(data, size, &outcome);
    QVERIFY2(finding.isEmpty(), qPrintable(finding));
    QCOMPARE(outcome.result, result);
    if (frames < 0)
        return;
    // The download's command is a write of its own; frames are everything else.
    const int command = target == QLatin1String("download_ack") ? 1 : 0;
    QCOMPARE(count(outcome.trace, FuzzEvent::write_data) - command, frames);
}

void FuzzReplayTest::script_events_drive_the_link()
{
    // silence, token 1, burst "abc", quiet burst "xy", quiet token 0, then the
    // script ends.
    const QByteArray bytes("\x00\x41\x82"
                           "abc\xc1"
                           "xy\xe0",
                           10);
    FuzzScript script(reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    std::vector<FuzzEvent> trace;
    FuzzLink link(script, trace, {QByteArrayLiteral("T0"), QByteArrayLiteral("T1")});

    QVERIFY(!link.wait_for_data(200));
    QVERIFY(link.wait_for_data(200));
    QCOMPARE(link.read_all(), QByteArrayLiteral("T1"));
    QCOMPARE(link.read_byte(500), qint8('a'));  // "bc" of the same read are dropped
    QCOMPARE(link.read_all(), QByteArray());
    QVERIFY(!link.wait_for_data(20));          // "xy" lands after the time-out...
    QCOMPARE(link.read_all(), QByteArrayLiteral("xy"));  // ...and a later read finds it
    QCOMPARE(link.read_byte(1000), qint8(-1));  // quiet token: this read times out
    QCOMPARE(link.read_byte(1000), qint8('T'));  // the next one finds it at once
    QVERIFY(script.exhausted());
    QVERIFY(!link.wait_once(10000));
    QCOMPARE(link.read_byte(500), qint8(-1));
    link.discard_input();

    QCOMPARE(link.calls(), 12);
    QCOMPARE(link.waits_and_reads(), 11);
    QCOMPARE(static_cast<int>(trace.size()), 12);
    QCOMPARE(trace[3].kind, FuzzEvent::read_byte);
    QCOMPARE(trace[3].bytes, QByteArrayLiteral("abc"));
    QCOMPARE(trace[3].number, qint64(500));
    QCOMPARE(trace[9].kind, FuzzEvent::wait_once);
    QCOMPARE(trace[9].result, 0);
}

void FuzzReplayTest::written_bytes_are_copied()
{
    FuzzScript script(nullptr, 0);
    std::vector<FuzzEvent> trace;
    FuzzLink link(script, trace, {});
    char frame[4] = {1, 2, 3, 4};
    link.write_data(QByteArray::fromRawData(frame, 4));
    frame[0] = 9;  // the transmitter reuses its frame buffer for the next block
    link.write_byte(0x18);
    QCOMPARE(trace[0].bytes, QByteArray("\x01\x02\x03\x04", 4));
    QCOMPARE(trace[1].bytes, QByteArray(1, 0x18));
}

void FuzzReplayTest::reply_checks_reject_broken_functions_data()
{
    QTest::addColumn<int>("broken");
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("text runs past NUL") << 0 << QByteArray("+ok=A\0B\r\n", 9);
    QTest::newRow("line end searched from the marker") << 1 << QByteArray("AT+LVER\r\n+ok=V9\r\n");
    QTest::newRow("marker kept in the value") << 2 << QByteArray("xx+ok=1.2\r\n");
    QTest::newRow("empty fields dropped") << 3 << QByteArray("+ok=SN,,ICCID\r\n");
    QTest::newRow("last marker used") << 4 << QByteArray("+ok=a,b+ok=c\r\n");
}

void FuzzReplayTest::reply_checks_reject_broken_functions()
{
    QFETCH(int, broken);
    QFETCH(QByteArray, input);
    const ReplyFunctions good {reply_text, extract_marker_value, split_info_value};
    QVERIFY2(check_reply_rules(input, good).isEmpty(), qPrintable(check_reply_rules(input, good)));

    ReplyFunctions bad = good;
    switch (broken) {
    case 0: bad.reply_text = text_past_nul; break;
    case 1: bad.extract_marker_value = value_to_line_end_after_marker; break;
    case 2: bad.extract_marker_value = value_with_marker; break;
    case 3: bad.split_info_value = fields_without_empty_parts; break;
    case 4: bad.split_info_value = fields_after_last_marker; break;
    }
    QVERIFY(!check_reply_rules(input, bad).isEmpty());
}

void FuzzReplayTest::transfer_checks_reject_broken_traces_data()
{
    QTest::addColumn<Mutation>("mutate");
    QTest::addColumn<int>("result_change");

    auto frame = [](std::vector<FuzzEvent> &t, int n) -> QByteArray & { return t[size_t(index_of_kind(t, FuzzEvent::write_data, n))].bytes; };
    QTest::newRow("complement wrong") << Mutation([=](std::vector<FuzzEvent> &t) { frame(t, 2)[2] = 0; }) << 0;
    QTest::newRow("block number skipped") << Mutation([=](std::vector<FuzzEvent> &t) {
        frame(t, 2)[1] = 3;
        frame(t, 2)[2] = char(252);
    }) << 0;
    QTest::newRow("data beyond the image end") << Mutation([=](std::vector<FuzzEvent> &t) {
        QByteArray &last = frame(t, 3);
        last[3 + 3000 - 2048] = 'x';  // first byte after the image in block 3
    }) << 0;
    auto flip = [=](std::vector<FuzzEvent> &t, int n, int at) {
        QByteArray &f = frame(t, n);
        f[at] = char(f.at(at) ^ 1);
    };
    QTest::newRow("image byte changed") << Mutation([=](std::vector<FuzzEvent> &t) { flip(t, 1, 3 + 5); }) << 0;
    QTest::newRow("CRC wrong") << Mutation([=](std::vector<FuzzEvent> &t) { flip(t, 1, 1027); }) << 0;
    QTest::newRow("write after return") << Mutation([](std::vector<FuzzEvent> &t) {
        t.push_back({FuzzEvent::write_byte, QByteArray(1, 0x18), 0, 0, {}});
    }) << 0;
    QTest::newRow("progress off") << Mutation([](std::vector<FuzzEvent> &t) {
        t[size_t(index_of_kind(t, FuzzEvent::report_progress, 2))].number = 2000;
    }) << 0;
    QTest::newRow("progress missing") << Mutation([](std::vector<FuzzEvent> &t) {
        t.erase(t.begin() + index_of_kind(t, FuzzEvent::report_progress, 1));
    }) << 0;
    QTest::newRow("block reply waited too long") << Mutation([](std::vector<FuzzEvent> &t) {
        t[size_t(index_of_kind(t, FuzzEvent::read_byte, 2))].number = 1000;
    }) << 0;
    QTest::newRow("EOT missing") << Mutation([](std::vector<FuzzEvent> &t) {
        t.erase(t.begin() + index_of_kind(t, FuzzEvent::write_byte, 1));
    }) << 0;
    QTest::newRow("wrong result") << Mutation([](std::vector<FuzzEvent> &) {}) << -4;
}

void FuzzReplayTest::transfer_checks_reject_broken_traces()
{
    QFETCH(Mutation, mutate);
    QFETCH(int, result_change);
    const QByteArray input = seed(QStringLiteral("xmodem"), QStringLiteral("crc_3000"));
    QVERIFY(!input.isEmpty());
    FuzzOutcome run;
    QVERIFY(fuzz_xmodem(reinterpret_cast<const std::uint8_t *>(input.constData()), size_t(input.size()), &run).isEmpty());
    const QByteArray image = fuzz_xmodem_image(std::uint8_t(input.at(0)));
    QCOMPARE(image.size(), 3000);
    const quint8 synced = 0;
    QVERIFY(check_xmodem_run(run.trace, image, synced, 0, run.result).isEmpty());

    mutate(run.trace);
    QVERIFY(!check_xmodem_run(run.trace, image, synced, 0, run.result + result_change).isEmpty());
}

void FuzzReplayTest::query_checks_reject_broken_traces_data()
{
    QTest::addColumn<Mutation>("mutate");
    QTest::addColumn<int>("result_change");
    auto field = [](std::vector<FuzzEvent> &t, int n) -> FuzzEvent & { return t[size_t(index_of_kind(t, FuzzEvent::report_mac_text, n))]; };
    QTest::newRow("value with line end") << Mutation([=](std::vector<FuzzEvent> &t) { field(t, 1).text += QLatin1String("\r\n"); }) << 0;
    QTest::newRow("field type 4") << Mutation([=](std::vector<FuzzEvent> &t) { field(t, 4).number = 4; }) << 0;
    QTest::newRow("field types swapped") << Mutation([=](std::vector<FuzzEvent> &t) {
        std::swap(field(t, 1).number, field(t, 2).number);
    }) << 0;
    QTest::newRow("command out of order") << Mutation([](std::vector<FuzzEvent> &t) {
        std::swap(t[size_t(index_of_kind(t, FuzzEvent::write_data, 2))].bytes, t[size_t(index_of_kind(t, FuzzEvent::write_data, 3))].bytes);
    }) << 0;
    QTest::newRow("fifth command") << Mutation([](std::vector<FuzzEvent> &t) {
        t.push_back({FuzzEvent::write_data, QByteArrayLiteral("AT+WSMAC\r\n"), 0, 0, {}});
    }) << 0;
    QTest::newRow("first discard missing") << Mutation([](std::vector<FuzzEvent> &t) { t.erase(t.begin()); }) << 0;
    QTest::newRow("failure reported") << Mutation([](std::vector<FuzzEvent> &) {}) << -1;
}

void FuzzReplayTest::query_checks_reject_broken_traces()
{
    QFETCH(Mutation, mutate);
    QFETCH(int, result_change);
    const QByteArray input = seed(QStringLiteral("device_query"), QStringLiteral("wifi_all_answered"));
    QVERIFY(!input.isEmpty());
    FuzzOutcome run;
    QVERIFY(fuzz_device_query(reinterpret_cast<const std::uint8_t *>(input.constData()), size_t(input.size()), &run).isEmpty());
    QCOMPARE(count(run.trace, FuzzEvent::report_mac_text), 4);
    QVERIFY(check_query_run(run.trace, false, run.result).isEmpty());

    mutate(run.trace);
    QVERIFY(!check_query_run(run.trace, false, run.result + result_change).isEmpty());
}

void FuzzReplayTest::download_checks_reject_success_without_ack()
{
    const QByteArray input = seed(QStringLiteral("download_ack"), QStringLiteral("audio_ack_with_c"));
    QVERIFY(!input.isEmpty());
    FuzzOutcome run;
    QVERIFY(fuzz_download_ack(reinterpret_cast<const std::uint8_t *>(input.constData()), size_t(input.size()), &run).isEmpty());
    QCOMPARE(run.result, 0);
    QVERIFY(check_download_run(run.trace, fuzz_download_image(), ImagePath::valid, 1, 0, 0).isEmpty());

    // The same run with a NUL in front of the acknowledgement may not succeed.
    FuzzEvent &ack = run.trace[size_t(index_of_kind(run.trace, FuzzEvent::read_all))];
    ack.bytes.prepend('\0');
    QVERIFY(!check_download_run(run.trace, fuzz_download_image(), ImagePath::valid, 1, 0, 0).isEmpty());
}

QTEST_GUILESS_MAIN(FuzzReplayTest)
#include "tst_fuzz_replay.moc"
