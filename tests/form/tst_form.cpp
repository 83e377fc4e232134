// Tests of the generated main-window form (Ui_Dialog), the picture bundle
// and the English translation catalogue.

#include "ui_dialog.h"
#include "resources/resources.h"

#include <QtTest>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QResource>
#include <QTranslator>
#include <QXmlStreamReader>

#include <cstddef>
#include <memory>

namespace {

const QString kBlue = QStringLiteral("color: rgb(53, 112, 168);");
const QString kHei = QStringLiteral("黑体");

// Every text retranslateUi passes through the translator, in call order.
const QStringList &formSourceTexts()
{
    static const QStringList texts = {
        QStringLiteral("KV20 Wi-Fi模组烧写工具 V1.0.0"),
        QStringLiteral("音频更换"),
        QStringLiteral("设备查询"),
        QStringLiteral("固件升级"),
        QStringLiteral("设备编号："),
        QStringLiteral("MAC 地址："),
        QStringLiteral("音频版本："),
        QStringLiteral("设备版本："),
        QStringLiteral("就绪"),
        QStringLiteral("开始"),
        QStringLiteral("操作"),
        QStringLiteral("固件路径："),
        QStringLiteral("x:\\文件路径:设备固件存放路径"),
        QStringLiteral("\u2026"),
        QStringLiteral("音频路径："),
        QStringLiteral("x:\\文件路径:音频合成文件存放路径"),
        QStringLiteral("\u2026"),
        QStringLiteral("配置"),
        QStringLiteral("日志"),
    };
    return texts;
}

// Texts the dialog itself passes through the translator (file chooser).
const QString kChooserCaption = QStringLiteral("Open Image");
const QString kChooserFilter = QStringLiteral("Files(*.img *.bin)");

QString catalogueQmPath() { return QStringLiteral(KV20_BIN_DIR "/qt_en.qm"); }
QString catalogueTsPath() { return QStringLiteral(KV20_SOURCE_DIR "/resources/qt_en.ts"); }

bool containsChinese(const QString &s)
{
    for (const QChar c : s) {
        const ushort u = c.unicode();
        if ((u >= 0x3000 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

struct Form {
    QDialog dialog;
    Ui_Dialog ui;
    Form() { ui.setupUi(&dialog); }
};

// Records every lookup and translates nothing.
class RecordingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation, int n) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        calls.append(qMakePair(QString::fromUtf8(context), QString::fromUtf8(sourceText)));
        return QString();
    }
    bool isEmpty() const override { return false; }
    mutable QVector<QPair<QString, QString>> calls;
};

// Removes an installed translator when the test function ends, also on failure.
struct InstalledTranslator {
    explicit InstalledTranslator(QTranslator *t) : translator(t)
    {
        QCoreApplication::installTranslator(translator);
    }
    ~InstalledTranslator() { QCoreApplication::removeTranslator(translator); }
    QTranslator *translator;
};

struct TsMessage {
    QString context;
    QString source;
    QString translation;
    QString translationType;
};

// Reads all messages of a Linguist source file; returns false on XML errors.
bool readTs(const QString &path, QVector<TsMessage> *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage msg;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("context")) {
                context.clear();
            } else if (xml.name() == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("message")) {
                msg = TsMessage();
                msg.context = context;
            } else if (xml.name() == QLatin1String("source")) {
                msg.source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                msg.translationType = xml.attributes().value(QLatin1String("type")).toString();
                msg.translation = xml.readElementText();
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            out->append(msg);
        }
    }
    if (xml.hasError()) {
        *error = xml.errorString();
        return false;
    }
    return true;
}

} // namespace

// Receives the automatic connections setupUi makes by object name.
class AutoConnectHost : public QDialog
{
    Q_OBJECT
public:
    int burnClicks = 0;
    int chooseFwClicks = 0;
    int chooseFsClicks = 0;
private slots:
    void on_burn_clicked() { ++burnClicks; }
    void on_choose_fw_clicked() { ++chooseFwClicks; }
    void on_choose_fs_clicked() { ++chooseFsClicks; }
};

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void membersDeclaredInOrder();
    void memberNamesAndTypes();
    void widgetsCreatedInOrder();
    void dialogGeometryAndPolicy();
    void dialogKeepsExistingObjectName();
    void layoutsSpacingAndMargins();
    void operationTabPlacement();
    void deviceLabelsPairWithFields();
    void settingsTabPlacement();
    void logTabPlacement();
    void fontsAndStyleSheets_data();
    void fontsAndStyleSheets();
    void widgetProperties();
    void tabsTitlesIconsAndCurrentIndex();
    void speedItemsAfterRetranslate();
    void retranslateTextsInOrder();
    void retranslateClearsFirmwarePathOnly();
    void autoConnectsButtonSlots();
    void resourcesRegisterAndLoad();
    void resourcesStoredUncompressed();
    void catalogueTranslatesForm();
    void catalogueKeepsFileFilterUsable();
    void tsMessagesFinished();
    void tsCoversExactlyTranslatedTexts();
    void catalogueMatchesTs();
};

