// The results journal as it stands on disk: one record per operation through
// the worker against the simulated module, read back with a CSV reader of the
// test's own; several processes appending at once; a
// journal that cannot be written.
#include "journal/journal.h"
#include "journal/journal_format.h"
#include "tests/support/csv_reader.h"
#include "tests/support/module_sim_process.h"
#include "runner/module_session.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

namespace col = journal_format;

QRegularExpression uuid_pattern()
{
    return QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
}

OperationRecord sample(const QString &port_name, int n, const QString &image_path = QString())
{
    OperationRecord r;
    r.started = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 678));
    r.tool = QStringLiteral("cli");
    r.port = port_name;
    r.operation = QStringLiteral("audio");
    r.image = image_path;
    r.detail_read_back = QString::number(n);
    return r;
}

// Operations through the runner, as the window's would run, each on the
// simulated module at port_name, their records going to `journal`.
struct Run
{
    explicit Run(const QString &journal_path) : journal(journal_path) {}

    Journal journal;
    QStringList notices;
    QList<OperationRecord> records;
    QList<bool> in_journal;

    bool operate(const QString &port_name, int kind, int type, const QString &image_path = QString())
    {
        ModuleSession::Request request;
        request.type = quint8(type);
        request.image = image_path;
        request.cellular = kind != 0x90;
        request.tool = QStringLiteral("window");
        ModuleSession session({port_name, port_name}, request, journal);
        session.start();
        if (!QTest::qWaitFor([&] { return session.done(); }, 20000))
            return false;
        records << session.record();
        in_journal << session.journal_outcome().in_journal;
        notices << session.journal_outcome().notices;
        return true;
    }
};

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void each_operation_leaves_its_record_data();
    void each_operation_leaves_its_record();
    void four_processes_append_at_once();
    void records_go_beside_an_unavailable_journal_data();
    void records_go_beside_an_unavailable_journal();
    void an_older_journal_is_set_aside_data();
    void an_older_journal_is_set_aside();
    void records_name_their_station_data();
    void records_name_their_station();
};

void TestJournal::each_operation_leaves_its_record_data()
{
    QTest::addColumn<QStringList>("sim_args");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("image_file");  // "image.bin" exists, "absent.bin" does not
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QStringList>("device");  // as stored: device_number .. device_version

    const QStringList cellular {"KV20SIM000001", "860000000000017", "89860000000000000017", "KV20-FW-1.0.7"};
    const QStringList none {"", "", "", ""};
    QTest::newRow("query") << QStringList() << 0x81 << 0 << "" << "ok" << cellular;
    QTest::newRow("audio") << QStringList() << 0x81 << 1 << "image.bin" << "ok" << cellular;
    QTest::newRow("firmware, Wi-Fi")
        << QStringList {"--variant=wifi", "--serial=SN9", "--mac=aa:bb", "--audio-version=A2", "--fw-version=F3"}
        << 0x90 << 2 << "image.bin" << "ok" << QStringList {"SN9", "aa:bb", "A2", "F3"};
    QTest::newRow("silent module") << QStringList {"--no-reply"} << 0x81 << 0 << "" << "no reply" << none;
    QTest::newRow("no acknowledgement") << QStringList {"--no-download-ack"} << 0x81 << 1 << "image.bin"
                                        << "no acknowledgement" << cellular;
    QTest::newRow("missing image") << QStringList() << 0x81 << 1 << "absent.bin" << "image not found" << cellular;
    QTest::newRow("block 2 refused") << QStringList {"--nak-block=2", "--nak-times=5"} << 0x81 << 1 << "image.bin"
                                     << "transfer error -4" << cellular;
    // A module's value that a spreadsheet would run is kept as text; quotes,
    // commas and Chinese text come back unchanged.
    QTest::newRow("values to quote and guard")
        << QStringList {"--devno==HYPERLINK(1)", "--fw-version=固件 \"1,2\""} << 0x81 << 0 << "" << "ok"
        << QStringList {"'=HYPERLINK(1)", "860000000000017", "89860000000000000017", "固件 \"1,2\""};
}

