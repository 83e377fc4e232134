// kv20-station: line mode in a window, for operators who never open a
// console: a tile per USB slot, the shift's counters, a recipe they cannot
// change.
#include "station/station.h"
#include "station/station_window.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QTextCodec>
#include <QTranslator>

int main(int argc, char **argv)
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QApplication app(argc, argv);
    QFont::insertSubstitutions(QStringLiteral("黑体"), {QStringLiteral("SimHei"), QStringLiteral("Microsoft YaHei"),
                                                       QStringLiteral("WenQuanYi Micro Hei")});
    // The same catalogue as the window's, found the same way.
    QTranslator translator;
    translator.load(QStringLiteral("qt_en"));
    app.installTranslator(&translator);

    const QString recipe = app.arguments().value(1, QStringLiteral("station.ini"));
    QString error;
    std::unique_ptr<Station> station = Station::open(recipe, &error);
    if (!station) {
        QMessageBox::critical(nullptr, QCoreApplication::translate("StationWindow", "KV20 工位"), error);
        return 2;
    }
    station->start();
    return app.exec();
}
