// The real window on the offscreen platform: the request each operation
// sends to the worker, the image choosers and config.ini, the display slots,
// device changes and the English catalogue, all read from the window's widgets.
#include "app/dialog.h"
#include "discovery/device_change_source.h"
#include "protocol/device_query.h"
#include "tests/discovery/fake_sysfs.h"
#include "tests/support/module_sim_process.h"
#include "tests/support/scripted_module.h"
#include "worker/mpthread.h"
#include "ui_dialog.h"

#include <QtTest>
#include <QtWidgets>

using Call = std::function<void(Dialog &)>;
Q_DECLARE_METATYPE(Call)

class DialogTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work; // the tool's working directory
    const QString sysfs = work.filePath("sysfs");
    std::unique_ptr<ScriptedModule> module;
    std::unique_ptr<Dialog> dialog;
    QList<int> requests; // operation types the worker was sent
    flash_parameter request;

    template <class T = QWidget> T *w(const QString &name) { return dialog->findChild<T *>(name); }
    void start()
    {
        dialog = std::make_unique<Dialog>();
        requests.clear();
        // Direct, as the worker's own connection: seen before the click returns.
        connect(dialog.get(), &Dialog::__start_flash, this,
                [this](flash_parameter p, quint8 type) { requests << type; request = p; }, Qt::DirectConnection);
    }
    bool plug() { return fake_sysfs::add_usb_tty(sysfs, {"ttyACM0", QString(module->port()).remove("/dev/")}); }
    // Status and its colour, the three controls, the bar, the device fields.
    QString shown()
    {
        const QString style = w<QLabel>("status")->styleSheet();
        const int on = w("burn")->isEnabled() + w("speed")->isEnabled() + w("setting_port")->isEnabled();
        auto *bar = w<QProgressBar>("xmodem_progress");
        QString out = QString("%1 %2|%3|%4/%5|").arg(w<QLabel>("status")->text(),
            style == "color: rgb(0, 255, 0);" ? "green" : style == "color: rgb(255, 0, 0);" ? "red" : style,
            on == 3 ? "on" : on == 0 ? "off" : "mixed").arg(bar->value()).arg(bar->maximum());
        for (const char *field : {"ap_mac", "sta_mac", "v_version", "deviceSN"})
            out += w<QLineEdit>(field)->text() + ",";
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(work.path()));
        qputenv("KV20_SYSFS_ROOT", sysfs.toLocal8Bit());
    }
    void init() { module = std::make_unique<ScriptedModule>(); }
    void cleanup() { dialog.reset(); QDir(sysfs).removeRecursively(); }

    void request_per_operation_data()
    {
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<int>("choice"); // place in the operation list
        QTest::addColumn<int>("type");   // -1: none sent
        QTest::newRow("audio replacement, first") << true << 0 << int(operation::audio_replacement);
        QTest::newRow("device query, second") << true << 1 << int(operation::device_query);
        QTest::newRow("firmware upgrade, third") << true << 2 << int(operation::firmware_upgrade);
        QTest::newRow("no port") << false << 0 << -1;
    }
    void request_per_operation()
    {
        QFETCH(bool, plugged);
        QFETCH(int, choice);
        QFETCH(int, type);
        QVERIFY(!plugged || plug());
        start();
        // A found module leaves two operations; the form's list has the third.
        if (w<QComboBox>("speed")->count() == 2)
            w<QComboBox>("speed")->addItem("固件升级");
        w<QComboBox>("speed")->setCurrentIndex(choice);
        w<QLineEdit>("path_fw")->setText("/images/fw.bin");
        w<QLineEdit>("path_fs")->setText("/images/sound.img");
        w<QLineEdit>("sta_mac")->setText("V1.14");
        QFile::remove("kv20-journal.csv");
        QTest::mouseClick(w<QPushButton>("burn"), Qt::LeftButton);
        if (type < 0) {
            QVERIFY(requests.isEmpty());
            QCOMPARE(shown(), QString("串口打开失败 red|on|0/100|,V1.14,,,"));
            // The press is journalled all the same, by the worker's thread.
            QFile journal("kv20-journal.csv");
            QVERIFY(QTest::qWaitFor([&] { return journal.size() > 0; }, 5000) && journal.open(QIODevice::ReadOnly));
            QVERIFY(journal.readAll().contains(",,audio,,,,,/images/sound.img,,,failed,port did not open,0,"));
            return;
        }
        QCOMPARE(requests, QList<int>{type});
        QCOMPARE(request.fw_path + " " + request.fs_path, QString("/images/fw.bin /images/sound.img"));
        // At once: the button off, the bar and the previous module's results cleared.
        QVERIFY(!w("burn")->isEnabled());
        QCOMPARE(shown().section('|', 2), QString("0/1|,,,,"));
    }

    // config.ini as operators edit it by hand: UTF-8, with or without a
    // byte-order mark, or as earlier versions wrote it (\xXXXX escapes).
    void hand_written_config_reaches_the_module_data()
    {
        QTest::addColumn<QByteArray>("config"); // empty: written by QSettings without a codec
        QTest::newRow("UTF-8") << QByteArray("[General]\nfs.img_path=%1\n");
        QTest::newRow("UTF-8 with byte-order mark") << QByteArray("\xEF\xBB\xBF[General]\nfs.img_path=%1\n");
        QTest::newRow("escaped") << QByteArray();
    }
    void hand_written_config_reaches_the_module()
    {
        QFETCH(QByteArray, config);
        const QString image_path = work.filePath("音频 文件/提示音.img"), received = work.filePath("got.img");
        const QByteArray image = QByteArray(3000, 'a') + "end";
        QVERIFY(fake_sysfs::write(image_path, image));
        QFile::remove("config.ini");
        if (config.isEmpty())
            QSettings("config.ini", QSettings::IniFormat).setValue("fs.img_path", image_path);
        else
            QVERIFY(fake_sysfs::write("config.ini", config.replace("%1", image_path.toUtf8())));
        ModuleSimProcess sim({"--quiet", "--device-tree=" + sysfs, "--strip-padding", "--save-image=" + received});
        QVERIFY(sim.start());
        start();
        QCOMPARE(w<QLineEdit>("path_fs")->text(), image_path);
        QSignalSpy done(dialog->findChild<MPThread *>(), &MPThread::burn_done);
        QCOMPARE(w<QComboBox>("speed")->currentText(), QString("音频更换"));
        QTest::mouseClick(w<QPushButton>("burn"), Qt::LeftButton);
        QVERIFY(done.wait(10000));
        QVERIFY(done.at(0).at(0).toBool());
        QFile saved(received);
        QVERIFY(saved.open(QIODevice::ReadOnly) && saved.readAll() == image);
    }

    // In either language the operation chosen by its place in the list is
    // the one the module hears, and the operator reads every step in that
    // language: the title, the list, the field labels, then each status as
    // the status line showed it.
    void operation_in_each_language_data()
    {
        QTest::addColumn<bool>("english");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QStringList>("sim_args");
        QTest::addColumn<QString>("image");     // the audio path field, in the working directory
        QTest::addColumn<QString>("heard");     // the module's commands
        QTest::addColumn<QStringList>("shown"); // the list and labels, then each status
        const QStringList zh{"云音箱音频替换及固件升级工具 V1.15", "就绪", "音频更换,设备查询", "设备编号：,IMEI号：,ICCID号：,设备版本："};
        const QStringList en{"Cloud speaker audio replacement and firmware upgrade tool V1.15", "Ready",
                             "Audio replacement,Device query", "Device No.:,IMEI:,ICCID:,Device version:"};
        const QStringList nak{"--nak-block=2", "--nak-times=20"};
        QTest::newRow("zh audio") << false << 0 << QStringList() << "a.img" << "AT+INFO AT+LVER AT+XUPDATE"
                                  << zh + QStringList{"设备信息读取中", "设备信息获取成功", "音频文件下载中", "下载成功"};
        QTest::newRow("zh query") << false << 1 << QStringList() << "a.img" << "AT+INFO AT+LVER"
                                  << zh + QStringList{"设备信息读取中", "设备信息获取成功"};
        QTest::newRow("zh no image") << false << 0 << QStringList() << "gone.img" << "AT+INFO AT+LVER"
                                     << zh + QStringList{"设备信息读取中", "设备信息获取成功", "未发现软件", "下载失败"};
        QTest::newRow("zh refused block") << false << 0 << nak << "a.img" << "AT+INFO AT+LVER AT+XUPDATE"
                                          << zh + QStringList{"设备信息读取中", "设备信息获取成功", "音频文件下载中", "传输错误", "下载失败"};
        QTest::newRow("en audio") << true << 0 << QStringList() << "a.img" << "AT+INFO AT+LVER AT+XUPDATE"
                                  << en + QStringList{"Reading device information", "Device information read",
                                                      "Downloading the audio file", "Download succeeded"};
        QTest::newRow("en query") << true << 1 << QStringList() << "a.img" << "AT+INFO AT+LVER"
                                  << en + QStringList{"Reading device information", "Device information read"};
        QTest::newRow("en no image") << true << 0 << QStringList() << "gone.img" << "AT+INFO AT+LVER"
                                     << en + QStringList{"Reading device information", "Device information read",
                                                         "Image file not found", "Download failed"};
        QTest::newRow("en refused block") << true << 0 << nak << "a.img" << "AT+INFO AT+LVER AT+XUPDATE"
                                          << en + QStringList{"Reading device information", "Device information read",
                                                              "Downloading the audio file", "Transfer error", "Download failed"};
    }
    void operation_in_each_language()
    {
        QFETCH(bool, english);
        QFETCH(int, choice);
        QFETCH(QStringList, sim_args);
        QFETCH(QString, image);
        QFETCH(QString, heard);
        QFETCH(QStringList, shown);
        QVERIFY(fake_sysfs::write(work.filePath("a.img"), QByteArray(5000, 'a')));
        ModuleSimProcess sim(sim_args << "--device-tree=" + sysfs);
        QVERIFY(sim.start());
        QTranslator catalogue; // installed until the end of the row
        QVERIFY(catalogue.load(KV20_BIN_DIR "/qt_en.qm"));
        if (english)
            QCoreApplication::installTranslator(&catalogue);
        start();
        // The title without its build date ("Dec  7 2026").
        QStringList items, labels, seen{dialog->windowTitle().chopped(12), w<QLabel>("status")->text()};
        for (int i = 0; i < w<QComboBox>("speed")->count(); ++i)
            items << w<QComboBox>("speed")->itemText(i);
        for (const char *label : {"label_7", "label_2", "label_4", "label_3"})
            labels << w<QLabel>(label)->text();
        seen << items.join(',') << labels.join(',');
        // Connected after the window: each report is shown before it is read here.
        auto *worker = dialog->findChild<MPThread *>();
        const auto read_status = [&] { seen << w<QLabel>("status")->text(); };
        connect(worker, &MPThread::ui_set_status_text, this, read_status);
        connect(worker, &MPThread::mac_done, this, read_status);
        w<QLineEdit>("path_fs")->setText(work.filePath(image));
        w<QComboBox>("speed")->setCurrentIndex(choice);
        QTest::mouseClick(w<QPushButton>("burn"), Qt::LeftButton);
        QTest::qWaitFor([&] { return seen.size() >= shown.size(); }, 15000);
        QCOMPARE(seen, shown);
        QVERIFY(sim.wait_for_log(heard.section(' ', -1).toLatin1(), 5000));
        QStringList commands;
        auto found = QRegularExpression("command (AT\\+\\w+)").globalMatch(QString::fromLatin1(sim.stderr_log()));
        while (found.hasNext())
            commands << found.next().captured(1);
        QCOMPARE(commands.join(' '), heard);
    }

    void chooser_writes_config_data()
    {
        QTest::addColumn<QString>("image"); // fw or fs
        QTest::addColumn<bool>("accept");
        QTest::newRow("firmware chosen") << "fw" << true;
        QTest::newRow("audio chosen") << "fs" << true;
        QTest::newRow("audio cancelled") << "fs" << false;
    }
    void chooser_writes_config()
    {
        QFETCH(QString, image);
        QFETCH(bool, accept);
        const QString old = work.filePath("old.img"), chosen = work.filePath("chosen.img"), key = image + ".img_path";
        QVERIFY(fake_sysfs::write(chosen, "new"));
        QSettings("config.ini", QSettings::IniFormat).setValue(key, old);
        start();
        QCOMPARE(w<QLineEdit>("path_" + image)->text(), old);
        QTimer operator_hand;
        connect(&operator_hand, &QTimer::timeout, this, [&] {
            if (auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                // As the operator does: the whole path typed into the name box.
                chooser->findChild<QLineEdit *>("fileNameEdit")->setText(chosen);
                accept ? static_cast<QDialog *>(chooser)->accept() : chooser->reject();
            }
        });
        operator_hand.start(20);
        QTest::mouseClick(w<QPushButton>("choose_" + image), Qt::LeftButton);
        const QString expected = accept ? chosen : old;
        QCOMPARE(w<QLineEdit>("path_" + image)->text(), expected);
        dialog.reset();
        QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value(key).toString(), expected);
    }

    // What a report of the worker shows during an operation (controls off, bar at 3 of 5).
    void display_slots_data()
    {
        QTest::addColumn<Call>("report");
        QTest::addColumn<QString>("expected");
        QTest::newRow("success") << Call([](Dialog &d) { d.set_main_info("成功", true); }) << "成功 green|off|3/5|,,,,";
        QTest::newRow("failure") << Call([](Dialog &d) { d.set_main_info("错误", false); }) << "错误 red|off|3/5|,,,,";
        QTest::newRow("download done") << Call([](Dialog &d) { d.burn_done(true); }) << "就绪 green|on|1/1|,,,,";
        QTest::newRow("download failed") << Call([](Dialog &d) { d.burn_done(false); }) << "就绪 green|on|3/5|,,,,";
        QTest::newRow("query done") << Call([](Dialog &d) { d.mac_done(true); }) << "设备信息获取成功 green|off|3/5|,,,,";
        QTest::newRow("query failed") << Call([](Dialog &d) { d.mac_done(false); }) << "设备信息获取失败 red|on|3/5|,,,,";
        const QList<QPair<int, QString>> fields{{field_ap_mac, "x,,,,"}, {field_sta_mac, ",x,,,"},
                                               {field_v_version, ",,x,,"}, {3, ",,,x,"}, {200, ",,,x,"}};
        for (const auto &field : fields)
            QTest::addRow("field %d", field.first) << Call([field](Dialog &d) { d.ui_set_mac_text("x", field.first); })
                                                   << "就绪 green|off|3/5|" + field.second;
    }
    void display_slots()
    {
        QFETCH(Call, report);
        QFETCH(QString, expected);
        start();
        dialog->burn_show(false);
        dialog->ui_set_progress_max(5);
        dialog->ui_set_progress(3);
        report(*dialog);
        QCOMPARE(shown(), expected);
    }

    // Plugged in after the start, unplugged, plugged in again: one entry,
    // and the worker told the module's kind once.
    void module_plugged_in_later_then_replugged()
    {
        const QString fifo = work.filePath("events");
        qputenv("KV20_DEVICE_EVENT_FIFO", fifo.toLocal8Bit());
        start();
        qunsetenv("KV20_DEVICE_EVENT_FIFO");
        // Connected after the window's own handler: once the spy has counted
        // a notification, the window has handled it.
        QSignalSpy handled(dialog->findChild<DeviceChangeSource *>(), &DeviceChangeSource::device_changed);
        const auto announce = [&](const QByteArray &lines) {
            const int total = handled.count() + lines.count('\n');
            return fake_sysfs::write(fifo, lines) && QTest::qWaitFor([&] { return handled.count() == total; }, 5000);
        };
        const auto selectors = [&] {
            QStringList items;
            for (auto *box : {w<QComboBox>("setting_port"), w<QComboBox>("speed")})
                for (int i = 0; i < box->count(); ++i)
                    items << box->itemText(i);
            return items;
        };
        const QStringList without = selectors();
        QVERIFY(announce("add\n"));
        QCOMPARE(selectors(), without);
        QVERIFY(plug() && announce("add\n"));
        const QStringList found{QString(module->port()).remove("/dev/"), "音频更换", "设备查询"};
        QCOMPARE(selectors(), found);
        QCOMPARE(w<QLabel>("label_2")->text(), QString("IMEI号："));
        QVERIFY(QDir(sysfs).removeRecursively() && announce("remove-volume\nremove\n"));
        QVERIFY(plug() && announce("add\n"));
        QCOMPARE(selectors(), found);
        QCOMPARE(requests, (QList<int>{operation::select_1k_blocks, operation::set_cellular_kind}));
    }

    // The tool's own process: its trace on standard error, where the operator
    // reads it, is the text alone unless QT_MESSAGE_PATTERN asks otherwise.
    void trace_lines_data()
    {
        QTest::addColumn<QByteArray>("pattern"); // QT_MESSAGE_PATTERN
        QTest::addColumn<QString>("every_line");
        QTest::newRow("text alone") << QByteArray() << "^(?!kv20\\.\\w+: )";
        QTest::newRow("QT_MESSAGE_PATTERN") << QByteArray("%{category}| %{message}") << "^[\\w.]+\\| ";
    }
    void trace_lines()
    {
        QFETCH(QByteArray, pattern);
        QFETCH(QString, every_line);
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_MESSAGE_PATTERN");
        if (!pattern.isEmpty())
            env.insert("QT_MESSAGE_PATTERN", pattern);
        tool.setProcessEnvironment(env);
        tool.setWorkingDirectory(work.path());
        tool.setReadChannel(QProcess::StandardError);
        tool.start(KV20_BIN_DIR "/kv20-tool", QStringList());
        QByteArray written;
        while (written.count('\n') < 3 && tool.waitForReadyRead(10000))
            written += tool.readAll();
        tool.kill();
        QVERIFY(tool.waitForFinished(5000));
        const QStringList lines = QString::fromUtf8(written.left(written.lastIndexOf('\n'))).split('\n');
        QVERIFY(lines.size() >= 3);
        QCOMPARE(lines.filter(QRegularExpression(every_line)), lines);
    }

    // The catalogue the tool loads for English: no text of the window left untranslated.
    void english_catalogue_covers_the_window()
    {
        struct Checked : QTranslator {
            QTranslator english;
            mutable QStringList missing;
            QString translate(const char *context, const char *source, const char *what, int n) const override
            {
                const QString text = english.translate(context, source, what, n);
                if (text.isEmpty() && qstrcmp(context, "Dialog") == 0)
                    missing << source;
                return text;
            }
            bool isEmpty() const override { return false; }
        } catalogue;
        QVERIFY(catalogue.english.load(KV20_BIN_DIR "/qt_en.qm"));
        QCoreApplication::installTranslator(&catalogue);
        QDialog form;
        Ui_Dialog().setupUi(&form);
        // The image chooser's caption and filter; the filter keeps its patterns.
        QCoreApplication::translate("Dialog", "Open Image");
        const QString filter = QCoreApplication::translate("Dialog", "Files(*.img *.bin)");
        QCoreApplication::removeTranslator(&catalogue);
        QCOMPARE(catalogue.missing, QStringList());
        QVERIFY2(filter.endsWith("(*.img *.bin)"), qPrintable(filter));
    }
};

QTEST_MAIN(DialogTest)
#include "tst_dialog.moc"
