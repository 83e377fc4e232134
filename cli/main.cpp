// kv20-cli: the window's operations without a window, on one module or on
// several at once, each on its own worker thread; the commands are those of
// the command table (cli/command_table.cpp).
#include "cli/command_line.h"
#include "cli/terminal.h"

#include <QCoreApplication>
#include <QTextCodec>

int main(int argc, char **argv)
{
    // The same codec as the window: command-line paths, file names and the
    // output are UTF-8 even where the process's locale says otherwise.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QCoreApplication app(argc, argv);
    // A reader that goes away (`kv20-cli ... | head`) fails a write instead
    // of ending the process while modules are still receiving.
    ignore_broken_pipe();
    return run_cli(app.arguments());
}