void TestJournal::each_operation_leaves_its_record()
{
    QFETCH(QStringList, sim_args);
    QFETCH(int, kind);
    QFETCH(int, type);
    QFETCH(QString, image_file);
    QFETCH(QString, outcome);
    QFETCH(QStringList, device);

    QTemporaryDir dir;
    const QByteArray image_bytes_sent = QByteArray(3000, 'x') + QByteArray(77, '\x1a');
    QFile image_out(dir.filePath("image.bin"));
    QVERIFY(image_out.open(QIODevice::WriteOnly) && image_out.write(image_bytes_sent) == image_bytes_sent.size());
    image_out.close();
    const QString image_path = image_file.isEmpty() ? QString() : dir.filePath(image_file);

    ModuleSimProcess sim(QStringList {"--devno=KV20SIM000001", "--imei=860000000000017"} + sim_args << "--quiet");
    QVERIFY(sim.start());
    Run run(dir.filePath("kv20-journal.csv"));
    QVERIFY(run.operate(sim.device_path(), kind, type, image_path));
    QVERIFY(run.in_journal.last());

    const QByteArray raw = read_file(dir.filePath("kv20-journal.csv"));
    QVERIFY(raw.startsWith("\xEF\xBB\xBFtime,tool,port,operation,device_number,imei_or_mac,iccid_or_audio_version,"
                           "device_version,image,image_bytes,image_sha256,result,detail,duration_ms,record_id,station,slot,"
                           "operator,work_order,product,recipe_sha256,again_of,again_checked\r\n"));
    const QList<QStringList> records = read_csv(raw);
    QCOMPARE(records.size(), 2);
    const QStringList r = records.at(1);
    QCOMPARE(r.size(), int(col::column_count));
    QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$")
                 .match(r[col::time]).hasMatch(), qPrintable(r[col::time]));
    QCOMPARE(r[col::tool], QStringLiteral("window"));
    QCOMPARE(r[col::port], sim.device_path());
    QCOMPARE(r[col::operation], QStringList({"query", "audio", "firmware"}).at(type));
    QCOMPARE(r.mid(col::device_number, 4), device);
    QCOMPARE(r[col::image], image_path);
    const bool read = image_file == QLatin1String("image.bin") && outcome != QLatin1String("no reply");
    QCOMPARE(r[col::image_bytes], read ? QString::number(image_bytes_sent.size()) : QString());
    QCOMPARE(r[col::image_sha256], read ? QString(QCryptographicHash::hash(image_bytes_sent, QCryptographicHash::Sha256).toHex())
                                   : QString());
    QCOMPARE(r[col::result], outcome == QLatin1String("ok") ? QStringLiteral("ok") : QStringLiteral("failed"));
    QCOMPARE(r[col::detail], outcome == QLatin1String("ok") ? QString() : outcome);
    bool number = false;
    QVERIFY(r[col::duration_ms].toLongLong(&number) >= 0 && number);
    QVERIFY2(uuid_pattern().match(r[col::record_id]).hasMatch(), qPrintable(r[col::record_id]));
    QCOMPARE(r[col::station], QSysInfo::machineHostName());
}

void TestJournal::four_processes_append_at_once()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("kv20-journal.csv");
    constexpr int writers = 4, each = 200;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int w = 0; w < writers; ++w) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->start(QCoreApplication::applicationFilePath(),
                                {"--append", path, QStringLiteral("w%1").arg(w), QString::number(each)});
    }
    for (auto &process : processes) {
        QVERIFY(process->waitForFinished(60000));
        QCOMPARE(process->exitCode(), 0);
    }
    const QByteArray raw = read_file(path);
    QCOMPARE(raw.count("\xEF\xBB\xBF"), 1);  // created once
    const QList<QStringList> records = read_csv(raw);
    QCOMPARE(records.size(), 1 + writers * each);
    QMap<QString, int> next;
    QSet<QString> ids;
    for (int i = 1; i < records.size(); ++i) {
        const QStringList &r = records.at(i);
        QCOMPARE(r.size(), int(col::column_count));
        ids.insert(r[col::record_id]);
        QCOMPARE(r[col::detail].toInt(), next[r[col::port]]++);  // each writer's records whole and in its order
    }
    for (int w = 0; w < writers; ++w)
        QCOMPARE(next.value(QStringLiteral("w%1").arg(w)), each);
    QCOMPARE(ids.size(), writers * each);  // no record id made twice, in any process
}

