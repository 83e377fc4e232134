// kv20-station: line mode in a window, for operators who never open a
// console: a tile per USB slot, the shift's counters, a recipe they cannot
// change.
#include "resources/resources.h"
#include "station/station.h"
#include "station/station_window.h"
#include "trace/trace_option.h"

#include <QApplication>
#include <QTextCodec>

int main(int argc, char **argv)
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QApplication app(argc, argv);
    // The same face and catalogue as the window's, found the same way; in
    // Chinese, Qt's own buttons and the report page as well.
    kv20_install_station_texts(app);

    // kv20-station [--trace LAYER[,LAYER]] [RECIPE]: without --trace, no
    // layer's trace at all (discovery alone would write several lines a
    // second to a console nobody reads).
    QStringList arguments = app.arguments().mid(1);
    QString layers;
    const int trace = arguments.indexOf(QStringLiteral("--trace"));
    if (trace >= 0 && trace + 1 < arguments.size()) {
        layers = arguments.takeAt(trace + 1);
        arguments.removeAt(trace);
    }
    const QString title = QCoreApplication::translate("StationWindow", "KV20 工位");
    QString rules, error;
    if (!trace_rules(layers, &rules, &error)) {
        plain_message(nullptr, QMessageBox::Critical, title, error);
        return 2;
    }
    apply_trace_rules(rules);
    const QString recipe = arguments.value(0, QStringLiteral("station.ini"));
    std::unique_ptr<Station> station = Station::open(recipe, &error);
    if (!station) {
        // The recipe's path and values are shown as written.
        plain_message(nullptr, QMessageBox::Critical, title, error);
        return 2;
    }
    station->start();
    return app.exec();
}
