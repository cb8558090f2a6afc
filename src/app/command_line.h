#pragma once
// Turns the command-line arguments (program path already removed) into validated launch
// options. Pure: no file, pipe or clock is touched, so every rule is testable in-process.
// Throws std::invalid_argument with the user-facing message of the first broken rule.

#include <optional>
#include <span>
#include <string>

#include "app/launch_options.h"
#include "base/types.h"

namespace kestrune::app {

inline constexpr u32 kMinimumWidthPixels = 320;
inline constexpr u32 kMinimumHeightPixels = 240;
inline constexpr u32 kMinimumFrames = 1;
inline constexpr u32 kMaximumFrames = 10000;
inline constexpr u32 kMinimumFixedFps = 1;
inline constexpr u32 kMaximumFixedFps = 1000;
inline constexpr f64 kMinimumReplaySpeed = 0.1;
inline constexpr f64 kMaximumReplaySpeed = 10.0;

struct ParsedCommandLine {
    LaunchOptions options;
    // The launcher's pipe handle from "--session-pipe=", not yet read; when present, a
    // server was given too. The payload that completes `options` is read from it next.
    std::optional<u64> sessionPipeHandle;
};

ParsedCommandLine parseCommandLine(std::span<const std::u16string> arguments);

// "--help" or "-h" anywhere: the program prints helpText() and ends with exit code 0,
// whatever else the command line holds.
bool asksForHelp(std::span<const std::u16string> arguments) noexcept;

// The usage line and one line per option (the README's table of options lists the same).
std::string helpText();

}  // namespace kestrune::app
