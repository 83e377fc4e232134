// The worker thread against the module simulator on its pty: which query and
// which download each operation type starts, and for each fault a module can
// show, what the window is told, what the module received, and an upper bound
// on the time it takes. Every row ends with a healthy query on a fresh module,
// served by the same worker.
#include "tests/support/module_sim_process.h"
#include "worker/mpthread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// types: the operation-type bytes sent before the request (device kind,
// block mode); request -1: none.
struct Op
{
    const char *name;
    QByteArray types;
    int request;
    const char *variant;
};
enum { wifi_query, cell_query, audio, firmware };
const Op ops[] = {
    {"Wi-Fi query", "\x90", 0, "wifi"},
    {"cellular query", "\x81", 0, "cellular"},
    {"audio replacement", "\x81", 1, "cellular"},
    {"firmware upgrade", "\x90", 2, "wifi"},
    {"kinds 0x81 then 0x80", "\x81\x80", 0, "cellular"},
    {"kinds 0x81 then 0x90", "\x81\x90", 0, "cellular"},
    {"kind 0x8F", "\x8F", 0, "cellular"},
    {"types 3 4 5 128 alone", "\x03\x04\x05\x80", -1, "cellular"},
    {"type 4, audio", "\x81\x04", 1, "cellular"},
    {"types 4 then 3, audio", "\x81\x04\x03", 1, "cellular"},
};

// What the window is told, one token per signal: "show" (burn_show(false)),
// "mac+"/"mac-", "burn+"/"burn-", a status text with "!" when shown as a
// failure, "@N" for the first progress value; repeats become "token×N".
struct Outcome : QObject
{
    QStringList tokens, fields;  // fields: the device panel's type and trimmed value

    explicit Outcome(MPThread *w)
    {
        const auto add = [this](const QString &token) { tokens << token; };
        connect(w, &MPThread::burn_show, this, [=](bool on) { add(on ? "show(true)" : "show"); });
        connect(w, &MPThread::mac_done, this, [=](bool ok) { add(ok ? "mac+" : "mac-"); });
        connect(w, &MPThread::burn_done, this, [=](bool ok) { add(ok ? "burn+" : "burn-"); });
        connect(w, &MPThread::ui_set_status_text, this, [=](const QString &s, bool ok) { add(ok ? s : s + '!'); });
        connect(w, &MPThread::ui_set_progress, this, [=](int n) {
            if (!text().contains('@'))
                add('@' + QString::number(n));
        });
        connect(w, &MPThread::ui_set_mac_text, this,
                [this](const QString &v, quint8 t) { fields << QString::number(t) + v.trimmed(); });
    }
    QString text() const
    {
        QStringList out;
        for (int i = 0, n = 1; i < tokens.size(); i += n) {
            for (n = 1; i + n < tokens.size() && tokens[i + n] == tokens[i];)
                ++n;
            out << (n > 1 ? QStringLiteral("%1×%2").arg(tokens[i]).arg(n) : tokens[i]);
        }
        return out.join(' ');
    }
    bool ended(int request) const
    {
        return tokens.contains("mac-") || tokens.contains("burn+")
               || (tokens.contains("burn-") && (request == 0 || tokens.last() == "下载失败!"));
    }
};

QByteArray file_bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class WorkerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void outcomes_data() { table(false); }
    void outcomes() { run_row(); }
    void long_timeouts_data() { table(true); }
    void long_timeouts() { run_row(); }
    void cancel_leaves_the_module_idle_data();
    void cancel_leaves_the_module_idle();

private:
    void table(bool long_timeouts);
    void add(int op, const char *fault, const QStringList &args, const QString &expected, int bound_ms,
             const QString &fields = {}, const QString &image = {});
    void run_row();
    QString run(MPThread &worker, ModuleSimProcess &sim, const Op &op, const QString &image, int bound_ms,
                QStringList *fields);

    QTemporaryDir dir;
    qint64 ms = 0;
    const QString reading = QStringLiteral("show 设备信息读取中");
    const QString found = reading + " mac+", lost = reading + "×5 mac-", query_ok = found + " burn-";
    QString downloading(int op) const { return ops[op].request == 1 ? "音频文件下载中" : "设备固件下载中"; }
    QString done(int op, int first = 1024) const
    {
        return QStringLiteral("%1 %2 @%3 下载成功 burn+").arg(found, downloading(op)).arg(first);
    }
    QString failed(int op, const QString &why = {}) const
    {
        return QStringLiteral("%1 %2%3 burn- 下载失败!").arg(found, downloading(op), why);
    }
};

