#include "report/duration_histogram.h"

namespace {

constexpr int exact_bits = 11;
constexpr qint64 exact_limit = qint64(1) << exact_bits;  // 2048
constexpr int half = 1 << (exact_bits - 1);              // 1024 steps per doubling

size_t bucket_of(qint64 ms)
{
    if (ms < exact_limit)
        return size_t(ms < 0 ? 0 : ms);
    int shift = 0;
    while ((ms >> shift) >= exact_limit)
        ++shift;
    // (ms >> shift) is in [1024, 2048): one of 1024 steps of this doubling.
    return size_t(exact_limit + qint64(shift - 1) * half + ((ms >> shift) - half));
}

qint64 lower_bound_of(size_t bucket)
{
    if (qint64(bucket) < exact_limit)
        return qint64(bucket);
    const qint64 above = qint64(bucket) - exact_limit;
    const int shift = int(above / half) + 1;
    return (above % half + half) << shift;
}

} // namespace

void DurationHistogram::add(qint64 ms)
{
    const size_t bucket = bucket_of(ms);
    if (bucket >= buckets_.size())
        buckets_.resize(bucket + 1);
    ++buckets_[bucket];
    ++count_;
}

qint64 DurationHistogram::percentile(int percent) const
{
    if (count_ == 0)
        return 0;
    // Rank ceil(percent/100 * n), at least 1.
    quint64 rank = (count_ * quint64(percent) + 99) / 100;
    if (rank == 0)
        rank = 1;
    quint64 seen = 0;
    for (size_t b = 0; b < buckets_.size(); ++b) {
        seen += buckets_[b];
        if (seen >= rank)
            return lower_bound_of(b);
    }
    return lower_bound_of(buckets_.size() - 1);
}
