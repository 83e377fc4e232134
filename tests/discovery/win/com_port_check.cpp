// Qt-free check of the Windows discovery layer, cross-built and run under wine
// by .ci/windows-cross.sh: the identity rules on the wide strings the Setup API
// delivers, slot names from USB locations, WM_DEVICECHANGE decoding, and a
// walk of the present COM ports.
// Exit status 0: every check held.
#include "discovery/com_port_walk_win.h"
#include "discovery/module_port_rules.h"
#include "discovery/usb_slot_win.h"

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;
#define CHECK(c) do { if (!(c)) { ++failures; std::printf("FAIL line %d: %s\n", __LINE__, #c); } } while (0)

struct NoTrace
{
    void seen(const std::wstring &) {}
    void matched(const char *, const std::wstring &, const std::wstring &) {}
};

std::wstring usb_path(const wchar_t *ids)
{
    return std::wstring(L"\\\\?\\usb#") + ids + L"#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
}

} // namespace

int main()
{
#ifdef _WIN64
    // The detail record's header as this architecture's Setup API expects it.
    static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "64-bit detail header is 8 bytes");
#endif
    // The rules are tested row by row on QString; here they must hold on std::wstring.
    const std::vector<kv20::WinComPortInterface> listed{
        {usb_path(L"vid_3505&pid_0001&mi_02#7&11aa&0&0002"), L"KV20 AT Port (COM9)"},
        {usb_path(L"vid_1a86&pid_7523#5&3a2b&0&2"), L"USB-SERIAL CH340 (COM3)"},
        {usb_path(L"VID_3505&PID_0001&MI_02#7&11aa&0&0002"), L"Capitals (COM4)"},
        {usb_path(L"vid_19d1&pid_0001&mi_06#6&2f0a1b&0&0006"), L"Modem (COM12) (2)"},
        {usb_path(L"vid_3505&pid_0001&mi_02#7&11aa&0&0002"), L"No port name"},
    };
    std::vector<std::wstring> ports;
    NoTrace trace;
    CHECK(kv20::collect_module_ports_with(listed, &ports, trace));
    CHECK((ports == std::vector<std::wstring>{L"COM9", L"COM12"}));

    // Location paths, location information; the slot. A socket keeps its
    // name whichever interface or module is in it; what is no USB socket
    // has none.
    const struct { std::vector<std::wstring> paths; const wchar_t *information, *slot; } locations[] = {
        {{L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)#USBMI(2)"}, L"", L"1-4"},
        {{L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)#USBMI(0)"}, L"", L"1-4"},
        {{L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)"}, L"Port_#0004.Hub_#0001", L"1-4"},
        {{L"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS04)",
          L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(12)#USB(3)#USB(02)#USBMI(2)"}, L"", L"12-3-2"},
        {{L"PCIROOT(0)#PCI(1C00)#PCI(0000)"}, L"PCI bus 2, device 0, function 0", L""},
        {{L"PCIROOT(0)#PCI(1400)#USBROOT(0)"}, L"", L""},
        {{L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(x)"}, L"", L""},
        {{L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1"}, L"", L""},
        {{}, L"Port_#0004.Hub_#0001", L"hub1-4"},
        {{}, L"Port_#0010.Hub_#0012", L"hub12-10"},
        {{}, L"0000.0014.0000.001.004.000.000.000.000", L""},
        {{}, L"Port_#0004.Hub_#0001 (2)", L""},
        {{}, L"Port_#.Hub_#0001", L""},
        {{}, L"", L""},
    };
    for (const auto &l : locations) {
        std::wstring slot = kv20::slot_from_location_paths(l.paths);
        if (slot.empty())
            slot = kv20::slot_from_location_information(l.information);
        if (slot != l.slot) {
            ++failures;
            std::printf("FAIL slot of \"%ls\" / \"%ls\": \"%ls\", wanted \"%ls\"\n",
                        l.paths.empty() ? L"" : l.paths.back().c_str(), l.information, slot.c_str(), l.slot);
        }
    }

    DEV_BROADCAST_VOLUME volume = {sizeof(DEV_BROADCAST_VOLUME), DBT_DEVTYP_VOLUME, 0, 1u << 4, 0};
    DEV_BROADCAST_VOLUME media = volume, too_short = volume;
    media.dbcv_flags = DBTF_MEDIA;
    too_short.dbcv_size = sizeof(DEV_BROADCAST_HDR);
    DEV_BROADCAST_PORT_W port = {};
    port.dbcp_size = sizeof port;
    port.dbcp_devicetype = DBT_DEVTYP_PORT;
    // Message, event, broadcast record; then: handled, event code, a volume with flags 0.
    const struct {
        unsigned message; std::uintptr_t event; const void *record; bool handled; std::uint32_t code; bool volume;
    } messages[] = {
        {WM_PAINT, DBT_DEVICEARRIVAL, nullptr, false, 0, false},
        {WM_DEVICECHANGE, DBT_DEVICEARRIVAL, nullptr, true, 0x8000, false},
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &volume, true, 0x8004, true},
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &media, true, 0x8004, false},
        {WM_DEVICECHANGE, DBT_DEVICEARRIVAL, &volume, true, 0x8000, false}, // flags judged on removal only
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &too_short, true, 0x8004, false},
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &port, true, 0x8004, false}, // not a volume
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, nullptr, true, 0x8004, false},
        {WM_DEVICECHANGE, DBT_DEVICETYPESPECIFIC, nullptr, true, 0x8005, false},
    };
    for (const auto &m : messages) {
        std::uint32_t code = 0;
        bool is_volume = false;
        const bool handled = kv20::decode_device_change_message(m.message, m.event,
                                                                reinterpret_cast<std::intptr_t>(m.record), &code, &is_volume);
        CHECK(handled == m.handled && (!handled || (code == m.code && is_volume == m.volume)));
    }

    // The real walk on this machine, for whoever reads the log.
    for (const kv20::WinComPortInterface &present : kv20::list_present_com_port_interfaces())
        std::printf("present: \"%ls\" %ls slot \"%ls\"\n", present.name.c_str(), present.device_path.c_str(),
                    present.slot.c_str());
    std::printf("%d checks failed\n", failures);
    return failures == 0 ? 0 : 1;
}
