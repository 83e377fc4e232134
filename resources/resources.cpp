#include "resources.h"

#include <QApplication>
#include <QFont>
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

void kv20_install_texts(QApplication &app)
{
    // The form names its face as a Chinese system lists it, 黑体. Where it is
    // known only by its English name, or missing, Qt would take the first
    // face it has, which may be a math face whose line height makes every
    // field twice as tall.
    QFont::insertSubstitutions(QStringLiteral("黑体"), {QStringLiteral("SimHei"), QStringLiteral("Microsoft YaHei"),
                                                       QStringLiteral("WenQuanYi Micro Hei")});
    auto *translator = new QTranslator(&app);
    translator->load(QStringLiteral("qt_en"));
    app.installTranslator(translator);
}