void TestJournal::records_go_beside_an_unavailable_journal_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<int>("blocked_operations");
    QTest::addColumn<QString>("reason");
    QTest::newRow("locked by another program") << "lock" << 1 << "locked by another program";
    QTest::newRow("a folder of that name") << "folder" << 2 << "Is a directory";
    QTest::newRow("a full disk") << "/dev/full" << 1 << "No space left on device";
}

// While the journal cannot be written, records go to the side file and
// operations end as they would have; once it can be, records go to it again.
void TestJournal::records_go_beside_an_unavailable_journal()
{
    QFETCH(QString, blocker);
    QFETCH(int, blocked_operations);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("kv20-journal.csv");
    QProcess holder;
    if (blocker == QLatin1String("lock")) {
        holder.start("flock", {path, "-c", "echo locked; exec cat"});
        QVERIFY(holder.waitForReadyRead(5000));
    } else {
        QVERIFY(blocker == QLatin1String("folder") ? QDir().mkdir(path) : QFile::link(blocker, path));
    }

    ModuleSimProcess sim({"--quiet"});
    QVERIFY(sim.start());
    Run run(path);
    for (int n = 0; n < blocked_operations; ++n) {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(run.operate(sim.device_path(), 0x81, 0));
        // The usual query, at most 2 s for the lock, and a margin.
        QVERIFY2(clock.elapsed() < 1000 + Journal::lock_wait_ms + 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(run.records.last().ok);
        QVERIFY(!run.in_journal.last());
    }
    if (blocker == QLatin1String("lock")) {
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
    } else {
        QVERIFY(blocker == QLatin1String("folder") ? QDir().rmdir(path) : QFile::remove(path));
    }
    QVERIFY(run.operate(sim.device_path(), 0x81, 0));
    QVERIFY(run.in_journal.last());

    const QStringList side_files = QDir(dir.path()).entryList({"kv20-journal-unsaved-*.csv"});
    QCOMPARE(side_files.size(), 1);
    QVERIFY2(QRegularExpression("^kv20-journal-unsaved-\\d{8}-\\d{6}\\.csv$").match(side_files.first()).hasMatch(),
             qPrintable(side_files.first()));
    const QString side = dir.filePath(side_files.first());
    const QByteArray side_bytes = read_file(side);
    QVERIFY(side_bytes.startsWith("\xEF\xBB\xBF" + Journal::header_row()));
    QList<QStringList> kept = read_csv(side_bytes).mid(1), journalled = read_csv(read_file(path)).mid(1);
    QCOMPARE(kept.size(), blocked_operations);
    QCOMPARE(journalled.size(), 1);
    for (int n = 0; n < run.records.size(); ++n) {
        // The id and station are the journal's to give.
        QCOMPARE((n < blocked_operations ? kept.at(n) : journalled.first()).mid(0, col::record_id),
                 read_csv(Journal::record_row(run.records.at(n))).first().mid(0, col::record_id));
    }
    const QStringList refusals = run.notices.filter("journal not written: ");
    QCOMPARE(refusals.size(), blocked_operations);
    QVERIFY2(refusals.first().contains(reason), qPrintable(refusals.first()));
    // Where the records are is said once.
    QCOMPARE(run.notices.filter(QDir::toNativeSeparators(side)).size(), 1);
}

void TestJournal::an_older_journal_is_set_aside_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("set_aside");
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray header = Journal::header_row();
    const QByteArray older_header = header.left(header.indexOf(",record_id")) + "\r\n";
    const QByteArray older_record = "2026-01-02T03:04:05.678+08:00,cli,pts/1,query,D1,I1,C1,V1,,,,ok,,12\r\n";
    QTest::newRow("written before record ids") << bom + older_header + older_record << true;
    const QByteArray before_slots = header.left(header.indexOf(",slot")) + "\r\n";
    QTest::newRow("written before slots")
        << bom + before_slots + older_record.left(older_record.size() - 2) + ",6f1c0a52-1d2e-4c3b-9a8b-7c6d5e4f3a2b,L1\r\n"
        << true;
    QTest::newRow("older, last record cut") << bom + older_header + older_record.left(20) << true;
    QTest::newRow("not a journal") << QByteArray("name,age\r\nbob,3\r\n") << true;
    QTest::newRow("this version's") << bom + header << false;
    QTest::newRow("header cut where an older one ends") << bom + header.left(header.indexOf(",record_id")) << false;
    QTest::newRow("empty") << QByteArray() << false;
}