void WorkerTest::initTestCase()
{
    // Different images on the two paths: what arrives shows which was sent.
    for (const char *name : {"sound.img", "fw.bin", "empty.img"}) {
        QByteArray image(name[0] == 'e' ? 0 : 3000, 'E');  // ends in no padding, which the simulator strips
        QRandomGenerator rng(qHash(QByteArray(name)));
        for (int i = 0; i + 1 < image.size(); ++i)
            image[i] = char(rng.bounded(256));
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(image) == image.size());
    }
}

void WorkerTest::add(int op, const char *fault, const QStringList &args, const QString &expected, int bound_ms,
                     const QString &fields, const QString &image)
{
    const QString path = !image.isNull() ? image : dir.filePath(ops[op].request == 1 ? "sound.img" : "fw.bin");
    QTest::addRow("%s / %s", ops[op].name, fault) << op << args << expected << bound_ms << fields << path;
}

void WorkerTest::table(bool long_timeouts)
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QStringList>("args");  // the simulator's faults
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("bound_ms");
    QTest::addColumn<QString>("fields");  // checked when not empty
    QTest::addColumn<QString>("image");   // path of the operation's image
    if (long_timeouts) {
        add(audio, "EOT never answered", {"--eot-reply=none"}, failed(audio, " @1024 传输错误!"), 13000);
        add(audio, "never asks for the image", {"--silent-block=0"}, failed(audio, " 传输错误!"), 19000);
        return;
    }
    add(wifi_query, "type 0: Wi-Fi query", {}, query_ok, 1500, "0M 1V 2A 3S");
    add(cell_query, "type 0: cellular query", {}, query_ok, 1500, "3D 0I 2C 1V");
    add(4, "0x80 changes nothing", {}, query_ok, 1500, "3D 0I 2C 1V");
    add(5, "Wi-Fi query again", {}, query_ok, 1500, "1V 2A 3S");
    add(6, "cellular query", {}, query_ok, 1500, "3D 0I 2C 1V");
    add(7, "no request", {}, QString(), 300);
    add(audio, "type 1: audio image by AT+XUPDATE", {}, done(audio), 1500);
    add(firmware, "type 2: firmware image by AT+FOTA", {}, done(firmware), 1500);
    add(8, "256-byte blocks", {"--soh-size=256"}, done(8, 256), 1500);
    add(9, "1K blocks", {}, done(9), 1500);

    for (int op : {wifi_query, cell_query}) {
        add(op, "no reply", {"--no-reply"}, lost, 2500);
        add(op, "reply 150 ms late", {"--late-ms=150"}, query_ok, 2000);
        add(op, "reply in 3 bursts", {"--bursts=3", "--burst-gap-ms=10"}, query_ok, 1500);
        add(op, "no marker", {"--no-marker"}, lost, 2000);
        add(op, "NUL before marker", {"--nul-before-marker"}, lost, 2000);
        add(op, "garbage instead of reply", {"--garbage-instead=16"}, lost, 2000);
        add(op, "garbage before reply", {"--garbage-before=16"}, query_ok, 1500);
        add(op, "unplugged mid-reply", {"--unplug-reply-bytes=3"}, lost, 2500);
    }
    // A reply later than 200 ms is taken by the next attempt.
    add(cell_query, "reply 250 ms late", {"--late-ms=250"}, reading + "×2 mac+ burn-", 2000);
    add(cell_query, "first two INFO unanswered", {"--no-reply", "--fault-times=2", "--fault-command=AT+INFO"},
        reading + "×3 mac+ burn-", 2000);

    // The download command's acknowledgement must come whole within 100 ms.
    add(audio, "every reply 150 ms late", {"--late-ms=150"}, failed(audio), 2000);
    add(firmware, "every reply in 3 bursts", {"--bursts=3", "--burst-gap-ms=10"}, failed(firmware), 1500);
    add(audio, "no acknowledgement", {"--no-download-ack"}, failed(audio), 1500);
    add(firmware, "acknowledgement in capitals", {"--ack-upper"}, failed(firmware), 1500);
    add(audio, "acknowledgement one line end short", {"--ack-short"}, failed(audio), 1000);
    add(audio, "acknowledgement with C", {"--ack-with-c"}, done(audio), 1500);
    add(firmware, "checksum receiver", {"--checksum"}, done(firmware), 1500);
    add(audio, "block 2 NAKed 4 times", {"--nak-block=2", "--nak-times=4"}, done(audio), 1500);
    const QString broken = " @1024 传输错误!";
    add(firmware, "block 2 NAKed 5 times", {"--nak-block=2", "--nak-times=5"}, failed(firmware, broken), 1500);
    add(audio, "CAN pair after block 1", {"--cancel-block=2"}, failed(audio, broken), 1500);
    add(firmware, "CAN pair in one burst", {"--cancel-block=2", "--cancel-gap-ms=0"}, failed(firmware, broken), 5000);
    add(firmware, "silent from block 3", {"--silent-block=3"}, failed(firmware, broken), 4000);
    add(audio, "unplugged at block 2", {"--unplug-block=2"}, failed(audio, broken), 4000);
    add(audio, "EOT answered with NAK", {"--eot-reply=nak"}, done(audio), 1500);
    add(firmware, "EOT answered with empty text for ever", {"--eot-reply=nul", "--eot-fault-times=1000"},
        failed(firmware, broken), 1500);

    // Image files that cannot be sent whole: nothing reaches the module.
    const QString refused = found + " 未发现软件! burn- 下载失败!";
    add(audio, "image missing", {}, refused, 1500, {}, dir.filePath("none.img"));
    add(firmware, "image is a directory", {}, refused, 1500, {}, dir.path());
    add(audio, "image changes size while read", {}, refused, 1500, {}, "/proc/self/status");
    // A FIFO's open would wait for a writer for ever; a device's read never ends.
    QVERIFY(mkfifo(QFile::encodeName(dir.filePath("fifo.img")).constData(), 0600) == 0 || QFileInfo::exists(dir.filePath("fifo.img")));
    add(audio, "image is a FIFO", {}, refused, 1500, {}, dir.filePath("fifo.img"));
    add(firmware, "image is a device node", {}, refused, 1500, {}, "/dev/zero");
    add(firmware, "no image chosen", {}, found + " burn- 下载失败!", 1500, {}, "");
    add(audio, "empty image", {}, done(audio), 1500, {}, dir.filePath("empty.img"));
}

