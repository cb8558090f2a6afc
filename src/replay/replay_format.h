#pragma once
// The replay file: a run's frames as the scene met them, so that playing them back through
// the same scene draws the same pictures. All numbers little-endian; reals are IEEE 754 bit
// patterns, so a file plays the same on every platform.
//
//   Header (56 bytes)
//     0  "KRPL"
//     4  u16 version (kReplayVersion)
//     6  u8  class played: 0 warrior, 1 templar
//     7  u8  flags: 1 online, 2 the smoke run's automatic skill
//     8  u16 server ticks per second (0 offline)
//    10  u16 0
//    12  u32 the local fighter's entity id (0 offline)
//    16  u32 --fixed-fps (0: measured time)
//    20  32  SHA-256 of the content's MANIFEST (zeros without one)
//    52  u32 CRC-32 of bytes 0 to 51
//   Frames, one after another to the end of the file:
//     u32 body length, u32 CRC-32 of the body, then the body:
//       u8  kind: 0 a frame that was played, 1 a frame the window spent minimised
//       f64 its seconds: the measured (or fixed) step before any clamp, so negative when the
//           clock ran backwards; minimised, the time dropped
//       u16 count of keys that changed, then per key: u8 virtual key, u8 bits (1 held, 2 pressed, 4 released)
//       items to the end of the body, each a u8 tag and its fields:
//         1 stick      f32 x, f32 z (the stick after its dead zone, when it moved)
//         2 result     15 bytes: a command result as the duel protocol lays it out
//         3 snapshot   u32 length, then a snapshot message's payload
//         4 events     u32 length, then a combat events message's payload
//         5 sent       u32 the command sequence one queued intent went out with (0: not sent)
//         6 ended      u16 length, then the session's last error as UTF-8
//         7 figures    u8 running, u64 snapshots, f64 per second, u64 commands, u64 round trips,
//                      f64 average ms, f64 99th percentile ms, f64 largest ms (only when they changed)
// Server items appear in the order the duel tick handed them to the scene: results, then the
// snapshot, then events.

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>

#include "base/types.h"
#include "net/duel_client.h"

namespace kestrune::replay {

inline constexpr std::array<char, 4> kReplayMagic = {'K', 'R', 'P', 'L'};
inline constexpr u16 kReplayVersion = 1;
inline constexpr std::size_t kReplayHeaderBytes = 56;
inline constexpr std::size_t kReplayFrameHeadBytes = 8;
// Far above any frame the program writes (a snapshot's payload is at most 64 KiB); a larger
// length is damage, not a big frame.
inline constexpr u32 kMaxReplayFrameBytes = 4u << 20;
inline constexpr u64 kMaxReplayFileBytes = u64{1} << 30;
// A frame's seconds are finite and at most this far from 0 (a run of eleven days).
inline constexpr f64 kMaxReplayFrameSeconds = 1.0e6;

inline constexpr u8 kReplayFlagOnline = 1;
inline constexpr u8 kReplayFlagAutomaticSkill = 2;

inline constexpr u8 kKeyHeld = 1;
inline constexpr u8 kKeyPressed = 2;
inline constexpr u8 kKeyReleased = 4;

enum class FrameKind : u8 { played = 0, minimized = 1 };

enum class ItemTag : u8 { stick = 1, result = 2, snapshot = 3, events = 4, sent = 5, ended = 6, figures = 7 };

inline constexpr std::size_t kResultItemBytes = 15;
inline constexpr std::size_t kFiguresItemBytes = 57;

struct ReplayHeader {
    u16 version = kReplayVersion;
    u8 characterClass = 0;  // 0 warrior, 1 templar
    bool online = false;
    bool automaticSkill = false;
    u16 tickRate = 0;
    u32 localEntityId = 0;
    u32 fixedFps = 0;
    std::array<u8, 32> contentDigest{};

    friend bool operator==(const ReplayHeader&, const ReplayHeader&) = default;
};

// What the trace says of the session each frame.
struct SessionFigures {
    bool running = false;
    net::DuelClientStatistics statistics;

    friend bool operator==(const SessionFigures&, const SessionFigures&) = default;
};

// A path as the messages print it, UTF-8 on every platform.
inline std::string pathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace kestrune::replay
