#include "discovery/device_change_source.h"
#include "discovery/native_device_change.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "fake_sysfs.h"
#include "message_capture.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int wait_ms = 5000;

// The writing end of the injection FIFO, as a demo script would hold it.
class FifoWriter
{
public:
    explicit FifoWriter(const QString &path)
        : fd(open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~FifoWriter()
    {
        if (fd >= 0)
            close(fd);
    }
    bool ok() const { return fd >= 0; }
    bool write_text(const QByteArray &text) const
    {
        return ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
    }
    // Bytes written but not yet read by the source.
    int unread() const
    {
        int pending = -1;
        return ioctl(fd, FIONREAD, &pending) == 0 ? pending : -1;
    }

private:
    int fd;
};

bool is_fifo(const QString &path)
{
    struct stat info;
    return stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
}

} // namespace

class DeviceChangesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void injected_add_arrives_as_device_arrival();
    void injected_lines_map_to_event_codes_in_order();
    void line_split_across_writes_arrives_once_complete();
    void unknown_and_overlong_lines_are_ignored_with_a_warning();
    void missing_fifo_is_created();
    void regular_file_is_refused_with_a_warning();
    void module_appearing_while_running_is_found_on_add();
    void no_monitor_is_reported_once_and_the_tool_goes_on();
    void native_messages_are_not_device_changes_here();

private:
    QTemporaryDir *dir = nullptr;
    QString fifo_path;
};

void DeviceChangesTest::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    fifo_path = dir->filePath(QStringLiteral("events"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo_path).constData(), 0600), 0);
    qputenv("KV20_DEVICE_EVENT_FIFO", QFile::encodeName(fifo_path));
}

void DeviceChangesTest::cleanup()
{
    qunsetenv("KV20_DEVICE_EVENT_FIFO");
    qunsetenv("KV20_SYSFS_ROOT");
    delete dir;
    dir = nullptr;
}

void DeviceChangesTest::injected_add_arrives_as_device_arrival()
{
    DeviceChangeSource source;
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
    FifoWriter writer(fifo_path);
    QVERIFY(writer.ok());
    QVERIFY(writer.write_text("add\n"));
    QVERIFY(spy.wait(wait_ms));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<quint32>(), quint32(0x8000));
    QCOMPARE(spy.at(0).at(1).toBool(), false);
}

void DeviceChangesTest::injected_lines_map_to_event_codes_in_order()
{
    DeviceChangeSource source;
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
    FifoWriter writer(fifo_path);
    QVERIFY(writer.ok());
    QVERIFY(writer.write_text("remove\n\nadd\r\nremove-volume\n  add  \n"));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 4, wait_ms);
    const QList<QPair<quint32, bool>> expected{{0x8004, false}, {0x8000, false}, {0x8004, true}, {0x8000, false}};
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(spy.at(i).at(0).value<quint32>(), expected.at(i).first);
        QCOMPARE(spy.at(i).at(1).toBool(), expected.at(i).second);
    }
}

void DeviceChangesTest::line_split_across_writes_arrives_once_complete()
{
    DeviceChangeSource source;
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
    FifoWriter writer(fifo_path);
    QVERIFY(writer.ok());
    QVERIFY(writer.write_text("rem"));
    // Let the source take the fragment in; it must not act on it yet.
    QTRY_COMPARE_WITH_TIMEOUT(writer.unread(), 0, wait_ms);
    QCOMPARE(spy.count(), 0);
    QVERIFY(writer.write_text("ove\n"));
    QVERIFY(spy.wait(wait_ms));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<quint32>(), quint32(0x8004));
}

void DeviceChangesTest::unknown_and_overlong_lines_are_ignored_with_a_warning()
{
    MessageCapture capture;
    DeviceChangeSource source;
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
    FifoWriter writer(fifo_path);
    QVERIFY(writer.ok());

    QVERIFY(writer.write_text("arrival\nADD\nadd\n"));
    QVERIFY(spy.wait(wait_ms));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<quint32>(), quint32(0x8000));
    QCOMPARE(capture.count_containing(QtWarningMsg, QStringLiteral("ignoring injected line")), 2);

    // A line that never ends is dropped rather than buffered without bound.
    QVERIFY(writer.write_text(QByteArray(1000, 'x')));
    QTRY_COMPARE_WITH_TIMEOUT(writer.unread(), 0, wait_ms);
    QTRY_VERIFY_WITH_TIMEOUT(capture.count_containing(QtWarningMsg, QStringLiteral("over-long")) >= 1, wait_ms);
    QCOMPARE(spy.count(), 1);
    QVERIFY(writer.write_text("\nremove\n"));
    QVERIFY(spy.wait(wait_ms));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).value<quint32>(), quint32(0x8004));
}

