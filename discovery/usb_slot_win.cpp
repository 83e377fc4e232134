#include "discovery/usb_slot_win.h"

#include <cwctype>

namespace kv20 {
namespace {

// The decimal number at text[*at], without leading zeros, or empty;
// *at moves past its digits.
std::wstring number_at(const std::wstring &text, std::size_t *at)
{
    const std::size_t start = *at;
    while (*at < text.size() && std::iswdigit(text[*at]))
        ++*at;
    std::wstring digits = text.substr(start, *at - start);
    const std::size_t first = digits.find_first_not_of(L'0');
    if (digits.empty())
        return digits;
    return first == std::wstring::npos ? std::wstring(L"0") : digits.substr(first);
}

bool skip(const std::wstring &text, std::size_t *at, const wchar_t *word)
{
    const std::wstring w(word);
    if (text.compare(*at, w.size(), w) != 0)
        return false;
    *at += w.size();
    return true;
}

} // namespace

std::wstring slot_from_location_paths(const std::vector<std::wstring> &paths)
{
    for (const std::wstring &path : paths) {
        const std::size_t root = path.find(L"#USBROOT(");
        if (root == std::wstring::npos)
            continue;
        // Just past the root hub's element.
        std::size_t at = path.find(L')', root);
        if (at == std::wstring::npos)
            continue;
        ++at;
        std::wstring chain;
        // Each hop down the tree is #USB(port); the first element that is
        // not one (the interface, USBMI) ends the socket's chain.
        while (skip(path, &at, L"#USB(")) {
            const std::wstring port = number_at(path, &at);
            if (port.empty() || !skip(path, &at, L")"))
                return std::wstring();
            chain += (chain.empty() ? L"" : L"-") + port;
        }
        if (!chain.empty())
            return chain;
    }
    return std::wstring();
}

std::wstring slot_from_location_information(const std::wstring &information)
{
    std::size_t at = 0;
    if (!skip(information, &at, L"Port_#"))
        return std::wstring();
    const std::wstring port = number_at(information, &at);
    if (port.empty() || !skip(information, &at, L".Hub_#"))
        return std::wstring();
    const std::wstring hub = number_at(information, &at);
    if (hub.empty() || at != information.size())
        return std::wstring();
    return L"hub" + hub + L"-" + port;
}

} // namespace kv20
