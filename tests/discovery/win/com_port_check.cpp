// Qt-free check of the Windows discovery layer, cross-built by .ci/windows-cross.sh:
// the identity rules on wide strings, WM_DEVICECHANGE decoding, and a walk of the
// present COM ports that prints what the tool would see. Exit status 0: all held.

#include "discovery/com_port_walk_win.h"
#include "discovery/module_port_rules.h"

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0, checks = 0;

void check(bool condition, const char *what, int line)
{
    ++checks;
    if (!condition) {
        ++failures;
        std::printf("FAIL line %d: %s\n", line, what);
    }
}
#define CHECK(condition) check((condition), #condition, __LINE__)

std::string utf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

// Counts the interfaces seen and records "label port" for each one taken.
struct RecordingTracer
{
    int seen_count = 0;
    std::vector<std::string> taken;
    void seen(const std::wstring &) { ++seen_count; }
    void matched(const char *label, const std::wstring &port, const std::wstring &)
    {
        taken.push_back(label + (" " + utf8(port)));
    }
};

std::wstring usb_path(const std::wstring &identity, const std::wstring &instance)
{
    return L"\\\\?\\usb#" + identity + L"#" + instance + L"#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
}

// The rules are tested in depth by the Qt tests; here they must hold on the
// std::wstring text the Windows walk delivers.
void check_rules()
{
    const std::vector<kv20::WinComPortInterface> interfaces{
        {usb_path(L"vid_3505&pid_0001&mi_02", L"7&11aa&0&0002"), L"KV20 AT Port (COM9)"},
        {usb_path(L"vid_1a86&pid_7523", L"5&3a2b&0&2"), L"USB-SERIAL CH340 (COM3)"},
        {usb_path(L"VID_3505&PID_0001&MI_02", L"7&11aa&0&0002"), L"Capitals (COM4)"},
        {usb_path(L"vid_19d1&pid_0001&mi_06", L"vid_3505&pid_0001&mi_02&0006"), L"Modem (COM12) (2)"},
        {usb_path(L"vid_19d1&pid_0001&mi_02", L"6&2f0a1b&0&0002"), L"Without &0006 (COM5)"},
        {usb_path(L"vid_3505&pid_0001&mi_02", L"7&11aa&0&0002"), L"No port name"},
    };
    std::vector<std::wstring> ports{L"kept"};
    RecordingTracer tracer;
    CHECK(kv20::collect_module_ports_with(interfaces, &ports, tracer));
    CHECK((ports == std::vector<std::wstring>{L"kept", L"COM9", L"COM12"}));
    CHECK(tracer.seen_count == 6);
    CHECK((tracer.taken == std::vector<std::string>{"3.sTemp: COM9", "2.sTemp: COM12"}));

    RecordingTracer quiet;
    CHECK(!kv20::collect_module_ports_with(std::vector<kv20::WinComPortInterface>{interfaces[1]}, &ports, quiet));
    CHECK(ports.size() == 3);
}

void check_device_change_decoding()
{
    DEV_BROADCAST_VOLUME volume = {sizeof(DEV_BROADCAST_VOLUME), DBT_DEVTYP_VOLUME, 0, 1u << 4, 0};
    DEV_BROADCAST_VOLUME media = volume;
    media.dbcv_flags = DBTF_MEDIA;
    DEV_BROADCAST_VOLUME too_short = volume;
    too_short.dbcv_size = sizeof(DEV_BROADCAST_HDR);
    DEV_BROADCAST_PORT_W port = {};
    port.dbcp_size = sizeof port;
    port.dbcp_devicetype = DBT_DEVTYP_PORT;

    // Message, event code, broadcast record; expected: handled, code, volume with flags 0.
    const struct {
        unsigned message; std::uintptr_t event; const void *record; bool handled; std::uint32_t code; bool volume;
    } cases[] = {
        {WM_PAINT, DBT_DEVICEARRIVAL, nullptr, false, 0, false},
        {WM_DEVICECHANGE, DBT_DEVICEARRIVAL, nullptr, true, 0x8000, false},
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &volume, true, 0x8004, true},
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &media, true, 0x8004, false},
        {WM_DEVICECHANGE, DBT_DEVICEARRIVAL, &volume, true, 0x8000, false}, // flags judged on removal only
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &too_short, true, 0x8004, false},
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, &port, true, 0x8004, false},
        {WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, nullptr, true, 0x8004, false},
        {WM_DEVICECHANGE, DBT_DEVICETYPESPECIFIC, nullptr, true, 0x8005, false},
    };
    for (const auto &c : cases) {
        std::uint32_t code = 0;
        bool is_volume = false;
        const bool handled = kv20::decode_device_change_message(
            c.message, c.event, reinterpret_cast<std::intptr_t>(c.record), &code, &is_volume);
        CHECK(handled == c.handled);
        CHECK(!handled || (code == c.code && is_volume == c.volume));
    }
}

void list_present_ports()
{
    const std::vector<kv20::WinComPortInterface> present = kv20::list_present_com_port_interfaces();
    std::printf("present COM-port interfaces: %u\n", static_cast<unsigned>(present.size()));
    for (const kv20::WinComPortInterface &port : present)
        std::printf("  name \"%s\" path %s\n", utf8(port.name).c_str(), utf8(port.device_path).c_str());
    std::vector<std::wstring> found;
    RecordingTracer tracer;
    const bool any = kv20::collect_module_ports_with(present, &found, tracer);
    for (const std::string &line : tracer.taken)
        std::printf("  %s\n", line.c_str());
    std::printf("module ports: %u%s\n", static_cast<unsigned>(found.size()), any ? "" : " (none attached)");
    CHECK(any == !found.empty());
}

} // namespace

int main()
{
#ifdef _WIN64
    // The detail record's header as this architecture's Setup API expects it.
    static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "64-bit detail header is 8 bytes");
#endif
    check_rules();
    check_device_change_decoding();
    list_present_ports();
    std::printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