#define KV20_MEMBER_OFFSET(m) offsetof(Ui_Dialog, m)

void TestForm::membersDeclaredInOrder()
{
    // Declaration order of Ui_Dialog: the form's object tree order.
    const std::size_t offsets[] = {
        KV20_MEMBER_OFFSET(gridLayout),        KV20_MEMBER_OFFSET(tabWidget),
        KV20_MEMBER_OFFSET(kv20_burn),         KV20_MEMBER_OFFSET(verticalLayout),
        KV20_MEMBER_OFFSET(horizontalLayout_6), KV20_MEMBER_OFFSET(speed),
        KV20_MEMBER_OFFSET(setting_port),      KV20_MEMBER_OFFSET(xmodem_progress),
        KV20_MEMBER_OFFSET(horizontalLayout_2), KV20_MEMBER_OFFSET(verticalLayout_3),
        KV20_MEMBER_OFFSET(label_7),           KV20_MEMBER_OFFSET(label_2),
        KV20_MEMBER_OFFSET(label_4),           KV20_MEMBER_OFFSET(label_3),
        KV20_MEMBER_OFFSET(verticalLayout_2),  KV20_MEMBER_OFFSET(deviceSN),
        KV20_MEMBER_OFFSET(ap_mac),            KV20_MEMBER_OFFSET(v_version),
        KV20_MEMBER_OFFSET(sta_mac),           KV20_MEMBER_OFFSET(verticalSpacer),
        KV20_MEMBER_OFFSET(horizontalLayout),  KV20_MEMBER_OFFSET(status),
        KV20_MEMBER_OFFSET(horizontalSpacer),  KV20_MEMBER_OFFSET(burn),
        KV20_MEMBER_OFFSET(config),            KV20_MEMBER_OFFSET(gridLayout_2),
        KV20_MEMBER_OFFSET(horizontalLayout_3), KV20_MEMBER_OFFSET(label_5),
        KV20_MEMBER_OFFSET(path_fw),           KV20_MEMBER_OFFSET(choose_fw),
        KV20_MEMBER_OFFSET(horizontalLayout_4), KV20_MEMBER_OFFSET(label_6),
        KV20_MEMBER_OFFSET(path_fs),           KV20_MEMBER_OFFSET(choose_fs),
        KV20_MEMBER_OFFSET(verticalSpacer_2),  KV20_MEMBER_OFFSET(logo),
        KV20_MEMBER_OFFSET(gridLayout_3),      KV20_MEMBER_OFFSET(debug_box),
    };
    const int count = int(sizeof(offsets) / sizeof(offsets[0]));
    QCOMPARE(count, 38);
    for (int i = 0; i < count; ++i)
        QCOMPARE(offsets[i], std::size_t(i) * sizeof(void *));
    // No member beyond the 38 listed.
    QCOMPARE(sizeof(Ui_Dialog), std::size_t(count) * sizeof(void *));
}

void TestForm::memberNamesAndTypes()
{
    Form f;
    const Ui_Dialog &u = f.ui;
    const struct { QObject *object; const char *name; const char *type; } members[] = {
        {u.gridLayout, "gridLayout", "QGridLayout"},
        {u.tabWidget, "tabWidget", "QTabWidget"},
        {u.kv20_burn, "kv20_burn", "QWidget"},
        {u.verticalLayout, "verticalLayout", "QVBoxLayout"},
        {u.horizontalLayout_6, "horizontalLayout_6", "QHBoxLayout"},
        {u.speed, "speed", "QComboBox"},
        {u.setting_port, "setting_port", "QComboBox"},
        {u.xmodem_progress, "xmodem_progress", "QProgressBar"},
        {u.horizontalLayout_2, "horizontalLayout_2", "QHBoxLayout"},
        {u.verticalLayout_3, "verticalLayout_3", "QVBoxLayout"},
        {u.label_7, "label_7", "QLabel"},
        {u.label_2, "label_2", "QLabel"},
        {u.label_4, "label_4", "QLabel"},
        {u.label_3, "label_3", "QLabel"},
        {u.verticalLayout_2, "verticalLayout_2", "QVBoxLayout"},
        {u.deviceSN, "deviceSN", "QLineEdit"},
        {u.ap_mac, "ap_mac", "QLineEdit"},
        {u.v_version, "v_version", "QLineEdit"},
        {u.sta_mac, "sta_mac", "QLineEdit"},
        {u.horizontalLayout, "horizontalLayout", "QHBoxLayout"},
        {u.status, "status", "QLabel"},
        {u.burn, "burn", "QPushButton"},
        {u.config, "config", "QWidget"},
        {u.gridLayout_2, "gridLayout_2", "QGridLayout"},
        {u.horizontalLayout_3, "horizontalLayout_3", "QHBoxLayout"},
        {u.label_5, "label_5", "QLabel"},
        {u.path_fw, "path_fw", "QLineEdit"},
        {u.choose_fw, "choose_fw", "QPushButton"},
        {u.horizontalLayout_4, "horizontalLayout_4", "QHBoxLayout"},
        {u.label_6, "label_6", "QLabel"},
        {u.path_fs, "path_fs", "QLineEdit"},
        {u.choose_fs, "choose_fs", "QPushButton"},
        {u.logo, "logo", "QWidget"},
        {u.gridLayout_3, "gridLayout_3", "QGridLayout"},
        {u.debug_box, "debug_box", "QPlainTextEdit"},
    };
    for (const auto &m : members) {
        QVERIFY2(m.object, m.name);
        QCOMPARE(m.object->objectName(), QString::fromLatin1(m.name));
        QCOMPARE(m.object->metaObject()->className(), m.type);
        // Reachable by name from the dialog: the automatic slot connection
        // and any lookup by name depend on it.
        QCOMPARE(f.dialog.findChild<QObject *>(QString::fromLatin1(m.name)), m.object);
    }
    QVERIFY(u.verticalSpacer && u.horizontalSpacer && u.verticalSpacer_2);
}

