#include "tests/station/x_bells.h"

#include <X11/XKBlib.h>

XBells::XBells()
{
    display = XOpenDisplay(nullptr);
    if (!display)
        return;
    int opcode = 0, error_base = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event_base, &error_base, &major, &minor)) {
        XCloseDisplay(display);
        display = nullptr;
        return;
    }
    XkbSelectEvents(display, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
    marker = XInternAtom(display, "KV20_TEST_MARKER", False);
    XSync(display, False);
}

XBells::~XBells()
{
    if (display)
        XCloseDisplay(display);
}

int XBells::read_events(bool stop_at_marker)
{
    while (XPending(display)) {
        XkbEvent event;
        XNextEvent(display, &event.core);
        if (event.type != event_base || event.any.xkb_type != XkbBellNotify)
            continue;
        if (event.bell.name != marker)
            ++count;
        else if (stop_at_marker)
            break;
    }
    return count;
}

int XBells::heard()
{
    return read_events(false);
}

int XBells::heard_before_marker()
{
    XkbBell(display, 0, 0, marker);
    XSync(display, False);
    return read_events(true);
}
