#include "hud/net_history.h"

#include <algorithm>
#include <cmath>

namespace kestrune::hud {

namespace {

u64 columnAt(f64 seconds) noexcept { return static_cast<u64>(std::max(0.0, seconds) / kNetColumnSeconds); }

}  // namespace

void NetHistory::reset(f64 nowSeconds, const NetSample& sample) noexcept {
    columns_.fill({});
    newestColumn_ = columnAt(nowSeconds);
    firstSeconds_ = nowSeconds;
    started_ = sample.online;
    last_ = sample;
    roundTripNowMs_ = 0.0;
    hasRoundTrip_ = false;
}

void NetHistory::record(f64 nowSeconds, const NetSample& sample) noexcept {
    const bool wentBack = sample.snapshots < last_.snapshots || sample.roundTrips < last_.roundTrips ||
                          sample.corrections < last_.corrections ||
                          sample.interpolationSteps < last_.interpolationSteps;
    if (!sample.online || !started_ || wentBack) {
        // The first frame of a session is its baseline: what came before it is not this second's.
        reset(nowSeconds, sample);
        return;
    }
    const u64 column = columnAt(nowSeconds);
    if (column > newestColumn_) {
        for (u64 skipped = newestColumn_ + 1; skipped <= column && skipped <= newestColumn_ + kNetColumns; ++skipped) {
            columns_[skipped % kNetColumns] = {};
        }
        newestColumn_ = column;
    }
    NetColumn& into = columns_[newestColumn_ % kNetColumns];
    into.snapshots += static_cast<u32>(sample.snapshots - last_.snapshots);
    into.corrections += static_cast<u32>(sample.corrections - last_.corrections);
    const u64 trips = sample.roundTrips - last_.roundTrips;
    if (trips > 0) {
        // The totals behind the two means give this frame's trips alone.
        const f64 total = sample.roundTripAverageMs * static_cast<f64>(sample.roundTrips) -
                          last_.roundTripAverageMs * static_cast<f64>(last_.roundTrips);
        roundTripNowMs_ = std::max(0.0, total / static_cast<f64>(trips));
        hasRoundTrip_ = true;
        into.roundTrips += static_cast<u32>(trips);
        into.roundTripMaxMs = std::max(into.roundTripMaxMs, static_cast<f32>(roundTripNowMs_));
    }
    into.delayMsTotal += sample.interpolationDelayMsTotal - last_.interpolationDelayMsTotal;
    into.delaySteps += sample.interpolationSteps - last_.interpolationSteps;
    last_ = sample;
}

const NetColumn& NetHistory::column(u32 age) const noexcept {
    return columns_[(newestColumn_ + kNetColumns - std::min(age, kNetColumns - 1)) % kNetColumns];
}

f32 NetHistory::roundTripMaxMs() const noexcept {
    f32 slowest = 0.0f;
    for (const NetColumn& column : columns_) {
        slowest = std::max(slowest, column.roundTripMaxMs);
    }
    return slowest;
}

NetReadout NetHistory::readout() const noexcept {
    NetReadout out;
    out.online = started_;
    if (!started_) {
        return out;
    }
    out.hasRoundTrip = hasRoundTrip_;
    out.roundTripNowMs = roundTripNowMs_;
    out.roundTripP99Ms = last_.roundTripP99Ms;
    u64 snapshots = 0;
    u64 corrections = 0;
    f64 delayTotal = 0.0;
    u64 delaySteps = 0;
    for (u32 age = 0; age < kNetColumnsPerSecond; ++age) {
        const NetColumn& recent = column(age);
        snapshots += recent.snapshots;
        corrections += recent.corrections;
        delayTotal += recent.delayMsTotal;
        delaySteps += recent.delaySteps;
    }
    // A session younger than a second is counted over the time it has had.
    const u64 columnsSeen = std::min<u64>(kNetColumnsPerSecond, newestColumn_ - columnAt(firstSeconds_) + 1);
    out.snapshotsPerSecond = static_cast<f64>(snapshots) / (static_cast<f64>(columnsSeen) * kNetColumnSeconds);
    out.correctionsLastSecond = static_cast<u32>(corrections);
    out.interpolationDelayMs = delaySteps == 0 ? 0.0 : delayTotal / static_cast<f64>(delaySteps);
    return out;
}

}  // namespace kestrune::hud