void TestForm::widgetsCreatedInOrder()
{
    Form f;
    const auto names = [](const QWidget *parent) {
        QStringList out;
        for (const QWidget *w : parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            out << w->objectName();
        return out;
    };
    QCOMPARE(names(f.ui.kv20_burn),
             QStringList({"speed", "setting_port", "xmodem_progress", "label_7", "label_2",
                          "label_4", "label_3", "deviceSN", "ap_mac", "v_version", "sta_mac",
                          "status", "burn"}));
    QCOMPARE(names(f.ui.config),
             QStringList({"label_5", "path_fw", "choose_fw", "label_6", "path_fs", "choose_fs"}));
    QCOMPARE(names(f.ui.logo), QStringList({"debug_box"}));
    QCOMPARE(f.ui.tabWidget->parentWidget(), &f.dialog);
    QCOMPARE(f.ui.tabWidget->window(), &f.dialog);
}

void TestForm::dialogGeometryAndPolicy()
{
    Form f;
    QCOMPARE(f.dialog.objectName(), QStringLiteral("Dialog"));
    QCOMPARE(f.dialog.size(), QSize(732, 476));
    const QSizePolicy p = f.dialog.sizePolicy();
    QCOMPARE(p.horizontalPolicy(), QSizePolicy::Ignored);
    QCOMPARE(p.verticalPolicy(), QSizePolicy::Ignored);
    QCOMPARE(p.horizontalStretch(), 0);
    QCOMPARE(p.verticalStretch(), 0);
    QCOMPARE(f.dialog.minimumSize(), QSize(0, 0));
    QCOMPARE(f.dialog.maximumSize(), QSize(100000, 100000));
    QCOMPARE(f.dialog.layout(), static_cast<QLayout *>(f.ui.gridLayout));
}

void TestForm::dialogKeepsExistingObjectName()
{
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("mainWindow"));
    Ui_Dialog ui;
    ui.setupUi(&dialog);
    QCOMPARE(dialog.objectName(), QStringLiteral("mainWindow"));
}

void TestForm::layoutsSpacingAndMargins()
{
    Form f;
    // Named layouts are the form's own; widgets such as the combo boxes keep
    // unnamed internal ones.
    QStringList names;
    for (const QLayout *l : f.dialog.findChildren<QLayout *>()) {
        if (l->objectName().isEmpty())
            continue;
        names << l->objectName();
        QVERIFY2(l->spacing() == 6, qPrintable(l->objectName()));
    }
    names.sort();
    QCOMPARE(names, QStringList({"gridLayout", "gridLayout_2", "gridLayout_3", "horizontalLayout",
                                 "horizontalLayout_2", "horizontalLayout_3", "horizontalLayout_4",
                                 "horizontalLayout_6", "verticalLayout", "verticalLayout_2",
                                 "verticalLayout_3"}));

    // Layouts installed on a widget carry margins of 11 on every side.
    for (const QLayout *l : {static_cast<QLayout *>(f.ui.gridLayout),
                             static_cast<QLayout *>(f.ui.verticalLayout),
                             static_cast<QLayout *>(f.ui.gridLayout_2),
                             static_cast<QLayout *>(f.ui.gridLayout_3)})
        QVERIFY2(l->contentsMargins() == QMargins(11, 11, 11, 11), qPrintable(l->objectName()));

    // Nested layouts have no margins of their own, except the status row
    // with 6 left and right.
    for (const QLayout *l : {static_cast<QLayout *>(f.ui.horizontalLayout_6),
                             static_cast<QLayout *>(f.ui.horizontalLayout_2),
                             static_cast<QLayout *>(f.ui.verticalLayout_3),
                             static_cast<QLayout *>(f.ui.verticalLayout_2),
                             static_cast<QLayout *>(f.ui.horizontalLayout_3),
                             static_cast<QLayout *>(f.ui.horizontalLayout_4)})
        QVERIFY2(l->contentsMargins() == QMargins(0, 0, 0, 0), qPrintable(l->objectName()));
    QCOMPARE(f.ui.horizontalLayout->contentsMargins(), QMargins(6, 0, 6, 0));
}

