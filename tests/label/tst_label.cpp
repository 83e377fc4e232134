// A passed module's label: what [label] accepts, the ZPL a printer gets, and
// the PNG a folder printer writes, its QR code read back by zbarimg.
#include "journal/ini_file.h"
#include "journal/operation_record.h"
#include "label/label_content.h"
#include "label/label_drawing.h"
#include "label/label_queue.h"
#include "label/zpl_label.h"
#include "label/label_printer.h"
#include "label/zpl_printer.h"
#include "tests/support/cups_server.h"
#include "tests/support/zpl_printer_sim.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

namespace {

OperationRecord passed_record(bool cellular)
{
    OperationRecord r;
    r.started = QDateTime(QDate(2026, 12, 8), QTime(9, 30));
    r.operation = QStringLiteral("audio");
    r.device_number = QStringLiteral("KV20-DN-000501");
    r.imei_or_mac = cellular ? QStringLiteral("860000000000501") : QStringLiteral("A4:CF:12:00:05:01");
    r.iccid_or_audio_version = cellular ? QStringLiteral("89860000000000000501") : QStringLiteral("AUD-2.4.1");
    r.device_version = QStringLiteral("KV20-FW-1.0.7");
    r.slot = QStringLiteral("1-1.3");
    r.station = QStringLiteral("line2 工位3");
    r.work_order = QStringLiteral("WO-1207");
    r.operator_id = QStringLiteral("op-7");
    r.record_id = QStringLiteral("3f2a1c4e-9b7d-4e21-8a55-0c6b1d2e3f40");
    r.ok = true;
    return r;
}

bool settings_of(const QByteArray &label_section, LabelSettings *settings, QString *error, const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("station.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("[recipe]\noperation=query\n" + label_section) < 0)
        return false;
    file.close();
    IniFile ini;
    return read_ini(path, &ini) && read_label_settings(ini, path, settings, error);
}

LabelSettings zpl_settings(quint16 port, LabelSettings::When when = LabelSettings::When::removal)
{
    LabelSettings s;
    s.printer = LabelSettings::Printer::zpl;
    s.printer_name = QStringLiteral("zpl://127.0.0.1:%1").arg(port);
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.when = when;
    s.lines = QStringList {QStringLiteral("{device_number}"), QStringLiteral("{imei_or_mac}")};
    return s;
}

// A query's pass of module `name` ("B@A": module B in A's slot): its device
// number and IMEI say which it is.
OperationRecord pass_of(const QString &name)
{
    OperationRecord r = passed_record(true);
    r.operation = QStringLiteral("query");
    r.device_number = QStringLiteral("DN-") + name.section(QLatin1Char('@'), 0, 0);
    r.imei_or_mac = QStringLiteral("86000000000") + name.section(QLatin1Char('@'), 0, 0);
    r.slot = QStringLiteral("1-1.") + name.section(QLatin1Char('@'), -1);
    r.record_id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return r;
}

// The device numbers of the jobs, in the order they arrived.
QStringList printed_modules(const ZplPrinterSim &printer)
{
    QStringList modules;
    for (const QByteArray &job : printer.jobs) {
        const int at = job.indexOf("^FDDN-");
        modules << QString::fromUtf8(job.mid(at + 3, job.indexOf("^FS", at) - at - 3));
    }
    return modules;
}

// The label journal's events, as "event DN" lines.
QStringList label_events(const QString &folder)
{
    QFile file(QDir(folder).filePath(QStringLiteral("kv20-labels.csv")));
    QStringList events;
    if (!file.open(QIODevice::ReadOnly))
        return events;
    file.readLine();
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().split(',');
        events << QString::fromUtf8(fields.value(2) + ' ' + fields.value(6));
    }
    return events;
}

} // namespace

class TestLabel : public QObject
{
    Q_OBJECT

private slots:
    // The printer asked again, and a restart held, sooner than on a line.
    void initTestCase()
    {
        qputenv("KV20_LABEL_RETRY_MS", "200");
        qputenv("KV20_LABEL_RESTART_WAIT_MS", "700");
    }
    void label_section_read_data();
    void label_section_read();
    void a_queue_gets_the_label_raw_data();
    void a_queue_gets_the_label_raw();
    void zpl_job_says_the_record_data();
    void zpl_job_says_the_record();
    void png_qr_code_reads_back_as_the_record_data();
    void png_qr_code_reads_back_as_the_record();
    void labels_print_for_passes_as_they_leave_data();
    void labels_print_for_passes_as_they_leave();
    void a_printer_away_keeps_its_labels_data();
    void a_printer_away_keeps_its_labels();
    void a_label_owed_prints_once_after_a_restart();
};

