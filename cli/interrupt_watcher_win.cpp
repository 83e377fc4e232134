#include "cli/interrupt_watcher.h"

#include <QMetaObject>

#include <windows.h>

#include <atomic>

// The console control handler runs on a thread of its own; it hands the event
// to the watcher's thread and tells Windows the event was handled.
namespace {
std::atomic<InterruptWatcher *> watcher {nullptr};

BOOL WINAPI on_console_event(DWORD event)
{
    InterruptWatcher *target = watcher.load();
    if (!target)
        return FALSE;
    const int exit_code = event == CTRL_C_EVENT ? 130 : 143;
    QMetaObject::invokeMethod(target, [target, exit_code] { emit target->interrupted(exit_code); },
                              Qt::QueuedConnection);
    // A console close ends the process once this returns; give the cancel a
    // moment to reach the modules first.
    if (event == CTRL_CLOSE_EVENT)
        Sleep(2000);
    return TRUE;
}
} // namespace

struct InterruptWatcher::Platform
{
};

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
    , platform(new Platform)
{
    watcher.store(this);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

InterruptWatcher::~InterruptWatcher()
{
    SetConsoleCtrlHandler(on_console_event, FALSE);
    watcher.store(nullptr);
    delete platform;
}