static void verifyBoxItems(QBoxLayout *box, int expectedCount)
{
    QCOMPARE(box->count(), expectedCount);
    for (int i = 0; i < box->count(); ++i) {
        QCOMPARE(box->stretch(i), 0);
        QCOMPARE(int(box->itemAt(i)->alignment()), 0);
    }
}

static void verifySpacer(QLayoutItem *item, QSize size, QSizePolicy::Policy h, QSizePolicy::Policy v)
{
    QVERIFY(item);
    QSpacerItem *spacer = item->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), size);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), h);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), v);
}

void TestForm::operationTabPlacement()
{
    Form f;
    const Ui_Dialog &u = f.ui;

    int row, column, rowSpan, columnSpan;
    QCOMPARE(u.gridLayout->count(), 1);
    u.gridLayout->getItemPosition(u.gridLayout->indexOf(u.tabWidget), &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QVector<int>({row, column, rowSpan, columnSpan}), QVector<int>({0, 0, 1, 1}));

    QCOMPARE(u.kv20_burn->layout(), static_cast<QLayout *>(u.verticalLayout));
    verifyBoxItems(u.verticalLayout, 5);
    QCOMPARE(u.verticalLayout->itemAt(0)->layout(), static_cast<QLayout *>(u.horizontalLayout_6));
    QCOMPARE(u.verticalLayout->itemAt(1)->widget(), static_cast<QWidget *>(u.xmodem_progress));
    QCOMPARE(u.verticalLayout->itemAt(2)->layout(), static_cast<QLayout *>(u.horizontalLayout_2));
    QCOMPARE(u.verticalLayout->itemAt(3)->spacerItem(), u.verticalSpacer);
    verifySpacer(u.verticalLayout->itemAt(3), QSize(20, 40), QSizePolicy::Minimum, QSizePolicy::Expanding);
    QCOMPARE(u.verticalLayout->itemAt(4)->layout(), static_cast<QLayout *>(u.horizontalLayout));

    verifyBoxItems(u.horizontalLayout_6, 2);
    QCOMPARE(u.horizontalLayout_6->itemAt(0)->widget(), static_cast<QWidget *>(u.speed));
    QCOMPARE(u.horizontalLayout_6->itemAt(1)->widget(), static_cast<QWidget *>(u.setting_port));

    verifyBoxItems(u.horizontalLayout_2, 2);
    QCOMPARE(u.horizontalLayout_2->itemAt(0)->layout(), static_cast<QLayout *>(u.verticalLayout_3));
    QCOMPARE(u.horizontalLayout_2->itemAt(1)->layout(), static_cast<QLayout *>(u.verticalLayout_2));

    verifyBoxItems(u.verticalLayout_3, 4);
    verifyBoxItems(u.verticalLayout_2, 4);
    const QWidget *fields[] = {u.deviceSN, u.ap_mac, u.v_version, u.sta_mac};
    const QWidget *labels[] = {u.label_7, u.label_2, u.label_4, u.label_3};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(u.verticalLayout_3->itemAt(i)->widget(), labels[i]);
        QCOMPARE(u.verticalLayout_2->itemAt(i)->widget(), fields[i]);
    }

    verifyBoxItems(u.horizontalLayout, 3);
    QCOMPARE(u.horizontalLayout->itemAt(0)->widget(), static_cast<QWidget *>(u.status));
    QCOMPARE(u.horizontalLayout->itemAt(1)->spacerItem(), u.horizontalSpacer);
    verifySpacer(u.horizontalLayout->itemAt(1), QSize(40, 20), QSizePolicy::Expanding, QSizePolicy::Minimum);
    QCOMPARE(u.horizontalLayout->itemAt(2)->widget(), static_cast<QWidget *>(u.burn));
}

void TestForm::deviceLabelsPairWithFields()
{
    Form f;
    const Ui_Dialog &u = f.ui;
    const QMap<QString, QWidget *> pairs = {
        {QStringLiteral("设备编号："), u.deviceSN},
        {QStringLiteral("MAC 地址："), u.ap_mac},
        {QStringLiteral("音频版本："), u.v_version},
        {QStringLiteral("设备版本："), u.sta_mac},
    };
    QCOMPARE(u.verticalLayout_3->count(), u.verticalLayout_2->count());
    for (int row = 0; row < u.verticalLayout_3->count(); ++row) {
        auto *label = qobject_cast<QLabel *>(u.verticalLayout_3->itemAt(row)->widget());
        QVERIFY(label);
        QVERIFY2(pairs.contains(label->text()), qPrintable(label->text()));
        QCOMPARE(u.verticalLayout_2->itemAt(row)->widget(), pairs.value(label->text()));
    }
}

