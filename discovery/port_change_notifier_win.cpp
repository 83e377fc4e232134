#include "discovery/port_change_notifier.h"

#include "discovery/discovery_log.h"

#include <windows.h>

#include <dbt.h>

namespace {

// GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73}.
const GUID com_port_interface_class = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
const wchar_t window_class_name[] = L"kv20PortChangeNotifier";

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_DEVICECHANGE && (wparam == DBT_DEVICEARRIVAL || wparam == DBT_DEVICEREMOVECOMPLETE)) {
        auto *notifier = reinterpret_cast<PortChangeNotifier *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        // Signals are public in Qt 5; the window belongs to the notifier's
        // thread, so this runs there.
        if (notifier)
            emit notifier->ports_changed();
        return TRUE;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace

struct PortChangeNotifier::Private
{
    HWND window = nullptr;
    HDEVNOTIFY registration = nullptr;
};

PortChangeNotifier::PortChangeNotifier(QObject *parent)
    : QObject(parent)
    , d(new Private)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = window_class_name;
    // A second notifier finds the class registered already.
    if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        qCWarning(discovery_log) << "port changes: window class not registered, error" << GetLastError();
        return;
    }
    d->window = CreateWindowExW(0, window_class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!d->window) {
        qCWarning(discovery_log) << "port changes: no message window, error" << GetLastError();
        return;
    }
    SetWindowLongPtrW(d->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = com_port_interface_class;
    d->registration = RegisterDeviceNotificationW(d->window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!d->registration)
        qCWarning(discovery_log) << "port changes: not registered for COM port notifications, error" << GetLastError();
}

PortChangeNotifier::~PortChangeNotifier()
{
    if (d->registration)
        UnregisterDeviceNotification(d->registration);
    if (d->window)
        DestroyWindow(d->window);
    delete d;
}

bool PortChangeNotifier::listening() const
{
    return d->registration != nullptr;
}
