// kv20-station: line mode in a window, for operators who never open a
// console: a tile per USB slot, the shift's counters, a recipe they cannot
// change.
#include "resources/resources.h"
#include "station/station.h"
#include "station/station_window.h"

#include <QApplication>
#include <QTextCodec>

int main(int argc, char **argv)
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QApplication app(argc, argv);
    // The same face and catalogue as the window's, found the same way.
    kv20_install_texts(app);

    const QString recipe = app.arguments().value(1, QStringLiteral("station.ini"));
    QString error;
    std::unique_ptr<Station> station = Station::open(recipe, &error);
    if (!station) {
        // The recipe's path and values are shown as written.
        plain_message(nullptr, QMessageBox::Critical, QCoreApplication::translate("StationWindow", "KV20 工位"), error);
        return 2;
    }
    station->start();
    return app.exec();
}
