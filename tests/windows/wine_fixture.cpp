// Windows-side fixture of tests/windows/wine_checks.sh, cross-built and run
// in the test's wine prefix. One subcommand per piece of set-up:
//
//   wine_fixture add-port INSTANCE_ID "FRIENDLY NAME" [LOCATION]
//       registers a present USB serial device (Ports class) with that device
//       instance id and friendly name, and its COM-port interface, the way a
//       driver install leaves them, so that the product's Setup API walk
//       finds it. LOCATION is where it is plugged in: its location paths
//       (PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)#USBMI(2)), or its
//       location information (Port_#0004.Hub_#0001).
//
//   wine_fixture hold-open FILE [read|read-write]
//       opens FILE for reading, sharing it for reading only, as a spreadsheet
//       that shows it does, or with read-write for reading and writing but
//       not deleting, as Qt's QFile and the C runtime's fopen do; says "held"
//       and keeps it open until standard input ends.
//
//   wine_fixture close-window TITLE
//       asks the top-level window of that title to close, as its close box
//       does (WM_CLOSE to that window alone).
//
//   wine_fixture shortcut FILE.lnk
//       prints the shortcut's target and its working directory, one a line,
//       as the shell reads them when the operator starts it.
//
// Exit status 0 when the set-up is in place; otherwise the failing call and
// its error on stderr, exit 1.
#include <windows.h>

#include <devpropdef.h>
#include <setupapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>

// In setupapi.dll and MinGW's import library since Vista, but not in its header.
extern "C" WINSETUPAPI BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY *,
                                                               DEVPROPTYPE, const BYTE *, DWORD, DWORD);

namespace {

// GUID_DEVINTERFACE_COMPORT and GUID_DEVCLASS_PORTS, spelled out so that no
// GUID library is needed.
const GUID com_port_interface = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
const GUID ports_class = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// DEVPKEY_Device_LocationPaths. Windows keeps it for the bus driver alone;
// wine's Setup API neither sets nor reads SPDRP_LOCATION_PATHS, but keeps
// this property in the device's registry key like any other.
const DEVPROPKEY location_paths_key = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 37};

int failed(const char *call)
{
    std::fprintf(stderr, "wine_fixture: %s failed, error %lu\n", call, GetLastError());
    return 1;
}

// What a driver's IoSetDeviceInterfaceState(TRUE) leaves: Control\Linked = 1
// under the interface's key. The Setup API counts an interface as present
// (DIGCF_PRESENT) only with it.
int link_interface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *interface_data)
{
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
        wchar_t storage[512];
    } buffer = {};
    buffer.detail.cbSize = sizeof buffer.detail;
    if (!SetupDiGetDeviceInterfaceDetailW(set, interface_data, &buffer.detail, sizeof buffer, nullptr, nullptr))
        return failed("SetupDiGetDeviceInterfaceDetail");
    // \\?\usb#... is kept under DeviceClasses\{class}\##?#usb#...\#
    const wchar_t *path = buffer.detail.DevicePath;
    if (std::wcsncmp(path, L"\\\\?\\", 4) != 0)
        return failed("device path without \\\\?\\");
    wchar_t key_name[600];
    std::swprintf(key_name, 600,
                  L"System\\CurrentControlSet\\Control\\DeviceClasses\\"
                  L"{86E0D1E0-8089-11D0-9CE4-08003E301F73}\\##?#%ls\\#\\Control", path + 4);
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_name, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr))
        return failed("RegCreateKeyEx Control");
    const DWORD linked = 1;
    const LONG error = RegSetValueExW(key, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&linked), sizeof linked);
    RegCloseKey(key);
    return error ? failed("RegSetValueEx Linked") : 0;
}

