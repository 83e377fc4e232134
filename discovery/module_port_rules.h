#pragma once

// The module's USB identities and the port-name extraction, written once for
// every string type the walk meets: QString in the tool, std::wstring in the
// Qt-free Windows check program. This header must stay free of Qt so that the
// cross-compiled Windows check runs exactly these rules.
//
// A string type is usable here once text_ops<Text> is provided for it, with
//   static bool contains(const Text &, const char *ascii);  // case-sensitive
//   static long index_of(const Text &, char ascii, long from); // -1: absent
//   static Text mid(const Text &, long from, long count);      // count -1: rest
//   static long length(const Text &);
// The std::wstring one is below; the QString one lives with the Qt adapter.

#include <cstddef>
#include <string>
#include <type_traits>

namespace kv20 {

template <class Text>
struct text_ops;

template <>
struct text_ops<std::wstring>
{
    static bool contains(const std::wstring &text, const char *ascii)
    {
        std::wstring needle;
        for (const char *c = ascii; *c; ++c)
            needle.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
        return text.find(needle) != std::wstring::npos;
    }
    static long index_of(const std::wstring &text, char ascii, long from)
    {
        const std::size_t at = text.find(static_cast<wchar_t>(ascii), static_cast<std::size_t>(from));
        return at == std::wstring::npos ? -1 : static_cast<long>(at);
    }
    static std::wstring mid(const std::wstring &text, long from, long count)
    {
        return count < 0 ? text.substr(static_cast<std::size_t>(from))
                         : text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(count));
    }
    static long length(const std::wstring &text) { return static_cast<long>(text.size()); }
};

// One identity: the path must contain `identity` and, when set, also `also`.
// The trace label is what the field logs have always shown for the match.
struct IdentityRule
{
    const char *identity;
    const char *also;
    const char *label;
};

// Order matters: the first rule that holds decides, so a path satisfying both
// the second and the third is reported once, under the second's label. The
// tests are deliberately case-sensitive: the system reports these identities
// in lower case, and a path in capitals is not one of ours.
constexpr IdentityRule identity_rules[] = {
    {"vid_19d1&pid_0001", "&0006", "2.sTemp:"},
    {"vid_3505&pid_0001&mi_02", nullptr, "3.sTemp:"},
    {"vid_3505&pid_0001", "&0002", "3.sTemp:"},
};

template <class Text>
const IdentityRule *first_matching_rule(const Text &device_path)
{
    using ops = text_ops<Text>;
    for (const IdentityRule &rule : identity_rules) {
        if (ops::contains(device_path, rule.identity) && (!rule.also || ops::contains(device_path, rule.also)))
            return &rule;
    }
    return nullptr;
}

// The port name is the first parenthesised part of a name such as
// "USB Serial Device (COM7)" or "Modem (COM12) (2)": what lies between the
// first "(" and the next "(" or ")". This is the same as splitting at every
// "(", taking the second part, splitting that at every ")" and taking the
// first part. False when the name has no "(" at all; "Name ()" or "Name ("
// give an empty port name, as the split does.
template <class Text>
bool extract_port_name(const Text &name, Text *port_name)
{
    using ops = text_ops<Text>;
    const long open = ops::index_of(name, '(', 0);
    if (open < 0)
        return false;
    const long start = open + 1;
    long end = ops::length(name);
    const long next_open = ops::index_of(name, '(', start);
    if (next_open >= 0)
        end = next_open;
    const long close = ops::index_of(name, ')', start);
    if (close >= 0 && close < end)
        end = close;
    *port_name = ops::mid(name, start, end - start);
    return true;
}

// The walk's decision over the listed interfaces, in their order. Items need
// members device_path and name of type Text; Out needs push_back(Text);
// Tracer needs seen(path) and matched(label, port_name, path). No duplicate
// test: every matching interface adds its own name.
template <class Items, class Out, class Tracer>
bool collect_module_ports_with(const Items &interfaces, Out *port_list, Tracer &tracer)
{
    bool found = false;
    // (Not named "interface": the Windows headers define that as a macro.)
    for (const auto &item : interfaces) {
        tracer.seen(item.device_path);
        const IdentityRule *rule = first_matching_rule(item.device_path);
        if (!rule)
            continue;
        typename std::decay<decltype(item.name)>::type port_name;
        if (!extract_port_name(item.name, &port_name))
            continue;
        tracer.matched(rule->label, port_name, item.device_path);
        port_list->push_back(port_name);
        found = true;
    }
    return found;
}

} // namespace kv20
