#pragma once
// The last few seconds of the duel session, for the network overlay. The frame loop hands
// it the session's running totals once a frame (the duel client's, or in a replay the
// recorded ones); it keeps what changed in columns of a twentieth of a second: snapshots
// received, corrections of the local fighter, command round trips completed and the remote
// playback's delay. Fixed storage; nothing allocates.

#include <array>

#include "base/types.h"

namespace kestrune::hud {

// Running totals of a session, as the frame loop reads them.
struct NetSample {
    bool online = false;  // a session runs (or ran, in a replay of one)
    u64 snapshots = 0;
    u64 roundTrips = 0;
    f64 roundTripAverageMs = 0.0;  // over all roundTrips
    f64 roundTripP99Ms = 0.0;
    u64 corrections = 0;  // glides and snaps of the local fighter
    f64 interpolationDelayMsTotal = 0.0;
    u64 interpolationSteps = 0;
};

inline constexpr u32 kNetColumns = 100;
inline constexpr f64 kNetColumnSeconds = 0.05;  // 100 columns: five seconds
inline constexpr u32 kNetColumnsPerSecond = 20;

struct NetColumn {
    u32 snapshots = 0;
    u32 corrections = 0;
    u32 roundTrips = 0;
    f32 roundTripMaxMs = 0.0f;  // the slowest frame's mean round trip in the column
    f64 delayMsTotal = 0.0;
    u64 delaySteps = 0;
};

// What the overlay prints.
struct NetReadout {
    bool online = false;
    bool hasRoundTrip = false;
    f64 roundTripNowMs = 0.0;  // the mean of the round trips the newest frame with any completed
    f64 roundTripP99Ms = 0.0;  // the session's
    f64 snapshotsPerSecond = 0.0;
    f64 interpolationDelayMs = 0.0;  // the mean over the last second's steps
    u32 correctionsLastSecond = 0;
};

class NetHistory {
public:
    // `nowSeconds` is the frame's time; a sample whose totals went back (a new session) starts
    // the history again.
    void record(f64 nowSeconds, const NetSample& sample) noexcept;
    NetReadout readout() const noexcept;
    // The column `age` columns before the newest (0 the newest, kNetColumns - 1 the oldest).
    const NetColumn& column(u32 age) const noexcept;
    // The slowest round trip in the five seconds, 0 without any.
    f32 roundTripMaxMs() const noexcept;

private:
    void reset(f64 nowSeconds, const NetSample& sample) noexcept;

    std::array<NetColumn, kNetColumns> columns_{};
    u64 newestColumn_ = 0;  // the column number (time / column length) of the newest
    f64 firstSeconds_ = 0.0;
    bool started_ = false;
    NetSample last_;
    f64 roundTripNowMs_ = 0.0;
    bool hasRoundTrip_ = false;
};

}  // namespace kestrune::hud
