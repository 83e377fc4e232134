#include "resources.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

// Q_INIT_RESOURCE / Q_CLEANUP_RESOURCE must be used outside any namespace;
// the name is the base name of kv20.qrc.

void kv20_register_resources()
{
    Q_INIT_RESOURCE(kv20);
}

void kv20_unregister_resources()
{
    Q_CLEANUP_RESOURCE(kv20);
}

bool kv20_install_texts(QApplication &app)
{
    // The form names its face as a Chinese system lists it, 黑体. Where it is
    // known only by its English name, or missing, Qt would take the first
    // face it has, which may be a math face whose line height makes every
    // field twice as tall.
    QFont::insertSubstitutions(QStringLiteral("黑体"), {QStringLiteral("SimHei"), QStringLiteral("Microsoft YaHei"),
                                                       QStringLiteral("WenQuanYi Micro Hei")});
    auto *translator = new QTranslator(&app);
    const bool english = translator->load(QStringLiteral("qt_en"));
    app.installTranslator(translator);
    return english;
}

static void init_chinese_bundle()
{
    Q_INIT_RESOURCE(kv20_zh);
}

void kv20_install_chinese_catalogues(QObject *owner)
{
    static const bool registered = (init_chinese_bundle(), true);
    Q_UNUSED(registered);
    auto *pages = new QTranslator(owner);
    if (pages->load(QStringLiteral(":/kv20/i18n/report_zh_CN.qm")))
        QCoreApplication::installTranslator(pages);
    // Beside the programs in the Windows zip and MSI; Qt's own folder on
    // Linux (Debian's qttranslations5-l10n).
    auto *qt = new QTranslator(owner);
    for (const QString &folder : {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                                  QLibraryInfo::location(QLibraryInfo::TranslationsPath)}) {
        if (qt->load(QStringLiteral("qtbase_zh_CN"), folder)) {
            QCoreApplication::installTranslator(qt);
            break;
        }
    }
}

void kv20_install_station_texts(QApplication &app)
{
    if (!kv20_install_texts(app))
        kv20_install_chinese_catalogues(&app);
}
