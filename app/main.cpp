#include "app/dialog.h"
#include "resources/resources.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // Whoever reads the window's trace wants each layer's text as written
    // (sync try= 3), not behind the category Qt's default pattern puts first;
    // kv20-cli --trace keeps the category, to tell the layers it was asked
    // for apart. A QT_MESSAGE_PATTERN that is set still decides.
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{message}"));
    kv20_register_resources();
    int code = 0;
    {
        QApplication app(argc, argv);
        kv20_install_texts(app);

        // Owned here so that closing the window stops the worker and closes
        // the port before the process ends.
        Dialog dialog(nullptr);
        dialog.show();
        code = app.exec();
    }
    kv20_unregister_resources();
    return code;
}
