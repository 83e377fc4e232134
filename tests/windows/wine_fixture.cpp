// Windows-side fixture of tests/windows/wine_checks.sh, cross-built and run
// in the test's wine prefix. One subcommand per piece of set-up:
//
//   wine_fixture add-port INSTANCE_ID "FRIENDLY NAME"
//       registers a present USB serial device (Ports class) with that device
//       instance id and friendly name, and its COM-port interface, the way a
//       driver install leaves them, so that the product's Setup API walk
//       finds it.
//
//   wine_fixture hold-open FILE
//       opens FILE sharing it for reading only, as a spreadsheet that shows
//       it does, says "held" and keeps it open until standard input ends.
//
//   wine_fixture shortcut FILE.lnk
//       prints the shortcut's target and its working directory, one a line,
//       as the shell reads them when the operator starts it.
//
// Exit status 0 when the set-up is in place; otherwise the failing call and
// its error on stderr, exit 1.
#include <windows.h>

#include <setupapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>

namespace {

// GUID_DEVINTERFACE_COMPORT and GUID_DEVCLASS_PORTS, spelled out so that no
// GUID library is needed.
const GUID com_port_interface = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
const GUID ports_class = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

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

int add_port(const wchar_t *instance_id, const wchar_t *friendly_name)
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

int hold_open(const wchar_t *path)
{
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
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
    if (argc == 4 && std::wcscmp(argv[1], L"add-port") == 0)
        return add_port(argv[2], argv[3]);
    if (argc == 3 && std::wcscmp(argv[1], L"hold-open") == 0)
        return hold_open(argv[2]);
    if (argc == 3 && std::wcscmp(argv[1], L"shortcut") == 0)
        return shortcut(argv[2]);
    std::fprintf(stderr, "usage: wine_fixture add-port INSTANCE_ID \"FRIENDLY NAME\" | hold-open FILE | shortcut FILE.lnk\n");
    return 2;
}
