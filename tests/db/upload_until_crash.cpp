// kv20-cli upload that ends the process at one point of the upload, as a
// power loss would there: no commit, or no saved position, nothing flushed
// on the way out. Usage: kv20-test-upload-crash POINT upload --db URL ...
#include "cli/command_line.h"
#include "db/journal_upload.h"

#include <QCoreApplication>

#include <cstdlib>
#include <cstring>

namespace {

const char *crash_at = "";

void crash_here(const char *where)
{
    if (std::strcmp(where, crash_at) == 0)
        std::_Exit(99);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    crash_at = argv[1];
    journal_upload_checkpoint = crash_here;
    QStringList arguments = app.arguments();
    arguments.removeAt(1);
    return run_cli(arguments);
}
