// Fuzzes the command-line parser. Input: UTF-8 text, one argument per line. Checks that
// every accepted command line keeps the promises of validation and that every refusal
// carries one of the known messages.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/command_line_messages.h"
#include "base/utf16.h"

namespace {

bool isKnownMessage(std::string_view message) {
    using namespace kestrune::app::testing;
    for (const std::string& text : {kTooSmall, kFramesRange, kFixedFpsRange, kUnknownOption, kHostPort, kPortRange,
                                    kClasses, kContentSmoke, kPipeOnce, kPipeServer, kReplaySpeedRange, kReplayServer,
                                    kReplayRecord, kReplayContent}) {
        if (message == text) return true;
    }
    return message.starts_with(kInvalidNumber + "--") || message.starts_with("--keys entry \"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrune::app;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::u16string> arguments;
    std::size_t start = 0;
    while (start <= input.size()) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        arguments.push_back(kestrune::utf16FromUtf8Lossy(input.substr(start, end - start)));
        start = end + 1;
    }
    try {
        const ParsedCommandLine parsed = parseCommandLine(arguments);
        const LaunchOptions& o = parsed.options;
        const bool valid = o.width >= kMinimumWidthPixels && o.height >= kMinimumHeightPixels &&
                           o.frames >= kMinimumFrames && o.frames <= kMaximumFrames &&
                           (!o.contentSmoke || (o.smokeTest && !o.contentDirectory.empty())) &&
                           (!parsed.sessionPipeHandle || (*parsed.sessionPipeHandle != 0 && !o.serverHost.empty())) &&
                           (o.serverHost.empty() || o.serverPort != 0) && o.gameTicket.empty() &&
                           o.characterName == "NativeFighter";
        if (!valid) __builtin_trap();
    } catch (const std::invalid_argument& error) {
        if (!isKnownMessage(error.what())) __builtin_trap();
    }
    return 0;
}