// Location information (Port_#...) as the USB hub driver sets it; else the
// location paths, a list of one string.
bool set_location(HDEVINFO set, SP_DEVINFO_DATA *device, const wchar_t *location)
{
    const DWORD bytes = DWORD((std::wcslen(location) + 1) * sizeof(wchar_t));
    if (std::wcsncmp(location, L"Port_#", 6) == 0)
        return SetupDiSetDeviceRegistryPropertyW(set, device, SPDRP_LOCATION_INFORMATION,
                                                 reinterpret_cast<const BYTE *>(location), bytes);
    wchar_t list[1024] = {};
    if (bytes + sizeof(wchar_t) > sizeof list)
        return false;
    std::wcscpy(list, location);
    return SetupDiSetDevicePropertyW(set, device, &location_paths_key, DEVPROP_TYPE_STRING_LIST,
                                     reinterpret_cast<const BYTE *>(list), bytes + sizeof(wchar_t), 0);
}

int add_port(const wchar_t *instance_id, const wchar_t *friendly_name, const wchar_t *location)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&ports_class, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return failed("SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    int status = 0;
    if (!SetupDiCreateDeviceInfoW(set, instance_id, &ports_class, nullptr, nullptr, 0, &device))
        status = failed("SetupDiCreateDeviceInfo");
    else if (!SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr))
        status = failed("SetupDiRegisterDeviceInfo");
    else if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME,
                                                reinterpret_cast<const BYTE *>(friendly_name),
                                                DWORD((std::wcslen(friendly_name) + 1) * sizeof(wchar_t))))
        status = failed("SetupDiSetDeviceRegistryProperty");
    else if (location && !set_location(set, &device, location))
        status = failed("setting the location");
    else {
        SP_DEVICE_INTERFACE_DATA interface_data = {};
        interface_data.cbSize = sizeof interface_data;
        if (!SetupDiCreateDeviceInterfaceW(set, &device, &com_port_interface, nullptr, 0, &interface_data))
            status = failed("SetupDiCreateDeviceInterface");
        else
            status = link_interface(set, &interface_data);
    }
    SetupDiDestroyDeviceInfoList(set);
    return status;
}

int hold_open(const wchar_t *path, DWORD sharing)
{
    const HANDLE file = CreateFileW(path, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failed("CreateFile");
    std::printf("held\n");
    std::fflush(stdout);
    char byte;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) && got > 0) {
    }
    CloseHandle(file);
    return 0;
}

int close_window(const wchar_t *title)
{
    const HWND window = FindWindowW(nullptr, title);
    if (!window)
        return failed("FindWindow");
    return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : failed("PostMessage WM_CLOSE");
}

int shortcut(const wchar_t *path)
{
    IShellLinkW *link = nullptr;
    IPersistFile *file = nullptr;
    wchar_t target[MAX_PATH] = {}, folder[MAX_PATH] = {};
    const bool read = SUCCEEDED(CoInitialize(nullptr))
        && SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      reinterpret_cast<void **>(&link)))
        && SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))
        && SUCCEEDED(file->Load(path, STGM_READ)) && SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, 0))
        && SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH));
    if (!read)
        return failed("reading the shortcut");
    std::printf("%ls\n%ls\n", target, folder);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if ((argc == 4 || argc == 5) && std::wcscmp(argv[1], L"add-port") == 0)
        return add_port(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    if (argc == 3 && std::wcscmp(argv[1], L"hold-open") == 0)
        return hold_open(argv[2], FILE_SHARE_READ);
    if (argc == 4 && std::wcscmp(argv[1], L"hold-open") == 0 && std::wcscmp(argv[3], L"read") == 0)
        return hold_open(argv[2], FILE_SHARE_READ);
    if (argc == 4 && std::wcscmp(argv[1], L"hold-open") == 0 && std::wcscmp(argv[3], L"read-write") == 0)
        return hold_open(argv[2], FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (argc == 3 && std::wcscmp(argv[1], L"close-window") == 0)
        return close_window(argv[2]);
    if (argc == 3 && std::wcscmp(argv[1], L"shortcut") == 0)
        return shortcut(argv[2]);
    std::fprintf(stderr, "usage: wine_fixture add-port INSTANCE_ID \"FRIENDLY NAME\" [LOCATION] | hold-open FILE [read|read-write] | close-window TITLE | shortcut FILE.lnk\n");
    return 2;
}
