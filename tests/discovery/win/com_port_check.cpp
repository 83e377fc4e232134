// Qt-free check of the Windows discovery layer, cross-built and run under wine
// by .ci/windows-cross.sh: the identity rules on the wide strings the Setup API
// delivers, WM_DEVICECHANGE decoding, and a walk of the present COM ports.
// Exit status 0: every check held.
#include "discovery/com_port_walk_win.h"
#include "discovery/module_port_rules.h"

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
        std::printf("present: \"%ls\" %ls\n", present.name.c_str(), present.device_path.c_str());
    std::printf("%d checks failed\n", failures);
    return failures == 0 ? 0 : 1;
}