// Records already written stay byte for byte in the file set aside; every
// record after them is under a header that names its columns.
void TestJournal::an_older_journal_is_set_aside()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, set_aside);
    QTemporaryDir dir;
    const QString path = dir.filePath("kv20-journal.csv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
    file.close();
    const Journal journal(path);
    for (int n = 0; n < 2; ++n)
        QVERIFY(journal.append(sample(QStringLiteral("pts/9"), n)).in_journal);

    const QStringList older = QDir(dir.path()).entryList({"kv20-journal-older-*.csv"});
    QCOMPARE(older.size(), set_aside ? 1 : 0);
    if (set_aside) {
        QVERIFY2(QRegularExpression("^kv20-journal-older-\\d{8}-\\d{6}\\.csv$").match(older.first()).hasMatch(),
                 qPrintable(older.first()));
        QCOMPARE(read_file(dir.filePath(older.first())), before);
    }
    const QList<QStringList> records = read_csv(read_file(path));
    QCOMPARE(records.first(), read_csv(Journal::header_row()).first());
    QCOMPARE(records.size(), 3);
    for (int n = 1; n < 3; ++n) {
        QCOMPARE(records.at(n).size(), int(col::column_count));
        QCOMPARE(records.at(n)[col::detail], QString::number(n - 1));
    }
}

void TestJournal::records_name_their_station_data()
{
    QTest::addColumn<QByteArray>("station_ini");
    QTest::addColumn<QByteArray>("config_ini");
    QTest::addColumn<QString>("station");
    const QByteArray config = "[General]\nfs.img_path=/a.img\n[station]\nname=线 2 工位 3\n";
    QTest::newRow("neither file") << QByteArray() << QByteArray() << QSysInfo::machineHostName();
    QTest::newRow("config.ini") << QByteArray() << config << QStringLiteral("线 2 工位 3");
    QTest::newRow("station.ini first") << QByteArray("[station]\nname=line2-s4\n") << config << "line2-s4";
    QTest::newRow("config.ini without one") << QByteArray() << QByteArray("[General]\nfs.img_path=/a.img\n")
                                            << QSysInfo::machineHostName();
    // A name is taken whole, comma and all, as operators write it.
    QTest::newRow("a comma") << QByteArray("[station]\nname=line2, 工位3\n") << config << "line2, 工位3";
    QTest::newRow("a byte-order mark, CR LF") << QByteArray("\xEF\xBB\xBF[station]\r\nname = 工位3 \r\n") << config
                                              << "工位3";
    QTest::newRow("quoted in config.ini, as QSettings writes it")
        << QByteArray() << QByteArray("[General]\nfs.img_path=/a.img\n[station]\nname=\"line2, 工位3\"\n") << "line2, 工位3";
}

void TestJournal::records_name_their_station()
{
    QFETCH(QByteArray, station_ini);
    QFETCH(QByteArray, config_ini);
    QFETCH(QString, station);
    QTemporaryDir dir;
    for (const auto &[name, text] : {std::pair {"station.ini", station_ini}, std::pair {"config.ini", config_ini}}) {
        QFile file(dir.filePath(name));
        QVERIFY(text.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(text) == text.size()));
    }
    const Journal journal(dir.filePath("kv20-journal.csv"));
    QVERIFY(journal.append(sample(QStringLiteral("pts/9"), 0)).in_journal);
    const QList<QStringList> records = read_csv(read_file(journal.path()));
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(1)[col::station], station);
    QVERIFY(uuid_pattern().match(records.at(1)[col::record_id]).hasMatch());
}

int main(int argc, char **argv)
{
    // A writer process of four_processes_append_at_once.
    if (argc == 5 && QByteArray(argv[1]) == "--append") {
        const Journal journal(QString::fromLocal8Bit(argv[2]));
        for (int n = 0; n < atoi(argv[4]); ++n) {
            if (!journal.append(sample(QString::fromLocal8Bit(argv[3]), n, QStringLiteral("x,\"y\"\r\nz"))).in_journal)
                return 1;
        }
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journal.moc"