void TestForm::settingsTabPlacement()
{
    Form f;
    const Ui_Dialog &u = f.ui;
    QCOMPARE(u.config->layout(), static_cast<QLayout *>(u.gridLayout_2));
    QCOMPARE(u.gridLayout_2->count(), 3);

    int row, column, rowSpan, columnSpan;
    const auto position = [&](int index) {
        u.gridLayout_2->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        return QVector<int>({row, column, rowSpan, columnSpan});
    };
    QCOMPARE(position(u.gridLayout_2->indexOf(u.horizontalLayout_3)), QVector<int>({0, 0, 1, 1}));
    QCOMPARE(position(u.gridLayout_2->indexOf(u.horizontalLayout_4)), QVector<int>({1, 0, 1, 1}));
    QCOMPARE(u.gridLayout_2->itemAtPosition(2, 0)->spacerItem(), u.verticalSpacer_2);
    verifySpacer(u.gridLayout_2->itemAtPosition(2, 0), QSize(20, 40), QSizePolicy::Minimum,
                 QSizePolicy::Expanding);

    verifyBoxItems(u.horizontalLayout_3, 3);
    QCOMPARE(u.horizontalLayout_3->itemAt(0)->widget(), static_cast<QWidget *>(u.label_5));
    QCOMPARE(u.horizontalLayout_3->itemAt(1)->widget(), static_cast<QWidget *>(u.path_fw));
    QCOMPARE(u.horizontalLayout_3->itemAt(2)->widget(), static_cast<QWidget *>(u.choose_fw));
    verifyBoxItems(u.horizontalLayout_4, 3);
    QCOMPARE(u.horizontalLayout_4->itemAt(0)->widget(), static_cast<QWidget *>(u.label_6));
    QCOMPARE(u.horizontalLayout_4->itemAt(1)->widget(), static_cast<QWidget *>(u.path_fs));
    QCOMPARE(u.horizontalLayout_4->itemAt(2)->widget(), static_cast<QWidget *>(u.choose_fs));
}

void TestForm::logTabPlacement()
{
    Form f;
    const Ui_Dialog &u = f.ui;
    QCOMPARE(u.logo->layout(), static_cast<QLayout *>(u.gridLayout_3));
    QCOMPARE(u.gridLayout_3->count(), 1);
    QCOMPARE(u.gridLayout_3->itemAtPosition(0, 0)->widget(), static_cast<QWidget *>(u.debug_box));
}

void TestForm::fontsAndStyleSheets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family"); // empty: none of its own, inherited from the page
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<bool>("normalWeight"); // weight 50 and not bold stated explicitly
    QTest::addColumn<QString>("styleSheet");

    QTest::newRow("tabWidget") << "tabWidget" << kHei << 12 << true << QString();
    QTest::newRow("speed") << "speed" << kHei << 16 << false << QString();
    QTest::newRow("setting_port") << "setting_port" << kHei << 16 << false << QString();
    QTest::newRow("xmodem_progress") << "xmodem_progress" << "Calibri" << 14 << false << kBlue;
    for (const char *label : {"label_7", "label_2", "label_4", "label_3"})
        QTest::newRow(label) << label << kHei << 18 << true << kBlue;
    for (const char *field : {"deviceSN", "ap_mac", "v_version", "sta_mac"})
        QTest::newRow(field) << field << kHei << 18 << false << QString();
    QTest::newRow("status") << "status" << kHei << 26 << false << QString();
    QTest::newRow("burn") << "burn" << kHei << 48 << false << kBlue;
    for (const char *w : {"label_5", "choose_fw", "label_6", "choose_fs"})
        QTest::newRow(w) << w << kHei << 20 << true << kBlue;
    QTest::newRow("path_fw") << "path_fw" << QString() << 16 << false << QString();
    QTest::newRow("path_fs") << "path_fs" << QString() << 16 << false << QString();
    QTest::newRow("debug_box") << "debug_box" << kHei << 14 << true << QString();
}

void TestForm::fontsAndStyleSheets()
{
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(bool, normalWeight);
    QFETCH(QString, styleSheet);

    Form f;
    auto *w = f.dialog.findChild<QWidget *>(name);
    QVERIFY(w);
    const QFont font = w->font();
    QCOMPARE(font.family(), family.isEmpty() ? w->parentWidget()->font().family() : family);
    QCOMPARE(font.pointSize(), pointSize);
    if (normalWeight) {
        QCOMPARE(font.weight(), 50);
        QVERIFY(!font.bold());
    }
    QCOMPARE(w->styleSheet(), styleSheet);
}