void TestLabel::label_section_read_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QString>("error");  // empty: read; else a part of the message
    QTest::addColumn<QString>("read");   // what was read, in short
    QTest::newRow("no [label]") << QByteArray() << QString() << "none";
    QTest::newRow("zpl, port by default") << QByteArray("[label]\nprinter=zpl://10.0.0.9\n") << QString()
                                          << "zpl 10.0.0.9:9100 removal 400x240 4 lines";
    QTest::newRow("zpl, its port, at pass")
        << QByteArray("[label]\nprinter=zpl://printer.line2:6101\nwhen=pass\nwidth_mm=60\nheight_mm=40\ndpi=300\n"
                      "line=DN {device_number}\nline=WO {work_order} / {operator}\n")
        << QString() << "zpl printer.line2:6101 pass 709x472 2 lines";
    QTest::newRow("folder, both files") << QByteArray("[label]\nprinter=folder:labels\nfiles=png,pdf\n") << QString()
                                        << "folder labels png pdf";
    QTest::newRow("queue") << QByteArray("[label]\nprinter=queue:Zebra_ZD421\n") << QString() << "queue Zebra_ZD421";
    QTest::newRow("no printer") << QByteArray("[label]\nwhen=pass\n") << "[label] printer=" << QString();
    QTest::newRow("port out of range") << QByteArray("[label]\nprinter=zpl://p:70000\n") << "printer=zpl://p:70000"
                                       << QString();
    QTest::newRow("when, a wrong word") << QByteArray("[label]\nprinter=zpl://p\nwhen=later\n") << "when=later"
                                        << QString();
    QTest::newRow("dpi too fine") << QByteArray("[label]\nprinter=zpl://p\ndpi=1200\n") << "dpi=1200" << QString();
    QTest::newRow("a field that is not") << QByteArray("[label]\nprinter=zpl://p\nline=SN {serial}\n") << "{serial}"
                                         << QString();
    // At 203 dpi a QR code's module would be one dot: no scanner reads it.
    QTest::newRow("too low for the QR code") << QByteArray("[label]\nprinter=zpl://p\nwidth_mm=25\nheight_mm=15\n")
                                             << "height_mm=15" << QString();
    QTest::newRow("files, a wrong kind") << QByteArray("[label]\nprinter=folder:x\nfiles=jpg\n") << "files=jpg" << QString();
}

void TestLabel::label_section_read()
{
    QFETCH(QByteArray, section);
    QFETCH(QString, error);
    QFETCH(QString, read);
    QTemporaryDir dir;
    LabelSettings s;
    QString message;
    const bool ok = settings_of(section, &s, &message, dir);
    if (!error.isEmpty()) {
        QVERIFY2(!ok && message.contains(error), qPrintable(message));
        return;
    }
    QVERIFY2(ok, qPrintable(message));
    QString got;
    switch (s.printer) {
    case LabelSettings::Printer::none: got = QStringLiteral("none"); break;
    case LabelSettings::Printer::zpl:
        got = QStringLiteral("zpl %1:%2 %3 %4x%5 %6 lines")
                  .arg(s.host)
                  .arg(s.port)
                  .arg(s.when == LabelSettings::When::pass ? "pass" : "removal")
                  .arg(s.width_dots())
                  .arg(s.height_dots())
                  .arg(s.lines.size());
        break;
    case LabelSettings::Printer::queue: got = QStringLiteral("queue ") + s.queue; break;
    case LabelSettings::Printer::folder:
        got = QStringLiteral("folder %1%2%3")
                  .arg(QDir(dir.path()).relativeFilePath(s.folder), s.png ? " png" : "", s.pdf ? " pdf" : "");
        break;
    }
    QCOMPARE(got, read);
}

void TestLabel::a_queue_gets_the_label_raw_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("problem");  // in the result's detail; empty: printed
    QTest::newRow("a CUPS queue") << "labels" << "";
    QTest::newRow("a queue the system does not have") << "nowhere" << "does not exist";
}

