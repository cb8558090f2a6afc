#pragma once
// Durations in microseconds, counted in fixed-width buckets allocated once (bounded
// memory however long the server or a load run goes), from which percentiles are read.
// Used for the server's CPU time per tick and the load client's gaps between snapshots.

#include <cstddef>
#include <vector>

#include "base/types.h"

namespace kestrune::duel {

class MicrosecondHistogram {
public:
    // Buckets cover 0 to bucketMicroseconds x bucketCount; one more bucket takes the rest.
    MicrosecondHistogram(u64 bucketMicroseconds, std::size_t bucketCount);

    void record(u64 microseconds) noexcept;
    void merge(const MicrosecondHistogram& other);  // same bucket layout
    u64 count() const noexcept { return count_; }
    u64 maxMicroseconds() const noexcept { return maxMicroseconds_; }
    f64 meanMicroseconds() const noexcept;
    // Upper edge of the bucket that holds the given fraction (0 to 1) of the samples,
    // never above the largest sample; 0 without samples.
    u64 percentileMicroseconds(f64 fraction) const noexcept;

private:
    u64 bucketMicroseconds_;
    std::vector<u64> buckets_;
    u64 count_ = 0;
    u64 totalMicroseconds_ = 0;
    u64 maxMicroseconds_ = 0;
};

}  // namespace kestrune::duel
