#pragma once
// kestrune-play's command line:
//   kestrune-play [--offline] [--server-log=PATH] [program options...]
// Its own options are taken out; every other argument goes to KestruneNative unchanged and
// in order (--replay= too, which also means no server). Parsing throws std::invalid_argument with a sentence naming the option.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::launcher {

inline constexpr std::string_view kDefaultServerLog = "logs/kestrune-duel-server.log";

struct LauncherOptions {
    bool online = true;     // a local duel server with a bot; --offline plays without one
    std::string serverLog = std::string(kDefaultServerLog);
    std::vector<std::string> programArguments;
    bool help = false;
};

LauncherOptions parseLauncherOptions(std::span<const std::string> arguments);
std::string launcherUsageText();

}  // namespace kestrune::launcher