// One operation on a fresh module; sets ms to the time from the request to
// the last signal of its outcome.
QString WorkerTest::run(MPThread &worker, ModuleSimProcess &sim, const Op &op, const QString &image, int bound_ms,
                        QStringList *fields)
{
    Outcome outcome(&worker);
    // The open is served by the running worker loop: what follows meets it.
    if (!sim.start() || !worker.open_serial_port(sim.device_path(), QString()))
        return QStringLiteral("no module");
    for (char type : op.types)
        worker.__start_flash(flash_parameter(), quint8(type));
    flash_parameter request;
    request.fs_path = op.request == 1 ? image : dir.filePath("sound.img");
    request.fw_path = op.request == 2 ? image : dir.filePath("fw.bin");
    QElapsedTimer timer;
    timer.start();
    if (op.request >= 0)
        worker.__start_flash(request, quint8(op.request));
    (void)QTest::qWaitFor([&] { return outcome.ended(op.request); }, op.request < 0 ? bound_ms : bound_ms + 3000);
    ms = timer.elapsed();
    worker.close_serial_port();
    *fields = outcome.fields;
    return outcome.text();
}

void WorkerTest::run_row()
{
    QFETCH(int, op);
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    QFETCH(int, bound_ms);
    QFETCH(QString, fields);
    QFETCH(QString, image);
    const QString saved = dir.filePath("saved");
    QFile::remove(saved);
    const QStringList module {"--variant=" + QString(ops[op].variant), "--devno=D", "--imei=I", "--iccid=C",
                              "--fw-version=V", "--mac=M", "--audio-version=A", "--serial=S"};
    ModuleSimProcess sim(module + args + QStringList {"--save-image=" + saved, "--strip-padding"});
    MPThread worker;
    worker.start();
    QStringList shown;
    QCOMPARE(run(worker, sim, ops[op], image, bound_ms, &shown), expected);
    QVERIFY2(expected.isEmpty() || ms <= bound_ms, qPrintable(QString::number(ms)));
    QCOMPARE(fields.isEmpty() ? fields : shown.join(' '), fields);
    // The module received the operation's download command only when the
    // window was told of the download, and the image byte for byte.
    const QByteArray log = sim.stderr_log();
    QCOMPARE(log.contains("command AT+XUPDATE"), expected.contains("下载中") && ops[op].request == 1);
    QCOMPARE(log.contains("command AT+FOTA"), expected.contains("下载中") && ops[op].request == 2);
    if (expected.contains("下载成功"))
        QCOMPARE(file_bytes(saved), file_bytes(image));

    ModuleSimProcess healthy(module);
    QCOMPARE(run(worker, healthy, {"", "", 0, ops[op].variant}, QString(), 1000, &shown), query_ok);
}

