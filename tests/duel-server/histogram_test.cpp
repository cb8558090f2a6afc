#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "histogram.h"

namespace kestrune::duel {
namespace {

TEST(MicrosecondHistogram, PercentilesAreBucketEdgesCappedByTheMaximumAndMergeOnlyTheSameLayout) {
    MicrosecondHistogram histogram(10, 100);
    EXPECT_EQ(histogram.percentileMicroseconds(0.5), 0u) << "no samples";
    for (u64 us = 1; us <= 100; ++us) histogram.record(us * 3);  // 3 to 300 us
    // The 50th sample is 150 us, in the bucket [150, 160).
    EXPECT_EQ(std::tuple(histogram.count(), histogram.percentileMicroseconds(0.50),
                         histogram.percentileMicroseconds(0.99), histogram.percentileMicroseconds(0.01),
                         histogram.maxMicroseconds()), std::tuple(100u, 160u, 300u, 10u, 300u));
    EXPECT_DOUBLE_EQ(histogram.meanMicroseconds(), 151.5);

    MicrosecondHistogram a(10, 5), b(10, 5);  // buckets up to 50 us
    a.record(5);
    b.record(45);
    b.record(45);
    a.merge(b);
    EXPECT_EQ(std::tuple(a.count(), a.percentileMicroseconds(0.5)), std::tuple(3u, 45u));
    a.record(70000);
    EXPECT_EQ(a.percentileMicroseconds(0.25), 10u);
    EXPECT_EQ(a.percentileMicroseconds(1.0), 70000u) << "a sample past the last bucket reports the maximum";
    EXPECT_THROW(a.merge(MicrosecondHistogram(20, 5)), std::invalid_argument);
    EXPECT_THROW(MicrosecondHistogram(0, 5), std::invalid_argument);
}

}  // namespace
}  // namespace kestrune::duel
