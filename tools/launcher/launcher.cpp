#include "launcher.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "child_process.h"
#include "launcher_options.h"

namespace kestrune::launcher {
namespace {

// The server prints "listening on 127.0.0.1:PORT ..." once it accepts connections.
constexpr auto kServerStartTimeout = std::chrono::seconds(20);
constexpr auto kServerPollInterval = std::chrono::milliseconds(50);
constexpr auto kServerStopGrace = std::chrono::seconds(5);

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string waitForServerPort(ChildProcess& server, const std::filesystem::path& log) {
    static const std::regex listening(R"(listening on 127\.0\.0\.1:(\d+)\b)");
    const auto deadline = std::chrono::steady_clock::now() + kServerStartTimeout;
    while (true) {
        const std::string text = fileText(log);
        std::smatch match;
        if (std::regex_search(text, match, listening)) {
            return match[1].str();
        }
        if (server.exitCode() || std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the duel server did not start; its output (" + log.string() + "):\n" + text);
        }
        std::this_thread::sleep_for(kServerPollInterval);
    }
}

int play(const LauncherOptions& options, std::ostream& out) {
    const std::filesystem::path folder = ownDirectory();
    const std::filesystem::path program = folder / executableName("KestruneNative");
    std::vector<std::string> arguments;
    if (std::filesystem::is_directory(folder / "content")) {
        arguments.push_back("--content=" + (folder / "content").string());
    }
    const bool serverGiven = std::ranges::any_of(options.programArguments,
                                                 [](const std::string& a) { return a.starts_with("--server="); });
    std::optional<ChildProcess> server;
    if (options.online && !serverGiven) {
        const std::filesystem::path log = options.serverLog;
        if (log.has_parent_path()) {
            std::filesystem::create_directories(log.parent_path());
        }
        server.emplace(folder / executableName("kestrune-duel-server"),
                       std::vector<std::string>{"--listen=127.0.0.1:0", "--bot"}, log);
        const std::string port = waitForServerPort(*server, log);
        out << "kestrune-play: online against a bot on a local duel server, 127.0.0.1:" << port
            << " (its log: " << log.string() << ")\n";
        arguments.push_back("--server=127.0.0.1:" + port);
    } else {
        out << (options.online ? "kestrune-play: online on the given server\n" : "kestrune-play: offline duel\n");
    }
    arguments.insert(arguments.end(), options.programArguments.begin(), options.programArguments.end());
    out << "kestrune-play: " << program.string();
    for (const std::string& argument : arguments) out << ' ' << argument;
    out << std::endl;

    ChildProcess game(program, arguments, std::nullopt);
    const int code = game.waitPassingOnInterrupts();
    if (server) {
        server->stop(kServerStopGrace);
        out << "kestrune-play: the duel server stopped\n";
    }
    return code;
}

}  // namespace

int runLauncher(std::span<const std::string> arguments, std::ostream& out, std::ostream& err) {
    LauncherOptions options;
    try {
        options = parseLauncherOptions(arguments);
    } catch (const std::invalid_argument& error) {
        err << "kestrune-play: " << error.what() << '\n' << launcherUsageText();
        return 2;
    }
    if (options.help) {
        out << launcherUsageText();
        return 0;
    }
    try {
        return play(options, out);
    } catch (const std::exception& error) {
        err << "kestrune-play: " << error.what() << '\n';
        return 1;
    }
}

}  // namespace kestrune::launcher
