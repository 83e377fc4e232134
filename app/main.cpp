#include "app/dialog.h"
#include "resources/resources.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char **argv)
{
    kv20_register_resources();
    int code = 0;
    {
        QApplication app(argc, argv);
        QTranslator translator;
        translator.load(QStringLiteral("qt_en"));
        app.installTranslator(&translator);

        // Owned here so that closing the window stops the worker and closes
        // the port before the process ends.
        Dialog dialog(nullptr);
        dialog.show();
        code = app.exec();
    }
    kv20_unregister_resources();
    return code;
}
