#include "launcher_options.h"

#include <stdexcept>

namespace kestrune::launcher {

LauncherOptions parseLauncherOptions(std::span<const std::string> arguments) {
    LauncherOptions options;
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--offline") {
            options.online = false;
        } else if (argument == "--server-bot") {
            options.online = true;
        } else if (argument.starts_with("--replay=")) {
            options.online = false;  // a replay takes the server's place
            options.programArguments.push_back(argument);
        } else if (argument.starts_with("--server-log=")) {
            options.serverLog = argument.substr(std::string_view("--server-log=").size());
            if (options.serverLog.empty()) {
                throw std::invalid_argument("--server-log needs a file name.");
            }
        } else {
            options.programArguments.push_back(argument);
        }
    }
    return options;
}

std::string launcherUsageText() {
    return "usage: kestrune-play [--offline] [--server-log=PATH] [KestruneNative options...]\n"
           "Plays Kestrune Native from this folder: starts kestrune-duel-server with a bot opponent on a free\n"
           "loopback port, runs KestruneNative on the content folder beside it connected to that server, and\n"
           "stops the server when the program ends.\n"
           "  --offline          the offline duel: no server\n"
           "  --server-bot       a local server with a bot (the default)\n"
           "  --server-log=PATH  the server's output (default logs/kestrune-duel-server.log)\n"
           "  --help, -h         print this help and exit\n"
           "Every other option goes to KestruneNative (a later --content= or --server= wins); KestruneNative\n"
           "--help lists them. With --replay=FILE no server is started: the replay takes its place.\n";
}

}  // namespace kestrune::launcher
