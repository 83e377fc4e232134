// The generated main-window form (Ui_Dialog), the picture bundle and the English
// catalogue: what the operator sees and what the dialog code relies on by name.

#include "resources/resources.h"
#include "ui_dialog.h"

#include <QtTest>
#include <QImage>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

const QString blue = QStringLiteral("color: rgb(53, 112, 168);");
const QString hei = QStringLiteral("黑体");

struct Form
{
    QDialog dialog;
    Ui_Dialog ui;
    Form() { ui.setupUi(&dialog); }
};

// Collects the texts looked up in the "Dialog" context and translates nothing.
struct RecordingTranslator : QTranslator
{
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "Dialog") == 0)
            requested.insert(QString::fromUtf8(source));
        return QString();
    }
    bool isEmpty() const override { return false; }
    mutable QSet<QString> requested;
};

} // namespace

// Receives the connections setupUi makes by slot name.
class AutoConnectHost : public QDialog
{
    Q_OBJECT
public:
    QStringList clicks;
private slots:
    void on_burn_clicked() { clicks << QStringLiteral("burn"); }
    void on_choose_fw_clicked() { clicks << QStringLiteral("choose_fw"); }
    void on_choose_fs_clicked() { clicks << QStringLiteral("choose_fs"); }
};

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void members_have_their_names_and_types()
    {
        Form f;
        const Ui_Dialog &u = f.ui;
#define KV20_MEMBER(name, type) {u.name, #name, #type}
        const struct { QObject *object; const char *name; const char *type; } members[] = {
            KV20_MEMBER(gridLayout, QGridLayout), KV20_MEMBER(tabWidget, QTabWidget), KV20_MEMBER(kv20_burn, QWidget),
            KV20_MEMBER(verticalLayout, QVBoxLayout), KV20_MEMBER(horizontalLayout_6, QHBoxLayout),
            KV20_MEMBER(speed, QComboBox), KV20_MEMBER(setting_port, QComboBox),
            KV20_MEMBER(xmodem_progress, QProgressBar), KV20_MEMBER(horizontalLayout_2, QHBoxLayout),
            KV20_MEMBER(verticalLayout_3, QVBoxLayout), KV20_MEMBER(label_7, QLabel), KV20_MEMBER(label_2, QLabel),
            KV20_MEMBER(label_4, QLabel), KV20_MEMBER(label_3, QLabel), KV20_MEMBER(verticalLayout_2, QVBoxLayout),
            KV20_MEMBER(deviceSN, QLineEdit), KV20_MEMBER(ap_mac, QLineEdit), KV20_MEMBER(v_version, QLineEdit),
            KV20_MEMBER(sta_mac, QLineEdit), KV20_MEMBER(horizontalLayout, QHBoxLayout), KV20_MEMBER(status, QLabel),
            KV20_MEMBER(burn, QPushButton), KV20_MEMBER(config, QWidget), KV20_MEMBER(gridLayout_2, QGridLayout),
            KV20_MEMBER(horizontalLayout_3, QHBoxLayout), KV20_MEMBER(label_5, QLabel), KV20_MEMBER(path_fw, QLineEdit),
            KV20_MEMBER(choose_fw, QPushButton), KV20_MEMBER(horizontalLayout_4, QHBoxLayout),
            KV20_MEMBER(label_6, QLabel), KV20_MEMBER(path_fs, QLineEdit), KV20_MEMBER(choose_fs, QPushButton),
            KV20_MEMBER(logo, QWidget), KV20_MEMBER(gridLayout_3, QGridLayout), KV20_MEMBER(debug_box, QPlainTextEdit),
        };
#undef KV20_MEMBER
        for (const auto &m : members) {
            QVERIFY2(m.object, m.name);
            QCOMPARE(m.object->objectName(), QString::fromLatin1(m.name));
            QCOMPARE(m.object->metaObject()->className(), m.type);
            QCOMPARE(f.dialog.findChild<QObject *>(QString::fromLatin1(m.name)), m.object);
        }
        QVERIFY(u.verticalSpacer && u.horizontalSpacer && u.verticalSpacer_2);
        // The 35 objects and three spacers above are all the form holds.
        QCOMPARE(sizeof(Ui_Dialog), 38 * sizeof(void *));
    }

    void device_rows_pair_labels_with_fields()
    {
        Form f;
        const Ui_Dialog &u = f.ui;
        // Labels on the left, fields on the right, row by row.
        QCOMPARE(u.horizontalLayout_2->itemAt(0)->layout(), static_cast<QLayout *>(u.verticalLayout_3));
        QCOMPARE(u.horizontalLayout_2->itemAt(1)->layout(), static_cast<QLayout *>(u.verticalLayout_2));
        const QStringList labels{QStringLiteral("设备编号："), QStringLiteral("MAC 地址："), QStringLiteral("音频版本："),
                                 QStringLiteral("设备版本：")};
        const QLineEdit *fields[] = {u.deviceSN, u.ap_mac, u.v_version, u.sta_mac};
        QCOMPARE(u.verticalLayout_3->count(), 4);
        QCOMPARE(u.verticalLayout_2->count(), 4);
        for (int row = 0; row < 4; ++row) {
            auto *label = qobject_cast<QLabel *>(u.verticalLayout_3->itemAt(row)->widget());
            QVERIFY(label);
            QCOMPARE(label->text(), labels.at(row));
            QCOMPARE(u.verticalLayout_2->itemAt(row)->widget(), fields[row]);
        }
    }

    void fonts_and_styles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family"); // empty: none of its own
        QTest::addColumn<int>("points");
        QTest::addColumn<QString>("style");

        QTest::newRow("status") << "status" << hei << 26 << QString();
        QTest::newRow("burn") << "burn" << hei << 48 << blue;
        QTest::newRow("debug_box") << "debug_box" << hei << 14 << QString();
        QTest::newRow("xmodem_progress") << "xmodem_progress" << "Calibri" << 14 << blue;
        QTest::newRow("device label") << "label_2" << hei << 18 << blue;
        QTest::newRow("device field") << "ap_mac" << hei << 18 << QString();
        QTest::newRow("path label") << "label_6" << hei << 20 << blue;
        QTest::newRow("path chooser") << "choose_fw" << hei << 20 << blue;
        QTest::newRow("path field") << "path_fs" << QString() << 16 << QString();
    }

    void fonts_and_styles()
    {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(int, points);
        QFETCH(QString, style);

        Form f;
        auto *widget = f.dialog.findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->font().family(), family.isEmpty() ? widget->parentWidget()->font().family() : family);
        QCOMPARE(widget->font().pointSize(), points);
        QCOMPARE(widget->styleSheet(), style);
    }

    void initial_state_the_operator_sees()
    {
        Form f;
        const Ui_Dialog &u = f.ui;
        QCOMPARE(f.dialog.size(), QSize(732, 476));
        QCOMPARE(f.dialog.sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
        QCOMPARE(f.dialog.sizePolicy().verticalPolicy(), QSizePolicy::Ignored);

        QStringList texts;
        for (int i = 0; i < u.tabWidget->count(); ++i)
            texts << u.tabWidget->tabText(i);
        QCOMPARE(texts, (QStringList{"操作", "配置", "日志"}));
        QCOMPARE(u.tabWidget->currentWidget(), u.kv20_burn);

        texts.clear();
        for (int i = 0; i < u.speed->count(); ++i)
            texts << u.speed->itemText(i);
        QCOMPARE(texts, (QStringList{"音频更换", "设备查询", "固件升级"}));
        QCOMPARE(u.speed->currentIndex(), 0);

        QCOMPARE(u.status->text(), QStringLiteral("就绪"));
        QCOMPARE(u.burn->text(), QStringLiteral("开始"));
        QCOMPARE(u.choose_fw->text(), QStringLiteral("\u2026"));
        QCOMPARE(u.path_fw->placeholderText(), QStringLiteral("x:\\文件路径:设备固件存放路径"));
        QCOMPARE(u.path_fs->placeholderText(), QStringLiteral("x:\\文件路径:音频合成文件存放路径"));

        // The module fills the device fields and the log; the operator types paths.
        for (const QLineEdit *field : {u.deviceSN, u.ap_mac, u.v_version, u.sta_mac})
            QVERIFY2(field->isReadOnly(), qPrintable(field->objectName()));
        QVERIFY(u.debug_box->isReadOnly());
        QVERIFY(!u.path_fw->isReadOnly());
        QVERIFY(!u.path_fs->isReadOnly());
    }

    void button_slots_are_connected_by_name()
    {
        AutoConnectHost host;
        Ui_Dialog ui;
        ui.setupUi(&host);
        ui.choose_fs->click();
        ui.burn->click();
        ui.choose_fw->click();
        QCOMPARE(host.clicks, (QStringList{"choose_fs", "burn", "choose_fw"}));
    }

    void pictures_load_as_jpeg()
    {
        kv20_register_resources();
        for (const char *path : {":/kv20/image/logo.jpg", ":/kv20/image/zizaro.jpg"}) {
            QImage image;
            QVERIFY2(image.load(QString::fromLatin1(path), "JPEG"), path);
            QVERIFY(!image.isNull());
        }
        kv20_unregister_resources();
        QVERIFY(!QFile::exists(QStringLiteral(":/kv20/image/logo.jpg")));
    }

    void english_catalogue_translates_the_form()
    {
        QTranslator catalogue;
        QVERIFY(catalogue.load(QStringLiteral(KV20_BIN_DIR "/qt_en.qm")));
        QCoreApplication::installTranslator(&catalogue);
        Form f;
        const Ui_Dialog &u = f.ui;
        const QString filter = QCoreApplication::translate("Dialog", "Files(*.img *.bin)");
        QCoreApplication::removeTranslator(&catalogue);

        QCOMPARE(u.speed->itemText(0), QStringLiteral("Audio replacement"));
        QCOMPARE(u.label_2->text(), QStringLiteral("MAC address:"));
        QCOMPARE(u.status->text(), QStringLiteral("Ready"));
        QCOMPARE(u.burn->text(), QStringLiteral("Start"));
        QCOMPARE(u.tabWidget->tabText(2), QStringLiteral("Log"));
        QCOMPARE(u.path_fw->placeholderText(), QStringLiteral("x:\\file path: where the device firmware is stored"));
        // The file dialog still needs its "(patterns)" part.
        QVERIFY2(filter.endsWith(QStringLiteral("(*.img *.bin)")), qPrintable(filter));
    }

    void catalogue_is_finished_and_covers_what_the_form_asks()
    {
        QFile ts(QStringLiteral(KV20_SOURCE_DIR "/resources/qt_en.ts"));
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QTranslator catalogue;
        QVERIFY(catalogue.load(QStringLiteral(KV20_BIN_DIR "/qt_en.qm")));
        const QRegularExpression chinese(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
        QStringList sources;
        QString source;
        QXmlStreamReader xml(&ts);
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("name")) {
                QCOMPARE(xml.readElementText(), QStringLiteral("Dialog"));
            } else if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
                sources << source;
            } else if (xml.name() == QLatin1String("translation")) {
                QVERIFY2(xml.attributes().value(QLatin1String("type")).isEmpty(), qPrintable(source));
                const QString translation = xml.readElementText();
                QVERIFY2(!translation.isEmpty() && !translation.contains(chinese), qPrintable(source));
                QCOMPARE(catalogue.translate("Dialog", source.toUtf8().constData()), translation);
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));

        Form f;
        RecordingTranslator recorder;
        QCoreApplication::installTranslator(&recorder);
        f.ui.retranslateUi(&f.dialog);
        QCoreApplication::removeTranslator(&recorder);
        // The file chooser's caption and filter come from the dialog code.
        QStringList expected = recorder.requested.values();
        expected << QStringLiteral("Open Image") << QStringLiteral("Files(*.img *.bin)");
        expected.sort();
        sources.sort();
        QCOMPARE(sources, expected);
    }
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
