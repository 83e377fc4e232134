#pragma once

#include <QtGlobal>

#include <deque>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

// Module identities (device number and IMEI or MAC) to dense indexes, exact
// and compact: a report over a million records holds every module seen, so
// a key costs its bytes in a chunked arena and a slot of an open-addressing
// table, not a node and a string of its own.
class IdentityTable
{
public:
    IdentityTable();
    // The index of the identity made of the two parts, a new one (equal to
    // size() before the call) when first seen. Parts longer than 65535
    // bytes, which no module's identity comes near, are cut there so that
    // their lengths keep to 16 bits.
    quint32 find_or_add(std::string_view device_number, std::string_view imei_or_mac);
    quint32 size() const { return quint32(keys_.size()); }
    // The two parts of identity `index`.
    std::pair<std::string_view, std::string_view> parts(quint32 index) const;

private:
    struct Slot
    {
        quint32 hash = 0;   // the hash's high half: most mismatches end here
        quint32 index = 0;  // + 1; 0: free
    };
    const char *store(std::string_view a, std::string_view b);
    void grow();
    size_t home(quint32 hash) const { return hash & (slots_.size() - 1); }

    std::vector<Slot> slots_;
    std::deque<const char *> keys_;  // two 16-bit lengths, then both parts
    std::vector<std::unique_ptr<char[]>> chunks_;
    size_t chunk_used_ = 0, chunk_size_ = 0;
};
