// Files the operator's machine may hold: broken settings and image paths that
// cannot be sent whole. Nothing may crash and no image may go out half.
#include "app/dialog.h"
#include "protocol/download_session.h"
#include "tests/support/report_recorder.h"
#include "tests/support/scripted_module.h"
#include "worker/serial_link.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

class BadFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void malformed_config_ini();
    void unreadable_config_ini();
    void image_reads_data();
    void image_reads();
    void refused_image_sends_nothing();
};

void BadFilesTest::malformed_config_ini()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QFile ini(QStringLiteral("config.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QByteArray("[General]\nfs.img_path=/ok/sound.img\n\x01\x02[[[\n=novalue\nfw.img_path\n"
                         "\xff\xfe garbage \x00 \n[\n",
                         79));
    ini.close();
    {
        Dialog dialog;
        // What can be read is used, the rest reads as empty.
        QCOMPARE(dialog.findChild<QLineEdit *>("path_fs")->text(), QStringLiteral("/ok/sound.img"));
        QCOMPARE(dialog.findChild<QLineEdit *>("path_fw")->text(), QString());
    }
    QDir::setCurrent(previous);
}

void BadFilesTest::unreadable_config_ini()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    // A directory where the file should be: it cannot be read or written.
    QVERIFY(QDir().mkdir(QStringLiteral("config.ini")));
    {
        Dialog dialog;
        QCOMPARE(dialog.findChild<QLineEdit *>("path_fw")->text(), QString());
    }
    QVERIFY(QFileInfo(QStringLiteral("config.ini")).isDir());
    QDir::setCurrent(previous);
}

void BadFilesTest::image_reads_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("size");
    static QTemporaryDir dir;
    QFile good(dir.filePath("good.img"));
    good.open(QIODevice::WriteOnly);
    good.write(QByteArray(3000, 'x'));
    good.close();
    QFile empty(dir.filePath("empty.img"));
    empty.open(QIODevice::WriteOnly);
    empty.close();
    QTest::newRow("whole file") << dir.filePath("good.img") << int(ImageReadError::none) << 3000;
    QTest::newRow("empty file") << dir.filePath("empty.img") << int(ImageReadError::none) << 0;
    QTest::newRow("missing") << dir.filePath("none.img") << int(ImageReadError::cannot_open) << 0;
    QTest::newRow("directory") << dir.path() << int(ImageReadError::cannot_open) << 0;
    // A file whose size says 0 but which keeps giving bytes (as /proc files
    // do) cannot be trusted to be the image the operator chose.
    QTest::newRow("size changes while read") << QStringLiteral("/proc/self/status")
                                             << int(ImageReadError::unstable) << 0;
}

void BadFilesTest::image_reads()
{
    QFETCH(QString, path);
    QFETCH(int, error);
    QFETCH(int, size);
    QByteArray image("stale");
    QCOMPARE(int(read_image_file(path, &image)), error);
    if (error == int(ImageReadError::none))
        QCOMPARE(image.size(), size);
    else
        QVERIFY(image.isEmpty() || image == "stale");
}

void BadFilesTest::refused_image_sends_nothing()
{
    // Each refused image ends the session before the download command.
    ScriptedModule module;
    module.reply("AT+XUPDATE", "+ok\r\n\r\nC");
    SerialLink link;
    QVERIFY(link.open(module.port()));
    std::atomic<quint8> block_mode {0};
    QTemporaryDir dir;
    for (const QString &path : {dir.path(), dir.filePath("missing.img"), QStringLiteral("/proc/self/status")}) {
        ReportRecorder reports;
        flash_parameter request;
        request.fs_path = path;
        QCOMPARE(download_image(link, reports, request, 1, block_mode), -1);
        QCOMPARE(reports.of_kind("status"), QStringList({"未发现软件:0"}));
        QVERIFY(!reports.of_kind("debug").contains("firmware file read OK!"));
    }
    QVERIFY(module.commands().isEmpty());
}

QTEST_MAIN(BadFilesTest)
#include "tst_bad_files.moc"