// A queue:NAME printer hands the ZPL to the system's spooler as it stands
// (lp -o raw), titled with the pass's record id; a queue the spooler does not
// know is a problem the station shows, not a label printed.
void TestLabel::a_queue_gets_the_label_raw()
{
    QFETCH(QString, queue);
    QFETCH(QString, problem);
    CupsServer cups(QStringLiteral("labels"));
    if (cups.cannot_run_here())
        QSKIP(qPrintable(cups.error()));
    QVERIFY2(cups.running(), qPrintable(cups.error()));
    QTemporaryDir dir;
    LabelSettings settings;
    QString error;
    QVERIFY2(settings_of("[label]\nprinter=queue:" + queue.toUtf8() + '\n', &settings, &error, dir), qPrintable(error));
    const OperationRecord record = passed_record(true);
    const LabelContent content = label_content(settings, record, true);
    const PrintResult result = make_label_printer(settings)->print(content, record.record_id);
    QCOMPARE(result.printed(), problem.isEmpty());
    QVERIFY2(result.detail.contains(problem), qPrintable(result.detail));
    if (!problem.isEmpty()) {
        QCOMPARE(int(result.problem), int(PrintResult::refused));
        QVERIFY(cups.jobs().isEmpty());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(cups.jobs().size(), 1, 10000);
    QCOMPARE(cups.jobs().at(0).bytes, zpl_label(content, settings));
    QCOMPARE(cups.jobs().at(0).title, record.record_id);
}

void TestLabel::zpl_job_says_the_record_data()
{
    QTest::addColumn<QString>("device_number");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArrayList>("field_data");  // each ^FD's data, in order
    QTest::newRow("as configured by default")
        << QStringLiteral("KV20-DN-000501") << QStringList()
        << QByteArrayList {"QA,DN:KV20-DN-000501_0AIMEI:860000000000501_0AICCID:89860000000000000501"
                           "_0AREC:3f2a1c4e-9b7d-4e21-8a55-0c6b1d2e3f40",
                           "KV20-DN-000501", "860000000000501", "89860000000000000501", "2026-12-08"};
    // A module's answer with ZPL's command characters in it prints as text.
    QTest::newRow("command characters in an answer")
        << QStringLiteral("DN^XZ~JA_1") << QStringList {"SN {device_number}"}
        << QByteArrayList {"QA,DN:DN_5EXZ_7EJA_5F1_0AIMEI:860000000000501_0AICCID:89860000000000000501"
                           "_0AREC:3f2a1c4e-9b7d-4e21-8a55-0c6b1d2e3f40",
                           "SN DN_5EXZ_7EJA_5F1"};
    QTest::newRow("UTF-8 text, a line break in an answer")
        << QStringLiteral("DN\r\n42") << QStringList {"{station} {device_number}", "{work_order}/{operator} {slot}"}
        << QByteArrayList {"QA,DN:DN  42_0AIMEI:860000000000501_0AICCID:89860000000000000501"
                           "_0AREC:3f2a1c4e-9b7d-4e21-8a55-0c6b1d2e3f40",
                           "line2 工位3 DN  42", "WO-1207/op-7 1-1.3"};
}

void TestLabel::zpl_job_says_the_record()
{
    QFETCH(QString, device_number);
    QFETCH(QStringList, lines);
    QFETCH(QByteArrayList, field_data);
    QTemporaryDir dir;
    LabelSettings settings;
    QString error;
    QByteArray section = "[label]\nprinter=zpl://p\n";
    for (const QString &line : lines)
        section += "line=" + line.toUtf8() + '\n';
    QVERIFY2(settings_of(section, &settings, &error, dir), qPrintable(error));
    OperationRecord record = passed_record(true);
    record.device_number = device_number;
    const QByteArray job = zpl_label(label_content(settings, record, true), settings);
    QVERIFY2(job.startsWith("^XA\n^CI28\n^PW400\n^LL240\n") && job.endsWith("^XZ\n"), job.constData());
    // One command a '^': no field data a printer could take for another.
    const QRegularExpression command(QStringLiteral("^\\^(XA|CI|PW|LL|LH|FO|BQ|A0|FB|FH|FD|FS|XZ)"));
    for (const QByteArray &part : job.split('^').mid(1))
        QVERIFY2(command.match(QLatin1Char('^') + QString::fromUtf8(part)).hasMatch(), part.constData());
    QByteArrayList data;
    for (const QByteArray &field : job.split('^')) {
        if (field.startsWith("FD"))
            data << field.mid(2);
    }
    QCOMPARE(data, field_data);
    QVERIFY2(job.contains("^BQN,2,"), job.constData());
}

void TestLabel::png_qr_code_reads_back_as_the_record_data()
{
    QTest::addColumn<bool>("cellular");
    QTest::addColumn<QByteArray>("section");
    QTest::newRow("cellular, 203 dpi, 50 x 30 mm") << true << QByteArray("[label]\nprinter=folder:labels\n");
    QTest::newRow("Wi-Fi, 300 dpi, lines in Chinese")
        << false << QByteArray("[label]\nprinter=folder:labels\ndpi=300\nline=设备 {device_number}\nline=工位 {station}\n");
    QTest::newRow("a PDF, as pdftoppm renders it")
        << true << QByteArray("[label]\nprinter=folder:labels\nfiles=pdf\n");
    QTest::newRow("a stamp, 25 x 15 mm at 300 dpi")
        << true << QByteArray("[label]\nprinter=folder:labels\nwidth_mm=25\nheight_mm=15\ndpi=300\n");
}

void TestLabel::png_qr_code_reads_back_as_the_record()
{
    QFETCH(bool, cellular);
    QFETCH(QByteArray, section);
    const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    if (zbarimg.isEmpty())
        QSKIP("no zbarimg (Debian's zbar-tools)");
    QTemporaryDir dir;
    LabelSettings settings;
    QString error;
    QVERIFY2(settings_of(section, &settings, &error, dir), qPrintable(error));
    const OperationRecord record = passed_record(cellular);
    QVERIFY2(write_label_files(label_content(settings, record, cellular), settings, record.record_id, &error), qPrintable(error));
    QString png = QDir(settings.folder).filePath(record.record_id + QStringLiteral(".png"));
    if (settings.pdf) {
        QVERIFY(!QFileInfo::exists(png));
        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (pdftoppm.isEmpty())
            QSKIP("no pdftoppm (Debian's poppler-utils)");
        const QString page = dir.filePath(QStringLiteral("page"));
        QCOMPARE(QProcess::execute(pdftoppm, {QStringLiteral("-r"), QString::number(settings.dpi), QStringLiteral("-png"),
                                              QStringLiteral("-singlefile"), png.chopped(4) + QStringLiteral(".pdf"), page}),
                 0);
        png = page + QStringLiteral(".png");
    }
    const QImage image(png);
    // A PDF's page is the label's millimetres, which pdftoppm rounds its own way.
    QVERIFY2(qAbs(image.width() - settings.width_dots()) <= (settings.pdf ? 1 : 0)
                 && qAbs(image.height() - settings.height_dots()) <= (settings.pdf ? 1 : 0),
             qPrintable(QStringLiteral("%1x%2").arg(image.width()).arg(image.height())));
    QProcess reader;
    reader.start(zbarimg, {QStringLiteral("-q"), QStringLiteral("--raw"), png});
    QVERIFY(reader.waitForFinished(30000));
    QCOMPARE(reader.exitCode(), 0);
    const QString read = QString::fromUtf8(reader.readAllStandardOutput()).chopped(1);  // zbarimg ends with LF
    const QString expected = cellular ? QStringLiteral("DN:%1\nIMEI:%2\nICCID:%3\nREC:%4")
                                      : QStringLiteral("DN:%1\nMAC:%2\nAUDIO:%3\nREC:%4");
    QCOMPARE(read, expected.arg(record.device_number, record.imei_or_mac, record.iccid_or_audio_version, record.record_id));
}

void TestLabel::labels_print_for_passes_as_they_leave_data()
{
    QTest::addColumn<bool>("at_pass");
    // "ok|download|failed|refused|back MODULE NAME", "leave MODULE", "reprint";
    // ok: a query's pass, download: an image's (the module restarts), back:
    // a module back from its update.
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("journal");
    QTest::newRow("removal: as each leaves, not as it passes")
        << false << QStringList {"ok 1 A", "ok 2 B", "leave 2", "leave 1"} << QStringList {"DN-B", "DN-A"}
        << QStringList {"waiting DN-B", "printed DN-B", "waiting DN-A", "printed DN-A"};
    QTest::newRow("pass: at once") << true << QStringList {"ok 1 A", "ok 2 B"} << QStringList {"DN-A", "DN-B"}
                                   << QStringList {"waiting DN-A", "printed DN-A", "waiting DN-B", "printed DN-B"};
    // Only the last module passed: nothing comes before its label.
    QTest::newRow("failed, refused, back from its update, unplugged: none")
        << false << QStringList {"failed 1 A", "leave 1", "refused 2 B", "leave 2", "back 3 C", "leave 3", "ok 4 D", "leave 5", "leave 4"}
        << QStringList {"DN-D"} << QStringList {"waiting DN-D", "printed DN-D"};
    // Its restart is no removal: it prints when it leaves for good.
    QTest::newRow("a download's restart, then its removal")
        << false << QStringList {"download 1 A", "leave 1", "back 2 A", "ok 3 B", "leave 3", "leave 2"}
        << QStringList {"DN-B", "DN-A"} << QStringList {"waiting DN-B", "printed DN-B", "waiting DN-A", "printed DN-A"};
    // Line mode may see a quick restart as a new module, without a departure.
    QTest::newRow("a download's restart seen as a new module")
        << false << QStringList {"download 1 A", "back 2 A", "ok 3 B", "leave 3", "leave 2"} << QStringList {"DN-B", "DN-A"}
        << QStringList {"waiting DN-B", "printed DN-B", "waiting DN-A", "printed DN-A"};
    QTest::newRow("a download pulled out before its restart")
        << false << QStringList {"download 1 A", "leave 1"} << QStringList {"DN-A"} << QStringList {"waiting DN-A", "printed DN-A"};
    QTest::newRow("another module in a download's place")
        << false << QStringList {"download 1 A", "leave 1", "ok 2 B@A", "leave 2"} << QStringList {"DN-A", "DN-B"}
        << QStringList {"waiting DN-A", "printed DN-A", "waiting DN-B", "printed DN-B"};
    QTest::newRow("a reprint, marked") << false << QStringList {"ok 1 A", "leave 1", "reprint"}
                                       << QStringList {"DN-A", "DN-A"}
                                       << QStringList {"waiting DN-A", "printed DN-A", "reprinted DN-A"};
}

void TestLabel::labels_print_for_passes_as_they_leave()
{
    QFETCH(bool, at_pass);
    QFETCH(QStringList, events);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, journal);
    QTemporaryDir dir;
    ZplPrinterSim printer;
    LabelQueue queue(zpl_settings(printer.port(), at_pass ? LabelSettings::When::pass : LabelSettings::When::removal),
                     true, dir.path());
    for (const QString &event : events) {
        const QStringList words = event.split(QLatin1Char(' '));
        if (words[0] == QLatin1String("leave")) {
            queue.departed(words[1].toInt());
        } else if (words[0] == QLatin1String("reprint")) {
            QTRY_VERIFY(!queue.state().last_record_id.isEmpty());
            QVERIFY(queue.reprint());
        } else {
            OperationRecord record = pass_of(words[2]);
            record.ok = words[0] == QLatin1String("ok") || words[0] == QLatin1String("download")
                        || words[0] == QLatin1String("back");
            if (words[0] == QLatin1String("download"))
                record.operation = QStringLiteral("audio");
            if (words[0] == QLatin1String("failed"))
                record.failure = OperationFailure {Failure::unplugged};
            if (words[0] == QLatin1String("refused"))
                record.failure = OperationFailure {Failure::done_before};
            queue.finished(words[1].toInt(), record, words[0] == QLatin1String("back"));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(printer.jobs.size(), printed.size(), 700 + 5000);
    QTRY_COMPARE(queue.state().waiting, 0);
    QCOMPARE(printed_modules(printer), printed);
    // Printed at once, a label's first line is its number, on the tile too.
    for (const QByteArray &job : printer.jobs)
        QCOMPARE(QRegularExpression("\\^FD#[0-9A-F]{6}\\^FS").match(QString::fromUtf8(job)).hasMatch(), at_pass);
    // Each module's events in their order; modules' events interleave as
    // the queue's thread gets to them.
    const auto by_module = [](QStringList events) {
        std::stable_sort(events.begin(), events.end(),
                         [](const QString &a, const QString &b) { return a.section(' ', -1) < b.section(' ', -1); });
        return events;
    };
    QCOMPARE(by_module(label_events(dir.path())), by_module(journal));
    QVERIFY2(printer.jobs[0].contains("^FD86000000000"), printer.jobs[0].constData());
}

void TestLabel::a_printer_away_keeps_its_labels_data()
{
    QTest::addColumn<QString>("away");
    QTest::addColumn<int>("problem");
    QTest::newRow("paper out") << "paper out" << int(PrintResult::paper_out);
    QTest::newRow("head open") << "head open" << int(PrintResult::head_open);
    QTest::newRow("paused") << "paused" << int(PrintResult::paused);
    QTest::newRow("no answer") << "silent" << int(PrintResult::no_answer);
}

// The station is told why, nothing is lost, and the label prints once when
// the printer is back.
void TestLabel::a_printer_away_keeps_its_labels()
{
    QFETCH(QString, away);
    QFETCH(int, problem);
    QTemporaryDir dir;
    ZplPrinterSim printer;
    printer.paper_out = away == QLatin1String("paper out");
    printer.head_open = away == QLatin1String("head open");
    printer.paused = away == QLatin1String("paused");
    printer.silent = away == QLatin1String("silent");
    LabelQueue queue(zpl_settings(printer.port()), true, dir.path());
    queue.finished(1, pass_of(QStringLiteral("A")), false);
    queue.departed(1);
    QTRY_COMPARE_WITH_TIMEOUT(int(queue.state().problem.problem), problem, 2 * ZplPrinter::wait_ms);
    QCOMPARE(queue.state().waiting, 1);
    QCOMPARE(label_events(dir.path()), QStringList {"waiting DN-A"});
    printer.paper_out = printer.head_open = printer.paused = printer.silent = false;
    QTRY_COMPARE_WITH_TIMEOUT(queue.state().waiting, 0, 200 + 3 * ZplPrinter::wait_ms);
    QCOMPARE(int(queue.state().problem.problem), int(PrintResult::none));
    QTRY_COMPARE(printer.jobs.size(), 1);
    QCOMPARE(label_events(dir.path()), (QStringList {"waiting DN-A", "printed DN-A"}));
}

void TestLabel::a_label_owed_prints_once_after_a_restart()
{
    QTemporaryDir dir;
    ZplPrinterSim printer;
    printer.paper_out = true;
    {
        LabelQueue queue(zpl_settings(printer.port()), true, dir.path());
        queue.finished(1, pass_of(QStringLiteral("A")), false);
        queue.departed(1);
        // Closed with a passed module still in its slot: its label is owed.
        queue.finished(2, pass_of(QStringLiteral("B")), false);
        // Kept from its pass on: a station that dies before B leaves still owes its label.
        QTRY_COMPARE(label_events(dir.path()).filter("DN-B"), QStringList {"waiting DN-B"});
        QTRY_COMPARE(int(queue.state().problem.problem), int(PrintResult::paper_out));
    }
    // A crash cut the journal's last line short.
    QFile journal(QDir(dir.path()).filePath(QStringLiteral("kv20-labels.csv")));
    QVERIFY(journal.open(QIODevice::Append));
    journal.write("2026-12-08T10:00:00.000+08:00,3f2a1c4e");
    journal.close();
    printer.paper_out = false;
    {
        LabelQueue queue(zpl_settings(printer.port()), true, dir.path());
        QCOMPARE(queue.state().waiting, 2);
        QTRY_COMPARE(queue.state().waiting, 0);
    }
    QCOMPARE(printed_modules(printer), (QStringList {"DN-A", "DN-B"}));
    // One owed since the day before: given up, not printed.
    LabelEvent old;
    old.time = QDateTime::currentDateTime().addDays(-1);
    old.record = pass_of(QStringLiteral("C"));
    QVERIFY(LabelJournal(dir.path()).append(old).isEmpty());
    LabelQueue after(zpl_settings(printer.port()), true, dir.path());
    QCOMPARE(after.state().waiting, 0);
    QCOMPARE(LabelJournal(dir.path()).owed().size(), 0);
    QCOMPARE(label_events(dir.path()).filter("DN-C"), (QStringList {"waiting DN-C", "given up DN-C"}));
    QCOMPARE(printer.jobs.size(), 2);
}

QTEST_MAIN(TestLabel)
#include "tst_label.moc"
