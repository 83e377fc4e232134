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
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("type"); // -1: none sent
        QTest::newRow("device query") << true << "设备查询" << int(operation::device_query);
        QTest::newRow("audio replacement") << true << "音频更换" << int(operation::audio_replacement);
        QTest::newRow("firmware upgrade") << true << "固件升级" << int(operation::firmware_upgrade);
        QTest::newRow("near miss of a query") << true << "设备查询 " << int(operation::firmware_upgrade);
        QTest::newRow("no port") << false << "音频更换" << -1;
    }
    void request_per_operation()
    {
        QFETCH(bool, plugged);
        QFETCH(QString, operation);
        QFETCH(int, type);
        QVERIFY(!plugged || plug());
        start();
        w<QComboBox>("speed")->insertItem(0, operation);
        w<QComboBox>("speed")->setCurrentIndex(0);
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