void WorkerTest::cancel_leaves_the_module_idle_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QStringList>("args");
    // The module's log line the cancel follows; empty: the first device
    // field the query reports, between that reply and the next command.
    QTest::addColumn<QByteArray>("cancel_at");
    QTest::addColumn<bool>("receiving");        // whether the module was told with CANs
    QTest::addColumn<int>("commands");          // every command the module hears, the next query's included
    QTest::newRow("Wi-Fi query, between commands") << int(wifi_query) << QStringList() << QByteArray() << false << 1 + 4;
    QTest::newRow("cellular query, between commands") << int(cell_query) << QStringList() << QByteArray() << false
                                                      << 1 + 2;
    QTest::newRow("awaiting the acknowledgement") << int(audio)
                                                  << QStringList {"--late-ms=90", "--fault-command=AT+XUPDATE"}
                                                  << QByteArray("command AT+XUPDATE") << true << 2 + 1 + 2;
    QTest::newRow("before the first request") << int(audio) << QStringList {"--first-request-ms=3000"}
                                              << QByteArray("receiving an image") << true << 2 + 1 + 2;
    QTest::newRow("mid-transfer") << int(audio) << QStringList {"--silent-block=3"} << QByteArray("block 2 ") << true
                                  << 2 + 1 + 2;
    QTest::newRow("awaiting the answer to EOT") << int(firmware) << QStringList {"--eot-reply=none"}
                                                << QByteArray("EOT: no answer") << true << 4 + 1 + 4;
}

// A cancel ends the operation at once, with CANs wherever the module may be
// receiving and no command after it; the next operation on the same worker
// and module runs as if none had been made.
void WorkerTest::cancel_leaves_the_module_idle()
{
    QFETCH(int, op);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, cancel_at);
    QFETCH(bool, receiving);
    QFETCH(int, commands);
    ModuleSimProcess sim(args << "--variant=" + QString(ops[op].variant));
    MPThread worker;
    worker.keep_finished_operations();
    worker.start();
    QVERIFY(sim.start() && worker.open_serial_port(sim.device_path(), QString()));
    // One operation; cancelled once the module logged cancel_point, if given.
    const auto operate = [&](quint8 type, const QByteArray &cancel_point) {
        for (char kind : ops[op].types)
            worker.__start_flash(flash_parameter(), quint8(kind));
        flash_parameter request;
        request.fs_path = request.fw_path = dir.filePath("sound.img");
        worker.__start_flash(request, type);
        if (!cancel_point.isEmpty()) {
            if (!sim.wait_for_log(cancel_point, 10000))
                return OperationRecord();
            worker.request_cancel();
        }
        QElapsedTimer clock;
        clock.start();
        QList<MPThread::FinishedOperation> finished;
        (void)QTest::qWaitFor([&] { return !(finished += worker.take_finished_operations()).isEmpty(); }, 5000);
        ms = clock.elapsed();
        return finished.isEmpty() ? OperationRecord() : finished.first().record;
    };
    QMetaObject::Connection on_field;
    if (cancel_at.isEmpty()) {
        on_field = connect(&worker, &MPThread::ui_set_mac_text, this, [&] { worker.request_cancel(); },
                           Qt::DirectConnection);
    }
    const OperationRecord cancelled = operate(quint8(ops[op].request), cancel_at);
    disconnect(on_field);
    QCOMPARE(detail_of(cancelled), QStringLiteral("interrupted"));
    QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
    // The cancel went with its operation.
    QVERIFY(operate(0, QByteArray()).ok);
    const QByteArray log = sim.stderr_log();
    QCOMPARE(log.contains("cancelled by the sender"), receiving);
    QCOMPARE(log.count("] command "), commands);
}

QTEST_GUILESS_MAIN(WorkerTest)
#include "tst_worker.moc"
