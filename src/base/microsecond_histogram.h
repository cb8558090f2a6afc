#pragma once
// Durations in microseconds, counted in fixed-width buckets allocated once (bounded
// memory however long a run goes), from which percentiles are read. The duel server's CPU
// time per tick, the load client's gaps between snapshots and the duel client's command
// round trips are kept in one.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "base/types.h"

namespace kestrune {

class MicrosecondHistogram {
public:
    // Buckets cover 0 to bucketMicroseconds x bucketCount; one more bucket takes the rest.
    MicrosecondHistogram(u64 bucketMicroseconds, std::size_t bucketCount)
        : bucketMicroseconds_(bucketMicroseconds), buckets_(bucketCount + 1, 0) {
        if (bucketMicroseconds == 0 || bucketCount == 0) {
            throw std::invalid_argument("a histogram needs buckets of at least 1 microsecond");
        }
    }

    void record(u64 microseconds) noexcept {
        const u64 last = buckets_.size() - 1;
        ++buckets_[std::min<u64>(microseconds / bucketMicroseconds_, last)];
        ++count_;
        totalMicroseconds_ += microseconds;
        maxMicroseconds_ = std::max(maxMicroseconds_, microseconds);
    }

    // Same bucket layout only.
    void merge(const MicrosecondHistogram& other) {
        if (other.bucketMicroseconds_ != bucketMicroseconds_ || other.buckets_.size() != buckets_.size()) {
            throw std::invalid_argument("histograms with different buckets cannot be merged");
        }
        for (std::size_t i = 0; i < buckets_.size(); ++i) {
            buckets_[i] += other.buckets_[i];
        }
        count_ += other.count_;
        totalMicroseconds_ += other.totalMicroseconds_;
        maxMicroseconds_ = std::max(maxMicroseconds_, other.maxMicroseconds_);
    }

    void clear() noexcept {
        std::fill(buckets_.begin(), buckets_.end(), 0);
        count_ = totalMicroseconds_ = maxMicroseconds_ = 0;
    }

    u64 count() const noexcept { return count_; }
    u64 maxMicroseconds() const noexcept { return maxMicroseconds_; }
    f64 meanMicroseconds() const noexcept {
        return count_ == 0 ? 0.0 : static_cast<f64>(totalMicroseconds_) / static_cast<f64>(count_);
    }

    // Upper edge of the bucket that holds the given fraction (0 to 1) of the samples,
    // never above the largest sample; 0 without samples.
    u64 percentileMicroseconds(f64 fraction) const noexcept {
        if (count_ == 0) {
            return 0;
        }
        const f64 clamped = std::clamp(fraction, 0.0, 1.0);
        const u64 rank = std::max<u64>(1, static_cast<u64>(std::ceil(clamped * static_cast<f64>(count_))));
        u64 seen = 0;
        for (std::size_t bucket = 0; bucket + 1 < buckets_.size(); ++bucket) {
            seen += buckets_[bucket];
            if (seen >= rank) {
                return std::min<u64>((bucket + 1) * bucketMicroseconds_, maxMicroseconds_);
            }
        }
        return maxMicroseconds_;
    }

private:
    u64 bucketMicroseconds_;
    std::vector<u64> buckets_;
    u64 count_ = 0;
    u64 totalMicroseconds_ = 0;
    u64 maxMicroseconds_ = 0;
};

}  // namespace kestrune
