#include "discovery/device_change_source.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "fake_sysfs.h"
#include "message_capture.h"

#include <QtTest>

#include <memory>
#include <sys/ioctl.h>

namespace {

constexpr int wait_ms = 5000;

// Each notification as "<code in hex>", with " volume" for a volume removal.
QStringList events(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &arguments : spy)
        out << QString::number(arguments.at(0).value<quint32>(), 16) + (arguments.at(1).toBool() ? " volume" : "");
    return out;
}

// Bytes written into the FIFO that the source has not read yet.
int unread(const QFile &writer)
{
    int pending = -1;
    return ioctl(writer.handle(), FIONREAD, &pending) == 0 ? pending : -1;
}

} // namespace

class DeviceChangesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString fifo_path;

    // The writing end, as a demo script holds it; the source is its reader.
    bool open_writer(QFile *writer)
    {
        writer->setFileName(fifo_path);
        return writer->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        // Not created here: the source creates a missing FIFO itself.
        fifo_path = dir->filePath(QStringLiteral("events"));
        qputenv("KV20_DEVICE_EVENT_FIFO", QFile::encodeName(fifo_path));
    }

    void cleanup()
    {
        qunsetenv("KV20_DEVICE_EVENT_FIFO");
        qunsetenv("KV20_SYSFS_ROOT");
        dir.reset();
    }

    void injected_lines_become_device_changes_in_order()
    {
        DeviceChangeSource source;
        QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
        QFile writer;
        QVERIFY(open_writer(&writer));

        QVERIFY(writer.write("remove\n\nadd\r\nremove-volume\n  add  \n") > 0);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 4, wait_ms);
        QCOMPARE(events(spy), (QStringList{"8004", "8000", "8004 volume", "8000"}));

        // Half a line is held until its end arrives.
        QVERIFY(writer.write("rem") == 3);
        QTRY_COMPARE_WITH_TIMEOUT(unread(writer), 0, wait_ms);
        QCOMPARE(spy.count(), 4);
        QVERIFY(writer.write("ove\n") == 4);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 5, wait_ms);
        QCOMPARE(events(spy).last(), QStringLiteral("8004"));
    }

    void unknown_and_overlong_lines_are_ignored_with_a_warning()
    {
        MessageCapture capture;
        DeviceChangeSource source;
        QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
        QFile writer;
        QVERIFY(open_writer(&writer));

        QVERIFY(writer.write("arrival\nADD\nadd\n") > 0);
        QVERIFY(spy.wait(wait_ms));
        QCOMPARE(capture.count_containing(QtWarningMsg, QStringLiteral("ignoring injected line")), 2);
        // A line that never ends is dropped rather than buffered without bound.
        QVERIFY(writer.write(QByteArray(1000, 'x')) == 1000);
        QTRY_COMPARE_WITH_TIMEOUT(unread(writer), 0, wait_ms);
        QTRY_VERIFY_WITH_TIMEOUT(capture.count_containing(QtWarningMsg, QStringLiteral("over-long")) > 0, wait_ms);
        QVERIFY(writer.write("\nremove\n") > 0);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, wait_ms);
        QCOMPARE(events(spy), (QStringList{"8000", "8004"}));
    }

    void regular_file_is_refused_with_a_warning()
    {
        QFile plain(fifo_path);
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("add\n") == 4);
        plain.close();
        MessageCapture capture;
        DeviceChangeSource source;
        QCOMPARE(capture.count_containing(QtWarningMsg, QStringLiteral("is not a FIFO")), 1);
    }

    void module_appearing_while_running_is_found_on_add()
    {
        FakeSysfs sysfs;
        QVERIFY(sysfs.ok());
        qputenv("KV20_SYSFS_ROOT", QFile::encodeName(sysfs.root()));
        DeviceChangeSource source;
        QStringList ports;
        // What the window does on a notification while no module is known.
        connect(&source, &DeviceChangeSource::device_changed, this, [&] {
            if (ports.isEmpty())
                collect_module_ports(enumerate_com_port_interfaces(), &ports);
        });
        QVERIFY(!collect_module_ports(enumerate_com_port_interfaces(), &ports));
        FakeSysfs::UsbTty module;
        module.tty = QStringLiteral("kv20sim4");
        module.devname = QStringLiteral("pts/4");
        QVERIFY(sysfs.add_usb_tty(module));

        QFile writer;
        QVERIFY(open_writer(&writer));
        QVERIFY(writer.write("add\n") == 4);
        QTRY_COMPARE_WITH_TIMEOUT(ports, QStringList{QStringLiteral("pts/4")}, wait_ms);
    }
};

int run_device_changes_tests(int argc, char **argv)
{
    DeviceChangesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_device_changes.moc"