void DeviceChangesTest::missing_fifo_is_created()
{
    const QString fresh = dir->filePath(QStringLiteral("fresh-events"));
    qputenv("KV20_DEVICE_EVENT_FIFO", QFile::encodeName(fresh));
    DeviceChangeSource source;
    QVERIFY(is_fifo(fresh));
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
    FifoWriter writer(fresh);
    QVERIFY(writer.ok());
    QVERIFY(writer.write_text("remove\n"));
    QVERIFY(spy.wait(wait_ms));
    QCOMPARE(spy.at(0).at(0).value<quint32>(), quint32(0x8004));
}

void DeviceChangesTest::regular_file_is_refused_with_a_warning()
{
    const QString plain = dir->filePath(QStringLiteral("plain"));
    QFile file(plain);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write("add\n") == 4);
    file.close();
    qputenv("KV20_DEVICE_EVENT_FIFO", QFile::encodeName(plain));

    MessageCapture capture;
    DeviceChangeSource source;
    QCOMPARE(capture.count_containing(QtWarningMsg, QStringLiteral("is not a FIFO")), 1);
}

void DeviceChangesTest::module_appearing_while_running_is_found_on_add()
{
    FakeSysfs sysfs;
    QVERIFY(sysfs.ok());
    qputenv("KV20_SYSFS_ROOT", QFile::encodeName(sysfs.root()));

    DeviceChangeSource source;
    QStringList ports;
    bool found = false;
    int refreshes = 0;
    // What the window does on every notification, until a module is found.
    connect(&source, &DeviceChangeSource::device_changed, this, [&](quint32 code, bool) {
        if (code != 0x8000 || !ports.isEmpty())
            return;
        ++refreshes;
        found = collect_module_ports(enumerate_com_port_interfaces(), &ports);
    });
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);

    MessageCapture capture;
    QVERIFY(!collect_module_ports(enumerate_com_port_interfaces(), &ports));
    FakeSysfs::UsbTty module;
    module.tty = QStringLiteral("kv20sim4");
    module.devname = QStringLiteral("pts/4");
    QVERIFY(sysfs.add_usb_tty(module));

    FifoWriter writer(fifo_path);
    QVERIFY(writer.ok());
    QVERIFY(writer.write_text("add\n"));
    QVERIFY(spy.wait(wait_ms));
    QCOMPARE(refreshes, 1);
    QVERIFY(found);
    QCOMPARE(ports, QStringList{QStringLiteral("pts/4")});
    QCOMPARE(capture.count_containing(QtDebugMsg, QStringLiteral("3.sTemp: \"pts/4\"")), 1);
}

void DeviceChangesTest::no_monitor_is_reported_once_and_the_tool_goes_on()
{
    qunsetenv("KV20_DEVICE_EVENT_FIFO");
    // With the descriptor limit at the lowest free descriptor, no socket can
    // be opened: the netlink sources all fail, as where netlink is missing.
    rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest_free = dup(0);
    QVERIFY(lowest_free >= 0);
    close(lowest_free);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);

    MessageCapture capture;
    auto *source = new DeviceChangeSource;
    setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(capture.count_containing(QtWarningMsg, QStringLiteral("no udev monitor could be opened")), 1);
    QCOMPARE(capture.lines(QtWarningMsg).size(), 1);
    delete source;
}

void DeviceChangesTest::native_messages_are_not_device_changes_here()
{
    quint32 code = 0xdead;
    bool volume = true;
    int dummy = 0;
    QVERIFY(!decode_native_device_change("xcb_generic_event_t", &dummy, &code, &volume));
    QVERIFY(!decode_native_device_change("windows_generic_MSG", &dummy, &code, &volume));
    QCOMPARE(code, quint32(0xdead));
    QCOMPARE(volume, true);
}

int run_device_changes_tests(int argc, char **argv)
{
    DeviceChangesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_device_changes.moc"
