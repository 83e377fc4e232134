// The real window on the offscreen platform: the request each operation
// sends to the worker, the image choosers and config.ini, the display slots,
// and device changes, all read from the window's widgets.
#include "app/dialog.h"
#include "discovery/device_change_source.h"
#include "protocol/device_query.h"
#include "tests/discovery/fake_sysfs.h"
#include "tests/support/scripted_module.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

#include <functional>
#include <memory>

using Call = std::function<void(Dialog &)>;
Q_DECLARE_METATYPE(Call)

class DialogTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> work; // the tool's working directory
    QString home, sysfs;
    std::unique_ptr<ScriptedModule> module;
    std::unique_ptr<Dialog> dialog;
    QList<int> requests; // operation types the worker was sent
    flash_parameter request;

    template <class T = QWidget> T *w(const char *name) { return dialog->findChild<T *>(name); }

    void start()
    {
        dialog = std::make_unique<Dialog>();
        // Direct, as the worker's own connection: seen before the click returns.
        connect(dialog.get(), &Dialog::__start_flash, this, [this](flash_parameter p, quint8 type) {
            requests << type;
            request = p;
        }, Qt::DirectConnection);
    }
    bool plug()
    {
        fake_sysfs::UsbTty tty;
        tty.tty = "ttyACM0";
        tty.devname = QString(module->port()).remove("/dev/");
        return fake_sysfs::add_usb_tty(sysfs, tty);
    }
    static QStringList items(QComboBox *box)
    {
        QStringList out;
        for (int i = 0; i < box->count(); ++i)
            out << box->itemText(i);
        return out;
    }
    // Status and its colour, the three controls, the bar, the device fields.
    QString shown()
    {
        const QString style = w<QLabel>("status")->styleSheet();
        const QString colour = style == "color: rgb(0, 255, 0);" ? "green" : style == "color: rgb(255, 0, 0);" ? "red" : style;
        const int on = w("burn")->isEnabled() + w("speed")->isEnabled() + w("setting_port")->isEnabled();
        QStringList fields;
        for (const char *field : {"ap_mac", "sta_mac", "v_version", "deviceSN"})
            fields << w<QLineEdit>(field)->text();
        auto *bar = w<QProgressBar>("xmodem_progress");
        return QString("%1 %2|%3|%4/%5|%6").arg(w<QLabel>("status")->text(), colour,
                                                 on == 3 ? "on" : on == 0 ? "off" : "mixed")
            .arg(bar->value()).arg(bar->maximum()).arg(fields.join(','));
    }

