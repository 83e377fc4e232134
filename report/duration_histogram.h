#pragma once

#include <QtGlobal>

#include <vector>

// Operation durations of one station or slot, for the median and the 95th
// percentile without keeping every record: exact up to 2047 ms, then in
// steps of 1/1024 of the value (a tenth of a percent), so that memory grows
// with the range of the durations, never with their number.
class DurationHistogram
{
public:
    void add(qint64 ms);
    quint64 count() const { return count_; }
    // The nearest-rank percentile (the smallest duration that at least
    // `percent` % of the operations do not exceed); 0 without operations.
    qint64 percentile(int percent) const;

private:
    std::vector<quint32> buckets_;
    quint64 count_ = 0;
};
