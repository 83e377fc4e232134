// The fuzz targets without libFuzzer: every seed and every kept finding is
// replayed in the ordinary build, and the seeds written for one particular
// conversation must still reach the outcome they were written for.
#include "fuzz/fuzz_targets.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <algorithm>

namespace {

const QStringList target_names = {"reply_text", "device_query", "download_ack", "xmodem"};

QDir fuzz_dir(const QString &kind, const QString &target)
{
    return QDir(QStringLiteral(KV20_FUZZ_DIR "/%1/%2").arg(kind, target));
}

QByteArray read_file(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs one input through the named target; the link-driven ones also hand
// back what happened.
QString run_target(const QString &target, const QByteArray &input, FuzzOutcome *outcome = nullptr)
{
    const auto *data = reinterpret_cast<const std::uint8_t *>(input.constData());
    const auto size = static_cast<std::size_t>(input.size());
    if (target == QLatin1String("reply_text"))
        return fuzz_reply_text(data, size);
    if (target == QLatin1String("device_query"))
        return fuzz_device_query(data, size, outcome);
    if (target == QLatin1String("download_ack"))
        return fuzz_download_ack(data, size, outcome);
    return fuzz_xmodem(data, size, outcome);
}

} // namespace

class FuzzReplayTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replay_data();
    void replay();
    void seeds_reach_their_outcome_data();
    void seeds_reach_their_outcome();
};

void FuzzReplayTest::initTestCase()
{
    fuzz_silence_qt_messages();
    // A wrong corpus path would leave the replay with nothing to do.
    for (const QString &name : target_names)
        QVERIFY2(fuzz_dir(QStringLiteral("corpus"), name).entryList(QDir::Files).size() >= 5, qPrintable(name));
}

void FuzzReplayTest::replay_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    for (const QString &name : target_names) {
        for (const QString &kind : {QStringLiteral("corpus"), QStringLiteral("findings")}) {
            const QDir dir = fuzz_dir(kind, name);
            for (const QString &file : dir.entryList(QDir::Files, QDir::Name))
                QTest::newRow(qPrintable(kind + '/' + name + '/' + file)) << name << dir.filePath(file);
        }
    }
}

void FuzzReplayTest::replay()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    const QString finding = run_target(target, read_file(path));
    QVERIFY2(finding.isEmpty(), qPrintable(finding));
}

void FuzzReplayTest::seeds_reach_their_outcome_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("frames");  // frames written, or commands for a query; -1: not checked

    const struct { const char *target, *seed; int result, frames; } rows[] = {
        {"device_query", "wifi_all_answered", 0, 4},
        {"device_query", "wifi_first_silent", -1, 1},
        {"device_query", "wifi_only_serial_number", 0, 4},
        {"device_query", "wifi_two_bursts_then_silent", -1, 2},
        {"device_query", "wifi_late_bytes_carried_over", 0, 4},
        {"device_query", "cellular_all_answered", 0, 2},
        {"device_query", "cellular_short_info", 0, 2},
        {"device_query", "cellular_info_silent", -1, 1},
        {"download_ack", "audio_ack_with_c", 0, 3},
        {"download_ack", "firmware_ack_then_sync", 0, 3},
        {"download_ack", "firmware_checksum_mode", 0, 3},
        {"download_ack", "small_blocks", 0, 12},
        {"download_ack", "ack_in_capitals", -1, 0},
        {"download_ack", "ack_after_nul", -1, 0},
        {"download_ack", "no_reply", -1, 0},
        {"download_ack", "empty_path", -1, -1},
        {"download_ack", "missing_file", -1, -1},
        {"download_ack", "cancel_after_block", -1, 1},
        {"xmodem", "crc_3000", 0, 3},
        {"xmodem", "synced_1024", 0, 2},
        {"xmodem", "empty_image", 0, 1},
        {"xmodem", "one_byte_checksum", 0, 1},
        {"xmodem", "small_blocks_3000", 0, 12},
        {"xmodem", "cancel_at_sync", -1, 0},
        {"xmodem", "can_pair_in_one_read", -2, 0},
        {"xmodem", "five_naks", -4, 5},
        {"xmodem", "four_naks_then_ack", 0, 5},
        {"xmodem", "eot_answered_empty_then_text", 0, 1},
        {"xmodem", "eot_answered_empty_ten_times", -1, 1},
        {"xmodem", "eot_unanswered", -1, 1},
        {"xmodem", "ack_arrives_quietly", 0, 2},
        {"xmodem", "no_sync", -2, 0},
        {"xmodem", "block_number_wraps", 0, 258},
    };
    for (const auto &row : rows)
        QTest::newRow(row.seed) << QString::fromLatin1(row.target) << row.result << row.frames;
}

void FuzzReplayTest::seeds_reach_their_outcome()
{
    QFETCH(QString, target);
    QFETCH(int, result);
    QFETCH(int, frames);
    const QByteArray input = read_file(fuzz_dir(QStringLiteral("corpus"), target).filePath(QTest::currentDataTag()));
    QVERIFY(!input.isEmpty());
    FuzzOutcome outcome;
    const QString finding = run_target(target, input, &outcome);
    QVERIFY2(finding.isEmpty(), qPrintable(finding));
    QCOMPARE(outcome.result, result);
    if (frames < 0)
        return;
    // The download's command is a write of its own; frames are everything else.
    const int command = target == QLatin1String("download_ack") ? 1 : 0;
    const auto writes = std::count_if(outcome.trace.begin(), outcome.trace.end(),
                                      [](const FuzzEvent &e) { return e.kind == FuzzEvent::write_data; });
    QCOMPARE(int(writes) - command, frames);
}

QTEST_GUILESS_MAIN(FuzzReplayTest)
#include "tst_fuzz_replay.moc"