private slots:
    void init()
    {
        home = QDir::currentPath();
        work = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(work->path()));
        sysfs = work->filePath("sysfs");
        qputenv("KV20_SYSFS_ROOT", sysfs.toLocal8Bit());
        module = std::make_unique<ScriptedModule>();
        requests.clear();
    }
    void cleanup()
    {
        dialog.reset();
        module.reset();
        QDir::setCurrent(home);
    }

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
        requests.clear();
        auto *speed = w<QComboBox>("speed");
        if (speed->findText(operation) < 0)
            speed->addItem(operation);
        speed->setCurrentText(operation);
        w<QLineEdit>("path_fw")->setText("/images/fw.bin");
        w<QLineEdit>("path_fs")->setText("/images/sound.img");
        w<QLineEdit>("sta_mac")->setText("V1.14");
        QTest::mouseClick(w<QPushButton>("burn"), Qt::LeftButton);
        if (type < 0) {
            QVERIFY(requests.isEmpty());
            QCOMPARE(shown(), QString("串口打开失败 red|on|0/100|,V1.14,,"));
            return;
        }
        QCOMPARE(requests, QList<int>{type});
        QCOMPARE((QStringList{request.fw_path, request.fs_path}), (QStringList{"/images/fw.bin", "/images/sound.img"}));
        // At once: the button off, the bar and the previous module's results cleared.
        QVERIFY(!w("burn")->isEnabled());
        QCOMPARE(shown().section('|', 2), QString("0/1|,,,"));
    }

    void chooser_writes_config_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("accept");
        QTest::newRow("firmware chosen") << QByteArray("choose_fw") << QByteArray("path_fw") << "fw.img_path" << true;
        QTest::newRow("audio chosen") << QByteArray("choose_fs") << QByteArray("path_fs") << "fs.img_path" << true;
        QTest::newRow("audio cancelled") << QByteArray("choose_fs") << QByteArray("path_fs") << "fs.img_path" << false;
    }
    void chooser_writes_config()
    {
        QFETCH(QByteArray, button);
        QFETCH(QByteArray, field);
        QFETCH(QString, key);
        QFETCH(bool, accept);
        const QString old = work->filePath("old.img"), chosen = work->filePath("chosen.img");
        QVERIFY(fake_sysfs::write(old, "old") && fake_sysfs::write(chosen, "new"));
        QSettings("config.ini", QSettings::IniFormat).setValue(key, old);
        start();
        QCOMPARE(w<QLineEdit>(field)->text(), old);
        QTimer operator_hand;
        connect(&operator_hand, &QTimer::timeout, this, [&] {
            if (auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                // As the operator does: the whole path typed into the name box.
                chooser->findChild<QLineEdit *>("fileNameEdit")->setText(chosen);
                accept ? static_cast<QDialog *>(chooser)->accept() : chooser->reject();
            }
        });
        operator_hand.start(20);
        QTest::mouseClick(w<QPushButton>(button), Qt::LeftButton);
        const QString expected = accept ? chosen : old;
        QCOMPARE(w<QLineEdit>(field)->text(), expected);
        dialog.reset();
        QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value(key).toString(), expected);
    }

    // What the window shows after a report of the worker, during an
    // operation (controls off, bar at 3 of 5).
    void display_slots_data()
    {
        QTest::addColumn<Call>("report");
        QTest::addColumn<QString>("expected");
        QTest::newRow("success") << Call([](Dialog &d) { d.set_main_info("下载成功", true); }) << "下载成功 green|off|3/5|,,,";
        QTest::newRow("failure") << Call([](Dialog &d) { d.set_main_info("传输错误", false); }) << "传输错误 red|off|3/5|,,,";
        QTest::newRow("download done") << Call([](Dialog &d) { d.burn_done(true); }) << "就绪 green|on|1/1|,,,";
        QTest::newRow("download failed") << Call([](Dialog &d) { d.burn_done(false); }) << "就绪 green|on|3/5|,,,";
        QTest::newRow("query done") << Call([](Dialog &d) { d.mac_done(true); }) << "设备信息获取成功 green|off|3/5|,,,";
        QTest::newRow("query failed") << Call([](Dialog &d) { d.mac_done(false); }) << "设备信息获取失败 red|on|3/5|,,,";
        const struct { const char *name; quint8 type; const char *fields; } rows[] = {
            {"IMEI", field_ap_mac, "x,,,"}, {"version", field_sta_mac, ",x,,"}, {"ICCID", field_v_version, ",,x,"},
            {"device number", 3, ",,,x"}, {"unknown field", 200, ",,,x"}};
        for (const auto &row : rows)
            QTest::newRow(row.name) << Call([row](Dialog &d) { d.ui_set_mac_text("x", row.type); })
                                    << QString("就绪 green|off|3/5|") + row.fields;
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
        const QString fifo = work->filePath("events");
        qputenv("KV20_DEVICE_EVENT_FIFO", fifo.toLocal8Bit());
        start();
        qunsetenv("KV20_DEVICE_EVENT_FIFO");
        // Connected after the window's own handler: once the spy has counted a
        // notification, the window has handled it.
        QSignalSpy handled(dialog->findChild<DeviceChangeSource *>(), &DeviceChangeSource::device_changed);
        QVERIFY(handled.isValid());
        const auto announce = [&](const QByteArray &lines) {
            QFile events(fifo);
            const int total = handled.count() + lines.count('\n');
            return events.open(QIODevice::WriteOnly) && events.write(lines) == lines.size() && (events.close(), true)
                && QTest::qWaitFor([&] { return handled.count() == total; }, 5000);
        };
        const auto selectors = [&] { return items(w<QComboBox>("setting_port")) + items(w<QComboBox>("speed")); };
        const QStringList without = selectors();
        QVERIFY(announce("add\n"));
        QCOMPARE(selectors(), without);
        QVERIFY(plug());
        QVERIFY(announce("add\n"));
        const QStringList found{QString(module->port()).remove("/dev/"), "音频更换", "设备查询"};
        QCOMPARE(selectors(), found);
        QCOMPARE(w<QLabel>("label_2")->text(), QString("IMEI号："));
        QVERIFY(QDir(sysfs).removeRecursively());
        QVERIFY(announce("remove-volume\nremove\n"));
        QVERIFY(plug());
        QVERIFY(announce("add\n"));
        QCOMPARE(selectors(), found);
        QCOMPARE(requests, (QList<int>{operation::select_1k_blocks, operation::set_cellular_kind}));
    }
};

QTEST_MAIN(DialogTest)
#include "tst_dialog.moc"
