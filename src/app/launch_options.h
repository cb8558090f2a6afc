#pragma once
// The launch configuration: built once from the command line (and the launcher's session
// payload), then copied into the application host and only read.

#include <filesystem>
#include <optional>
#include <vector>
#include <string>

#include "base/types.h"

namespace kestrune::app {

enum class CharacterClass : u8 { warrior = 0, templar = 1 };

// A key that goes down or up at the start of a given frame (1 is the first), as if typed.
struct ScriptedKey {
    u32 frame = 0;
    u32 virtualKey = 0;
    bool down = false;

    friend bool operator==(const ScriptedKey&, const ScriptedKey&) = default;
};

struct LaunchOptions {
    bool smokeTest = false;
    bool useWarp = false;
    bool showWindow = false;
    bool vsync = true;
    bool contentSmoke = false;
    u32 frames = 8;
    u32 width = 1280;
    u32 height = 720;
    std::filesystem::path reportPath;
    std::filesystem::path screenshotPath;
    std::filesystem::path contentDirectory;
    std::filesystem::path logPath = "logs/KestruneNative.log";
    std::string serverHost;
    u16 serverPort = 7777;
    std::string gameTicket;
    std::string characterName = "NativeFighter";
    CharacterClass characterClass = CharacterClass::warrior;
    std::optional<u32> fixedFps;  // empty: frames advance by the measured time
    std::filesystem::path tracePath;
    std::vector<ScriptedKey> keyScript;  // from --keys=, in frame order
    std::filesystem::path recordPath;  // --record=: write a replay of this run
    std::filesystem::path replayPath;  // --replay=: play a replay instead of a duel
    f64 replaySpeed = 1.0;
    u32 volumePercent = 100;  // --volume=
    bool mute = false;        // --mute: no sound device is opened
    bool netOverlay = false;  // --net-overlay: the network overlay is shown from the start

    friend bool operator==(const LaunchOptions&, const LaunchOptions&) = default;
};

}  // namespace kestrune::app
