// Qt-free check of the Windows discovery layer, cross-built with MinGW-w64
// (see .ci/windows-cross.sh). It runs the shared identity rules on wide
// strings, decodes synthetic WM_DEVICECHANGE records, and then walks the
// machine's present COM ports through the Setup API and prints what the tool
// would see. Exit status 0 when every check holds.

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
int checks = 0;

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
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring widen(const char *ascii)
{
    std::wstring out;
    for (const char *c = ascii; *c; ++c)
        out.push_back(static_cast<wchar_t>(*c));
    return out;
}

// Records the trace the tool would write, one line per item list.
struct RecordingTracer
{
    std::vector<std::wstring> lines;
    void seen(const std::wstring &path) { lines.push_back(L"1.sTemp: " + path); }
    void matched(const char *label, const std::wstring &port, const std::wstring &path)
    {
        lines.push_back(widen(label) + L" " + port + L" ;string: " + path);
    }
};

struct PrintingTracer
{
    void seen(const std::wstring &path) { std::printf("  1.sTemp: %s\n", utf8(path).c_str()); }
    void matched(const char *label, const std::wstring &port, const std::wstring &path)
    {
        std::printf("  %s %s ;string: %s\n", label, utf8(port).c_str(), utf8(path).c_str());
    }
};

const std::wstring guid = L"{86e0d1e0-8089-11d0-9ce4-08003e301f73}";

std::wstring usb_path(const std::wstring &identity, const std::wstring &instance)
{
    return L"\\\\?\\usb#" + identity + L"#" + instance + L"#" + guid;
}

// The label of the rule that holds for the path, or "" when none does.
std::string label_for(const std::wstring &path)
{
    const kv20::IdentityRule *rule = kv20::first_matching_rule(path);
    return rule ? rule->label : "";
}

// The rules themselves are tested in depth by the Qt tests; here they must
// hold on std::wstring as the Windows walk delivers it.
void check_rules()
{
    CHECK(label_for(usb_path(L"vid_19d1&pid_0001&mi_02", L"6&2f0a1b&0&0002")).empty());
    CHECK(label_for(usb_path(L"VID_3505&PID_0001&MI_02", L"7&11AA&0&0000")).empty());
    CHECK(label_for(usb_path(L"vid_19d1&pid_0001&mi_06", L"vid_3505&pid_0001&mi_02&0006")) == "2.sTemp:");
    CHECK(label_for(usb_path(L"vid_3505&pid_0001&mi_00", L"7&11aa&0&0002")) == "3.sTemp:");

    // Both the second and the third rule hold (one name, second's label); a
    // foreign port; the alternative identity with two parenthesised parts; a
    // module port without a port name.
    const std::vector<kv20::WinComPortInterface> interfaces{
        {usb_path(L"vid_3505&pid_0001&mi_02", L"7&11aa&0&0002"), L"KV20 AT Port (COM9)"},
        {usb_path(L"vid_1a86&pid_7523", L"5&3a2b&0&2"), L"USB-SERIAL CH340 (COM3)"},
        {usb_path(L"vid_19d1&pid_0001&mi_06", L"6&2f0a1b&0&0006"), L"Modem (COM12) (2)"},
        {usb_path(L"vid_3505&pid_0001&mi_02", L"7&11aa&0&0002"), L"No port name"},
    };
    std::vector<std::wstring> ports{L"kept"};
    RecordingTracer tracer;
    CHECK(kv20::collect_module_ports_with(interfaces, &ports, tracer));
    CHECK((ports == std::vector<std::wstring>{L"kept", L"COM9", L"COM12"}));
    CHECK((tracer.lines == std::vector<std::wstring>{
               L"1.sTemp: " + interfaces[0].device_path, L"3.sTemp: COM9 ;string: " + interfaces[0].device_path,
               L"1.sTemp: " + interfaces[1].device_path, L"1.sTemp: " + interfaces[2].device_path,
               L"2.sTemp: COM12 ;string: " + interfaces[2].device_path, L"1.sTemp: " + interfaces[3].device_path}));

    std::vector<std::wstring> untouched{L"kept"};
    RecordingTracer quiet;
    CHECK(!kv20::collect_module_ports_with(std::vector<kv20::WinComPortInterface>{interfaces[1]}, &untouched, quiet));
    CHECK((untouched == std::vector<std::wstring>{L"kept"}));
}

void check_device_change_decoding()
{
    std::uint32_t code = 0;
    bool volume = true;

    CHECK(!kv20::decode_device_change_message(WM_PAINT, DBT_DEVICEARRIVAL, 0, &code, &volume));

    CHECK(kv20::decode_device_change_message(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0, &code, &volume));
    CHECK(code == 0x8000 && !volume);

    DEV_BROADCAST_VOLUME removed_volume = {};
    removed_volume.dbcv_size = sizeof removed_volume;
    removed_volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    removed_volume.dbcv_unitmask = 1u << 4;
    removed_volume.dbcv_flags = 0;
    const auto volume_param = reinterpret_cast<std::intptr_t>(&removed_volume);
    CHECK(kv20::decode_device_change_message(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, volume_param, &code,
                                             &volume));
    CHECK(code == 0x8004 && volume);

    removed_volume.dbcv_flags = DBTF_MEDIA;
    CHECK(kv20::decode_device_change_message(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, volume_param, &code,
                                             &volume));
    CHECK(code == 0x8004 && !volume);

    // The volume flags are only judged on a removal.
    removed_volume.dbcv_flags = 0;
    CHECK(kv20::decode_device_change_message(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, volume_param, &code, &volume));
    CHECK(code == 0x8000 && !volume);

    // A record too short to hold the flags is not judged.
    removed_volume.dbcv_size = sizeof(DEV_BROADCAST_HDR);
    CHECK(kv20::decode_device_change_message(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, volume_param, &code,
                                             &volume));
    CHECK(code == 0x8004 && !volume);

    DEV_BROADCAST_PORT_W removed_port = {};
    removed_port.dbcp_size = sizeof removed_port;
    removed_port.dbcp_devicetype = DBT_DEVTYP_PORT;
    CHECK(kv20::decode_device_change_message(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                                             reinterpret_cast<std::intptr_t>(&removed_port), &code, &volume));
    CHECK(code == 0x8004 && !volume);

    CHECK(kv20::decode_device_change_message(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0, &code, &volume));
    CHECK(code == 0x8004 && !volume);

    CHECK(kv20::decode_device_change_message(WM_DEVICECHANGE, DBT_DEVICETYPESPECIFIC, 0, &code, &volume));
    CHECK(code == 0x8005);
}

void list_present_ports()
{
    const std::vector<kv20::WinComPortInterface> present = kv20::list_present_com_port_interfaces();
    std::printf("present COM-port interfaces: %u\n", static_cast<unsigned>(present.size()));
    for (const kv20::WinComPortInterface &port : present)
        std::printf("  name \"%s\" path %s\n", utf8(port.name).c_str(), utf8(port.device_path).c_str());
    std::vector<std::wstring> found;
    PrintingTracer tracer;
    const bool any = kv20::collect_module_ports_with(present, &found, tracer);
    std::printf("module ports: %u%s\n", static_cast<unsigned>(found.size()), any ? "" : " (none attached)");
    CHECK(any == !found.empty());
}

} // namespace

int main()
{
#ifdef _WIN64
    // The detail record's header as this architecture's Setup API expects it;
    // the walk sets exactly this, not the 32-bit value.
    static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "64-bit detail header is 8 bytes");
#endif
    check_rules();
    check_device_change_decoding();
    list_present_ports();
    std::printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
