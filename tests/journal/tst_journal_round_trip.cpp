// Whatever a record's values hold, the journal gives them back: records
// written through the journal's writer, read with the journal's one reader
// as the report and as the upload read it, and with a CSV reader of the
// test's own, after the last record was cut at each of its bytes and one
// more was appended.
#include "db/journal_records.h"
#include "journal/journal.h"
#include "journal/journal_format.h"
#include "journal/journal_reader.h"
#include "tests/support/csv_reader.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QDateTime started(QDate(2026, 12, 6), QTime(14, 21, 54, 636), Qt::OffsetFromUTC, 8 * 3600);

// `value` in every text field; a long one (a module's whole reply) only in
// the device version, so that reading the journal back after each cut stays
// cheap.
OperationRecord record_of(const QString &value, int n)
{
    OperationRecord r;
    const QString short_value = value.size() > 1000 ? value.left(40) : value;
    r.started = started.addSecs(n);
    r.tool = short_value;
    r.port = short_value + QString::number(n);
    r.operation = short_value;
    r.device_number = short_value;
    r.imei_or_mac = QString::number(n) + short_value;
    r.iccid_or_audio_version = short_value;
    r.device_version = value;
    r.image = short_value;
    r.image_bytes = 1000 + n;
    r.image_sha256 = QByteArray(64, 'c');
    r.ok = false;
    r.detail_read_back = short_value;
    r.duration_ms = 1234 + n;
    r.record_id = QStringLiteral("00000000-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0'));
    r.station = QStringLiteral("工位 %1").arg(n);
    r.slot = QStringLiteral("1-1.%1").arg(n % 7 + 1);
    r.operator_id = short_value;
    r.work_order = short_value + QString::number(n);
    r.product = short_value;
    r.recipe_sha256 = QByteArray(64, 'd');
    r.earlier.record_id = QStringLiteral("00000000-0000-4000-9000-%1").arg(n, 12, 10, QLatin1Char('0'));
    r.again_checked = short_value;
    return r;
}

// The record's fields in the journal's column order, as they should read back.
QStringList fields_of(const OperationRecord &r)
{
    return {r.started.toString(Qt::ISODateWithMs), r.tool, r.port, r.operation, r.device_number, r.imei_or_mac,
            r.iccid_or_audio_version, r.device_version, r.image, QString::number(r.image_bytes),
            QString::fromLatin1(r.image_sha256), QStringLiteral("failed"), r.detail_read_back, QString::number(r.duration_ms),
            r.record_id, r.station, r.slot, r.operator_id, r.work_order, r.product,
            QString::fromLatin1(r.recipe_sha256), r.earlier.record_id, r.again_checked};
}

QStringList original_fields(const QStringList &stored)
{
    QStringList values;
    std::string scratch;
    for (const QString &field : stored) {
        const QByteArray utf8 = field.toUtf8();
        const std::string_view value =
            journal_format::original_value(std::string_view(utf8.constData(), size_t(utf8.size())), &scratch);
        values << utf8_text(QByteArray(value.data(), int(value.size())));
    }
    return values;
}

// Every record through the CSV reader of the tests, values restored.
QList<QStringList> read_with_csv_reader(const QString &path)
{
    QList<QStringList> rows = read_csv(read_file(path));
    for (QStringList &row : rows)
        row = original_fields(row);
    return rows;
}

// The fields the report reads, as it should read them.
QStringList report_fields_of(const OperationRecord &r)
{
    return {r.port, r.operation, r.device_number, r.imei_or_mac, r.image, QString::fromLatin1(r.image_sha256),
            r.detail_read_back, QString::number(r.image_bytes), QString::number(r.duration_ms), r.ok ? "ok" : "failed",
            r.operator_id, r.work_order, QString::fromLatin1(r.recipe_sha256), r.earlier.record_id};
}

QString text(std::string_view view)
{
    return utf8_text(QByteArray(view.data(), int(view.size())));
}

// Every row through the report's reader: the fields it reads, or the reason
// it gives for an unreadable row.
QList<QStringList> read_with_report_reader(const QString &path)
{
    JournalReader reader;
    QString error;
    if (!reader.open(path, &error))
        return {{error}};
    QList<QStringList> rows {{QStringLiteral("header")}};
    const char *why = nullptr;
    while (reader.next(&why)) {
        const JournalRow &read = reader.record();
        if (why)
            rows << QStringList {QString::fromLatin1(why)};
        else
            rows << QStringList {text(read.port), text(read.operation), text(read.device_number),
                                 text(read.imei_or_mac), text(read.image), text(read.image_sha256),
                                 text(read.detail), QString::number(read.image_bytes),
                                 QString::number(read.duration_ms), read.ok ? "ok" : "failed",
                                 text(read.operator_id), text(read.work_order), text(read.recipe_sha256),
                                 text(read.again_of)};
    }
    return rows;
}

// The records the upload takes, every field as the database gets it, and
// the reasons of the rows it cannot take.
QList<QStringList> read_with_upload_reader(const QString &path, QStringList *unreadable)
{
    JournalRecords reader;
    JournalRecords::Batch batch;
    QString error;
    if (!reader.open(path, &error) || !reader.read(reader.start(), 100, &batch, &error))
        return {{error}};
    QList<QStringList> rows;
    for (const JournalRecords::Record &r : batch.records) {
        QStringList fields;
        for (const QByteArray &value : r.values)
            fields << utf8_text(value);
        rows << fields;
    }
    for (const JournalRecords::Unreadable &u : batch.unreadable)
        *unreadable << u.reason;
    return rows;
}

// The database's text holds no NUL.
QStringList database_fields_of(const OperationRecord &r)
{
    return fields_of(r).replaceInStrings(QString(QChar(0)), QString(QChar(QChar::ReplacementCharacter)));
}

} // namespace

class TestJournalRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void every_value_reads_back_after_any_cut_data();
    void every_value_reads_back_after_any_cut();
    void a_cut_preamble_is_completed();
};

void TestJournalRoundTrip::every_value_reads_back_after_any_cut_data()
{
    QTest::addColumn<QString>("value");       // in every text field of the records before the last
    QTest::addColumn<QString>("last_value");  // in the last record, the one cut at each of its bytes
    const QString module_reply = QStringLiteral("+ok=V1,0\r\n2026-12-06T14:21:54.636+08:00,x\r\n");
    const QString fake_end = QStringLiteral("x\",1234\r\n2026-12-06T14:21:54.636+08:00,cli,\"");
    QString big;
    while (big.size() < 70 * 1024)
        big += QStringLiteral("\"a,b\"\r\n2026-12-06T14:21:54.636+08:00,7\r\n\\r\n语音") + QString::number(big.size());
    QTest::newRow("a reply that fakes a record start") << module_reply << module_reply;
    QTest::newRow("a value that fakes a duration and a start") << fake_end << fake_end;
    QTest::newRow("quotes and commas") << QStringLiteral("\"a\"\",b,\"\"") << QStringLiteral(",\",\"");
    QTest::newRow("lone CR and LF") << QStringLiteral("a\rb\nc\r") << QStringLiteral("\n");
    QTest::newRow("backslashes beside line breaks") << QStringLiteral("C:\\new\\r\\\n\\") << QStringLiteral("\\n\r\n");
    QTest::newRow("formulas") << QStringLiteral("=1+2") << QStringLiteral("-2,\"@3\"");
    QTest::newRow("a value truly beginning with '=") << QStringLiteral("'=1+2") << QStringLiteral("''");
    QTest::newRow("'\\ from a module") << QStringLiteral("'\\r") << QStringLiteral("'\\\n");
    QTest::newRow("a byte-order mark in the middle") << QStringLiteral("\uFEFFtime,a\uFEFF") << QStringLiteral("a\uFEFF\"");
    QTest::newRow("terminal escapes and NUL") << QStringLiteral("\x1b[2J\x1b]0;t\x07") + QChar(0) << QStringLiteral("\t=\x1b");
    QTest::newRow("invalid UTF-8 as it arrives") << QString::fromUtf8("\xff\xfe\xc3,\"") << QString::fromUtf8("\xed\xa0\x80");
    QTest::newRow("70 KB values") << big << module_reply;
}

void TestJournalRoundTrip::every_value_reads_back_after_any_cut()
{
    QFETCH(QString, value);
    QFETCH(QString, last_value);
    QTemporaryDir dir;
    const Journal journal(dir.filePath("kv20-journal.csv"));
    QList<OperationRecord> written;
    for (int n = 0; n < 3; ++n)
        written << record_of(value, n);
    written << record_of(last_value, 3);
    for (const OperationRecord &r : written)
        QVERIFY(journal.append(r).in_journal);
    const QByteArray whole = read_file(journal.path());
    const qint64 last_start = whole.size() - Journal::record_row(written.last()).size();
    QCOMPARE(whole.count('\n'), 5);  // one record per line

    const OperationRecord appended = record_of(last_value + QStringLiteral("new"), 9);
    // From the end backwards, so that each cut leaves a beginning of the
    // journal as it was written.
    for (qint64 cut = whole.size(); cut >= last_start; --cut) {
        QVERIFY(QFile::resize(journal.path(), cut));
        QVERIFY(journal.append(appended).in_journal);
        const bool torn = cut > last_start && cut < whole.size();
        const int whole_records = cut == whole.size() ? 4 : 3;
        for (const bool report : {false, true}) {
            const QList<QStringList> read =
                report ? read_with_report_reader(journal.path()) : read_with_csv_reader(journal.path());
            const auto expected = report ? report_fields_of : fields_of;
            QCOMPARE(read.size(), 1 + whole_records + (torn ? 1 : 0) + 1);
            for (int n = 0; n < whole_records; ++n)
                QCOMPARE(read.at(n + 1), expected(written.at(n)));
            if (read.last() != expected(appended))
                QFAIL(qPrintable(QStringLiteral("cut at %1 of %2: new record read as %3")
                                     .arg(cut - last_start)
                                     .arg(whole.size() - last_start)
                                     .arg(read.last().join(QLatin1Char('|')).left(300))));
        }
        // The upload takes the same records, every field; the torn one, as
        // closed off, it takes or names as the report does.
        QStringList unreadable;
        const QList<QStringList> uploaded = read_with_upload_reader(journal.path(), &unreadable);
        QCOMPARE(uploaded.size() + unreadable.size(), whole_records + 1 + (torn ? 1 : 0));
        for (int n = 0; n < whole_records; ++n)
            QCOMPARE(uploaded.at(n), database_fields_of(written.at(n)));
        QCOMPARE(uploaded.last(), database_fields_of(appended));
    }
}

void TestJournalRoundTrip::a_cut_preamble_is_completed()
{
    QTemporaryDir dir;
    const Journal journal(dir.filePath("kv20-journal.csv"));
    const QByteArray preamble = "\xEF\xBB\xBF" + Journal::header_row();
    const OperationRecord r = record_of(QStringLiteral("p"), 0);
    for (int cut = 0; cut <= preamble.size(); ++cut) {
        QFile file(journal.path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(preamble.left(cut)), qint64(cut));
        file.close();
        QVERIFY(journal.append(r).in_journal);
        QCOMPARE(read_file(journal.path()), preamble + Journal::record_row(r));
    }
}

QTEST_GUILESS_MAIN(TestJournalRoundTrip)
#include "tst_journal_round_trip.moc"
