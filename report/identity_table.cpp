#include "report/identity_table.h"

#include <cstring>

namespace {

constexpr size_t chunk_bytes = 1 << 20;

// FNV-1a over both parts and their lengths, then mixed so that the low bits
// the table uses depend on every byte.
quint64 hash_of(std::string_view a, std::string_view b)
{
    quint64 h = 1469598103934665603ULL ^ (quint64(a.size()) << 32 | b.size());
    for (const std::string_view s : {a, b})
        for (const char c : s)
            h = (h ^ quint8(c)) * 1099511628211ULL;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    return h ^ (h >> 33);
}

std::string_view capped(std::string_view s)
{
    return s.substr(0, 0xffff);
}

} // namespace

IdentityTable::IdentityTable()
    : slots_(1024)
{
}

std::pair<std::string_view, std::string_view> IdentityTable::parts(quint32 index) const
{
    const char *key = keys_[index];
    quint16 lengths[2];
    std::memcpy(lengths, key, 4);
    return {std::string_view(key + 4, lengths[0]), std::string_view(key + 4 + lengths[0], lengths[1])};
}

const char *IdentityTable::store(std::string_view a, std::string_view b)
{
    const size_t need = 4 + a.size() + b.size();
    if (chunks_.empty() || chunk_used_ + need > chunk_size_) {
        chunk_size_ = need > chunk_bytes ? need : chunk_bytes;
        chunks_.emplace_back(new char[chunk_size_]);
        chunk_used_ = 0;
    }
    char *key = chunks_.back().get() + chunk_used_;
    const quint16 lengths[2] = {quint16(a.size()), quint16(b.size())};
    std::memcpy(key, lengths, 4);
    std::memcpy(key + 4, a.data(), a.size());
    std::memcpy(key + 4 + a.size(), b.data(), b.size());
    chunk_used_ += need;
    return key;
}

void IdentityTable::grow()
{
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot &slot : old) {
        if (slot.index == 0)
            continue;
        size_t i = home(slot.hash);
        while (slots_[i].index != 0)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

quint32 IdentityTable::find_or_add(std::string_view a, std::string_view b)
{
    a = capped(a);
    b = capped(b);
    const quint32 hash = quint32(hash_of(a, b) >> 32);
    const size_t mask = slots_.size() - 1;
    size_t i = home(hash);
    for (; slots_[i].index != 0; i = (i + 1) & mask) {
        if (slots_[i].hash == hash && parts(slots_[i].index - 1) == std::make_pair(a, b))
            return slots_[i].index - 1;
    }
    keys_.push_back(store(a, b));
    slots_[i] = {hash, size()};
    if (size_t(size()) * 2 > slots_.size())
        grow();
    return size() - 1;
}
