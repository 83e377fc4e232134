#include "discovery/com_port_walk_win.h"

#include "discovery/usb_slot_win.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <dbt.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <cstddef>
#include <cwchar>
#include <memory>

namespace kv20 {
namespace {

// GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73}, spelled
// out so that no GUID library has to be linked for one constant.
const GUID com_port_interface_class = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

// DEVPKEY_Device_LocationPaths, the property SPDRP_LOCATION_PATHS names,
// asked through the property store: Windows answers both ways, wine's Setup
// API only this one.
const DEVPROPKEY location_paths_key = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 37};

// The COM port itself, the interface of a composite device (MI_xx) and the
// USB device above it: a position is found within these.
constexpr int location_levels = 3;

// A device's size may change between the size query and the read (a
// reinstall renaming the port); a few rounds settle it.
constexpr int size_query_rounds = 3;

struct DeviceInfoSet
{
    HDEVINFO handle;
    ~DeviceInfoSet()
    {
        if (handle != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(handle);
    }
};

bool read_string_property(HDEVINFO set, SP_DEVINFO_DATA *device, DWORD property, std::wstring *value)
{
    DWORD required = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, nullptr, 0, &required)
        || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    for (int round = 0; round < size_query_rounds; ++round) {
        // One spare character so that an unterminated value still ends.
        const DWORD chars = required / sizeof(wchar_t) + 1;
        std::unique_ptr<wchar_t[]> buffer(new wchar_t[chars]());
        DWORD type = 0;
        if (SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, reinterpret_cast<BYTE *>(buffer.get()),
                                              (chars - 1) * sizeof(wchar_t), &required)) {
            if (type != REG_SZ && type != REG_EXPAND_SZ)
                return false;
            value->assign(buffer.get(), wcsnlen(buffer.get(), chars));
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
    }
    return false;
}

bool read_device_path(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *interface_data, std::wstring *path)
{
    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailW(set, interface_data, nullptr, 0, &required, nullptr)
        || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    const std::size_t path_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    for (int round = 0; round < size_query_rounds; ++round) {
        if (required < path_offset + sizeof(wchar_t))
            return false;
        // Storage of 8-byte units keeps the record correctly aligned.
        std::unique_ptr<std::uint64_t[]> storage(new std::uint64_t[(required + 7) / 8]());
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(storage.get());
        // The header size of this build's own architecture (8 on x64, 6 on
        // 32-bit x86); the system rejects any other value.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        const DWORD offered = required;
        if (SetupDiGetDeviceInterfaceDetailW(set, interface_data, detail, offered, &required, nullptr)) {
            const std::size_t chars = (offered - path_offset) / sizeof(wchar_t);
            path->assign(detail->DevicePath, wcsnlen(detail->DevicePath, chars));
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
    }
    return false;
}

// Every string of the device's location paths; none when it has none.
std::vector<std::wstring> read_location_paths(HDEVINFO set, SP_DEVINFO_DATA *device)
{
    std::vector<std::wstring> paths;
    DEVPROPTYPE type = 0;
    DWORD required = 0;
    if (SetupDiGetDevicePropertyW(set, device, &location_paths_key, &type, nullptr, 0, &required, 0)
        || GetLastError() != ERROR_INSUFFICIENT_BUFFER || type != DEVPROP_TYPE_STRING_LIST)
        return paths;
    // Two spare characters so that an unterminated list still ends.
    const DWORD chars = required / sizeof(wchar_t) + 2;
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[chars]());
    if (!SetupDiGetDevicePropertyW(set, device, &location_paths_key, &type, reinterpret_cast<BYTE *>(buffer.get()),
                                   (chars - 2) * sizeof(wchar_t), &required, 0))
        return paths;
    for (const wchar_t *p = buffer.get(); *p; p += wcslen(p) + 1)
        paths.emplace_back(p);
    return paths;
}

// The slot of the device, else of the devices above it: an interface of a
// composite device leaves its position to the USB device it belongs to.
std::wstring read_slot(HDEVINFO set, SP_DEVINFO_DATA device)
{
    DeviceInfoSet above{SetupDiCreateDeviceInfoList(nullptr, nullptr)};
    for (int level = 0; level < location_levels; ++level) {
        std::wstring slot = slot_from_location_paths(read_location_paths(set, &device));
        std::wstring information;
        if (slot.empty() && read_string_property(set, &device, SPDRP_LOCATION_INFORMATION, &information))
            slot = slot_from_location_information(information);
        if (!slot.empty())
            return slot;
        DEVINST parent = 0;
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        SP_DEVINFO_DATA next = {};
        next.cbSize = sizeof next;
        if (above.handle == INVALID_HANDLE_VALUE || CM_Get_Parent(&parent, device.DevInst, 0) != CR_SUCCESS
            || CM_Get_Device_IDW(parent, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS
            || !SetupDiOpenDeviceInfoW(above.handle, id, nullptr, 0, &next))
            break;
        set = above.handle;
        device = next;
    }
    return std::wstring();
}

} // namespace

std::vector<WinComPortInterface> list_present_com_port_interfaces()
{
    std::vector<WinComPortInterface> ports;
    DeviceInfoSet set{SetupDiGetClassDevsW(&com_port_interface_class, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
    if (set.handle == INVALID_HANDLE_VALUE)
        return ports;

    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set.handle, index, &device))
            break;

        WinComPortInterface port;
        if (!read_string_property(set.handle, &device, SPDRP_FRIENDLYNAME, &port.name)
            && !read_string_property(set.handle, &device, SPDRP_DEVICEDESC, &port.name))
            port.name.clear();
        port.slot = read_slot(set.handle, device);

        SP_DEVICE_INTERFACE_DATA interface_data = {};
        interface_data.cbSize = sizeof interface_data;
        if (!SetupDiEnumDeviceInterfaces(set.handle, nullptr, &com_port_interface_class, index, &interface_data))
            break;
        if (!read_device_path(set.handle, &interface_data, &port.device_path))
            break;
        ports.push_back(std::move(port));
    }
    return ports;
}

bool decode_device_change_message(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                                  std::uint32_t *event_code, bool *volume_with_zero_flags)
{
    if (message != WM_DEVICECHANGE)
        return false;
    *event_code = static_cast<std::uint32_t>(wparam);
    *volume_with_zero_flags = false;
    if (*event_code == DBT_DEVICEREMOVECOMPLETE && lparam != 0) {
        const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(lparam);
        // The flags are read only when the record says it is long enough to
        // hold them; a short record is not a volume we can judge.
        const std::size_t flags_end = offsetof(DEV_BROADCAST_VOLUME, dbcv_flags) + sizeof(WORD);
        if (header->dbch_devicetype == DBT_DEVTYP_VOLUME && header->dbch_size >= flags_end) {
            const auto *volume = reinterpret_cast<const DEV_BROADCAST_VOLUME *>(lparam);
            *volume_with_zero_flags = volume->dbcv_flags == 0;
        }
    }
    return true;
}

} // namespace kv20