void TestForm::widgetProperties()
{
    Form f;
    const Ui_Dialog &u = f.ui;

    QCOMPARE(u.tabWidget->minimumSize(), QSize(511, 281));
    QCOMPARE(u.tabWidget->maximumSize(), QSize(100000, 100000));
    QCOMPARE(u.tabWidget->toolTipDuration(), 0);
    QCOMPARE(u.tabWidget->iconSize(), QSize(32, 32));

    QCOMPARE(u.speed->layoutDirection(), Qt::LeftToRight);
    QCOMPARE(u.setting_port->count(), 0);

    QCOMPARE(u.xmodem_progress->value(), 0);
    QCOMPARE(u.xmodem_progress->minimum(), 0);
    QCOMPARE(u.xmodem_progress->maximum(), 100);
    QCOMPARE(u.xmodem_progress->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QVERIFY(u.xmodem_progress->isTextVisible());
    QCOMPARE(u.xmodem_progress->orientation(), Qt::Horizontal);
    QVERIFY(!u.xmodem_progress->invertedAppearance());

    for (const QLineEdit *field : {u.deviceSN, u.ap_mac, u.v_version, u.sta_mac}) {
        QVERIFY2(field->isReadOnly(), qPrintable(field->objectName()));
        QCOMPARE(field->alignment(), Qt::AlignCenter);
        QVERIFY(field->text().isEmpty());
    }
    QCOMPARE(u.status->alignment(), Qt::AlignLeft | Qt::AlignBottom);

    QVERIFY(!u.path_fw->isReadOnly());
    QVERIFY(!u.path_fs->isReadOnly());
    QCOMPARE(u.path_fw->cursorMoveStyle(), Qt::VisualMoveStyle);
    QCOMPARE(u.path_fs->cursorMoveStyle(), Qt::LogicalMoveStyle);
    QCOMPARE(u.path_fw->placeholderText(), QStringLiteral("x:\\文件路径:设备固件存放路径"));
    QCOMPARE(u.path_fs->placeholderText(), QStringLiteral("x:\\文件路径:音频合成文件存放路径"));

    QVERIFY(u.debug_box->isReadOnly());
    QVERIFY(u.debug_box->toPlainText().isEmpty());

    QCOMPARE(u.status->text(), QStringLiteral("就绪"));
    QCOMPARE(u.burn->text(), QStringLiteral("开始"));
    QCOMPARE(u.choose_fw->text(), QStringLiteral("\u2026"));
    QCOMPARE(u.choose_fw->text().size(), 1);
    QCOMPARE(u.choose_fs->text(), QStringLiteral("\u2026"));
    QCOMPARE(u.label_5->text(), QStringLiteral("固件路径："));
    QCOMPARE(u.label_6->text(), QStringLiteral("音频路径："));
    QCOMPARE(f.dialog.windowTitle(), QStringLiteral("KV20 Wi-Fi模组烧写工具 V1.0.0"));
}

void TestForm::tabsTitlesIconsAndCurrentIndex()
{
    Form f;
    const Ui_Dialog &u = f.ui;
    QCOMPARE(u.tabWidget->count(), 3);
    QCOMPARE(u.tabWidget->widget(0), u.kv20_burn);
    QCOMPARE(u.tabWidget->widget(1), u.config);
    QCOMPARE(u.tabWidget->widget(2), u.logo);
    QCOMPARE(u.tabWidget->tabText(0), QStringLiteral("操作"));
    QCOMPARE(u.tabWidget->tabText(1), QStringLiteral("配置"));
    QCOMPARE(u.tabWidget->tabText(2), QStringLiteral("日志"));
    for (int i = 0; i < 3; ++i)
        QVERIFY(u.tabWidget->tabIcon(i).isNull());
    QCOMPARE(u.tabWidget->currentIndex(), 0);
    QCOMPARE(u.tabWidget->currentWidget(), u.kv20_burn);
}

void TestForm::speedItemsAfterRetranslate()
{
    Form f;
    QComboBox *speed = f.ui.speed;
    QCOMPARE(speed->count(), 3);
    QCOMPARE(speed->itemText(0), QStringLiteral("音频更换"));
    QCOMPARE(speed->itemText(1), QStringLiteral("设备查询"));
    QCOMPARE(speed->itemText(2), QStringLiteral("固件升级"));
    QCOMPARE(speed->currentIndex(), 0);
    QCOMPARE(speed->currentText(), QStringLiteral("音频更换"));

    // Selection survives a retranslation; the texts come back unchanged.
    speed->setCurrentIndex(2);
    speed->setItemText(1, QStringLiteral("x"));
    f.ui.retranslateUi(&f.dialog);
    QCOMPARE(speed->currentIndex(), 2);
    QCOMPARE(speed->itemText(1), QStringLiteral("设备查询"));
}

void TestForm::retranslateTextsInOrder()
{
    Form f;
    RecordingTranslator recorder;
    InstalledTranslator installed(&recorder);
    // Installing triggers the framework's own lookups; only the form's count.
    recorder.calls.clear();
    f.ui.retranslateUi(&f.dialog);

    QStringList dialogTexts;
    for (const auto &call : recorder.calls) {
        QCOMPARE(call.first, QStringLiteral("Dialog"));
        dialogTexts << call.second;
    }
    QCOMPARE(dialogTexts, formSourceTexts());
}

void TestForm::retranslateClearsFirmwarePathOnly()
{
    Form f;
    f.ui.path_fw->setText(QStringLiteral("/tmp/fw.img"));
    f.ui.path_fs->setText(QStringLiteral("/tmp/fs.bin"));
    f.ui.deviceSN->setText(QStringLiteral("SN1"));
    f.ui.retranslateUi(&f.dialog);
    QVERIFY(f.ui.path_fw->text().isEmpty());
    QCOMPARE(f.ui.path_fs->text(), QStringLiteral("/tmp/fs.bin"));
    QCOMPARE(f.ui.deviceSN->text(), QStringLiteral("SN1"));
}

void TestForm::autoConnectsButtonSlots()
{
    AutoConnectHost host;
    Ui_Dialog ui;
    ui.setupUi(&host);
    ui.burn->click();
    ui.choose_fw->click();
    ui.choose_fw->click();
    ui.choose_fs->click();
    ui.choose_fs->click();
    ui.choose_fs->click();
    QCOMPARE(host.burnClicks, 1);
    QCOMPARE(host.chooseFwClicks, 2);
    QCOMPARE(host.chooseFsClicks, 3);
}

void TestForm::resourcesRegisterAndLoad()
{
    const QString logoPath = QStringLiteral(":/kv20/image/logo.jpg");
    const QString zizaroPath = QStringLiteral(":/kv20/image/zizaro.jpg");

    kv20_unregister_resources();
    QVERIFY(!QFile::exists(logoPath));
    QVERIFY(!QFile::exists(zizaroPath));

    kv20_register_resources();
    QVERIFY(QFile::exists(logoPath));
    QVERIFY(QFile::exists(zizaroPath));
    QCOMPARE(QDir(QStringLiteral(":/kv20/image")).entryList(QDir::Files),
             QStringList({"logo.jpg", "zizaro.jpg"}));

    QByteArray bytes[2];
    const QString paths[2] = {logoPath, zizaroPath};
    for (int i = 0; i < 2; ++i) {
        QImageReader reader(paths[i]);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage image(paths[i]);
        QVERIFY2(!image.isNull(), qPrintable(paths[i]));
        QVERIFY(image.width() > 0 && image.height() > 0);

        QFile file(paths[i]);
        QVERIFY(file.open(QIODevice::ReadOnly));
        bytes[i] = file.readAll();
        QVERIFY(bytes[i].startsWith("\xFF\xD8\xFF"));
        QVERIFY(bytes[i].size() > 10000);
    }
    QVERIFY(bytes[0] != bytes[1]);

    // Registering twice is harmless; one unregistration removes the bundle.
    kv20_register_resources();
    kv20_unregister_resources();
    QVERIFY(!QFile::exists(logoPath));
    kv20_register_resources();
    QVERIFY(QFile::exists(logoPath));
}

void TestForm::resourcesStoredUncompressed()
{
    kv20_register_resources();
    for (const char *path : {":/kv20/image/logo.jpg", ":/kv20/image/zizaro.jpg"}) {
        QResource resource(QString::fromLatin1(path));
        QVERIFY2(resource.isValid(), path);
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        QFile file(QString::fromLatin1(path));
        QCOMPARE(resource.size(), file.size());
    }
}

void TestForm::catalogueTranslatesForm()
{
    QTranslator catalogue;
    QVERIFY2(catalogue.load(catalogueQmPath()), qPrintable(catalogueQmPath()));
    InstalledTranslator installed(&catalogue);

    Form f;
    const Ui_Dialog &u = f.ui;
    QCOMPARE(u.speed->itemText(0), QStringLiteral("Audio replacement"));
    QCOMPARE(u.speed->itemText(1), QStringLiteral("Device query"));
    QCOMPARE(u.speed->itemText(2), QStringLiteral("Firmware upgrade"));
    QCOMPARE(u.label_7->text(), QStringLiteral("Device No.:"));
    QCOMPARE(u.label_2->text(), QStringLiteral("MAC address:"));
    QCOMPARE(u.label_4->text(), QStringLiteral("Audio version:"));
    QCOMPARE(u.label_3->text(), QStringLiteral("Device version:"));
    QCOMPARE(u.status->text(), QStringLiteral("Ready"));
    QCOMPARE(u.burn->text(), QStringLiteral("Start"));
    QCOMPARE(u.tabWidget->tabText(0), QStringLiteral("Operation"));
    QCOMPARE(u.label_5->text(), QStringLiteral("Firmware path:"));
    QCOMPARE(u.label_6->text(), QStringLiteral("Audio path:"));
    QCOMPARE(u.tabWidget->tabText(1), QStringLiteral("Settings"));
    QCOMPARE(u.tabWidget->tabText(2), QStringLiteral("Log"));
    QVERIFY(f.dialog.windowTitle().startsWith(QStringLiteral("KV20 ")));
    QVERIFY(f.dialog.windowTitle().endsWith(QStringLiteral(" V1.0.0")));

    const QStringList shown = {
        f.dialog.windowTitle(), u.path_fw->placeholderText(), u.path_fs->placeholderText(),
        u.choose_fw->text(), u.choose_fs->text(),
    };
    for (const QString &text : shown) {
        QVERIFY2(!text.isEmpty(), "empty text after translation");
        QVERIFY2(!containsChinese(text), qPrintable(text));
    }
    QVERIFY(u.path_fw->placeholderText() != u.path_fs->placeholderText());

    // Removing the catalogue and retranslating brings back the originals.
    QCoreApplication::removeTranslator(&catalogue);
    f.ui.retranslateUi(&f.dialog);
    QCOMPARE(u.status->text(), QStringLiteral("就绪"));
    QCOMPARE(u.tabWidget->tabText(2), QStringLiteral("日志"));
}

void TestForm::catalogueKeepsFileFilterUsable()
{
    QTranslator catalogue;
    QVERIFY(catalogue.load(catalogueQmPath()));
    InstalledTranslator installed(&catalogue);

    const QString caption = QCoreApplication::translate("Dialog", kChooserCaption.toUtf8().constData());
    QVERIFY(!caption.isEmpty());
    QVERIFY(!containsChinese(caption));

    const QString filter = QCoreApplication::translate("Dialog", kChooserFilter.toUtf8().constData());
    QVERIFY(!filter.isEmpty());
    // The file dialog's own filter syntax: "name (pattern pattern ...)".
    const QRegularExpression syntax(QStringLiteral(
        "^(.*)\\(([a-zA-Z0-9_.,*? +;#\\-\\[\\]@\\{\\}/!<>\\$%&=^~:\\|]*)\\)$"));
    for (const QString &f : {kChooserFilter, filter}) {
        const QRegularExpressionMatch m = syntax.match(f);
        QVERIFY2(m.hasMatch(), qPrintable(f));
        QCOMPARE(m.captured(2).simplified().split(QLatin1Char(' ')),
                 QStringList({"*.img", "*.bin"}));
    }
}

void TestForm::tsMessagesFinished()
{
    QVector<TsMessage> messages;
    QString error;
    QVERIFY2(readTs(catalogueTsPath(), &messages, &error), qPrintable(error));
    QVERIFY(!messages.isEmpty());
    for (const TsMessage &m : messages) {
        QCOMPARE(m.context, QStringLiteral("Dialog"));
        QVERIFY2(!m.source.isEmpty(), "message without source");
        QVERIFY2(!m.translation.trimmed().isEmpty(), qPrintable(m.source));
        QVERIFY2(m.translationType.isEmpty(),
                 qPrintable(m.source + QStringLiteral(": ") + m.translationType));
        QVERIFY2(!containsChinese(m.translation), qPrintable(m.translation));
    }
}

void TestForm::tsCoversExactlyTranslatedTexts()
{
    QVector<TsMessage> messages;
    QString error;
    QVERIFY2(readTs(catalogueTsPath(), &messages, &error), qPrintable(error));

    QStringList sources;
    for (const TsMessage &m : messages)
        sources << m.source;
    QCOMPARE(sources.removeDuplicates(), 0);

    // What the form actually asks for at run time.
    Form f;
    RecordingTranslator recorder;
    {
        InstalledTranslator installed(&recorder);
        recorder.calls.clear();
        f.ui.retranslateUi(&f.dialog);
    }
    QSet<QString> expected;
    for (const auto &call : recorder.calls)
        expected.insert(call.second);
    QVERIFY(!expected.isEmpty());
    expected.insert(kChooserCaption);
    expected.insert(kChooserFilter);

    QSet<QString> present;
    for (const QString &s : sources)
        present.insert(s);
    for (const QString &s : expected)
        QVERIFY2(present.contains(s), qPrintable(QStringLiteral("missing: ") + s));
    for (const QString &s : present)
        QVERIFY2(expected.contains(s), qPrintable(QStringLiteral("not used: ") + s));
}

void TestForm::catalogueMatchesTs()
{
    QVector<TsMessage> messages;
    QString error;
    QVERIFY2(readTs(catalogueTsPath(), &messages, &error), qPrintable(error));
    QTranslator catalogue;
    QVERIFY(catalogue.load(catalogueQmPath()));
    for (const TsMessage &m : messages) {
        const QString got = catalogue.translate(m.context.toUtf8().constData(),
                                                m.source.toUtf8().constData());
        QCOMPARE(got, m.translation);
    }
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
