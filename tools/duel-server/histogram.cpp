#include "histogram.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kestrune::duel {

MicrosecondHistogram::MicrosecondHistogram(u64 bucketMicroseconds, std::size_t bucketCount)
    : bucketMicroseconds_(bucketMicroseconds), buckets_(bucketCount + 1, 0) {
    if (bucketMicroseconds == 0 || bucketCount == 0) {
        throw std::invalid_argument("a histogram needs buckets of at least 1 microsecond");
    }
}

void MicrosecondHistogram::record(u64 microseconds) noexcept {
    const u64 last = buckets_.size() - 1;
    ++buckets_[std::min<u64>(microseconds / bucketMicroseconds_, last)];
    ++count_;
    totalMicroseconds_ += microseconds;
    maxMicroseconds_ = std::max(maxMicroseconds_, microseconds);
}

void MicrosecondHistogram::merge(const MicrosecondHistogram& other) {
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

f64 MicrosecondHistogram::meanMicroseconds() const noexcept {
    return count_ == 0 ? 0.0 : static_cast<f64>(totalMicroseconds_) / static_cast<f64>(count_);
}

u64 MicrosecondHistogram::percentileMicroseconds(f64 fraction) const noexcept {
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

}  // namespace kestrune::duel
