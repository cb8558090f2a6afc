#include "app/command_line.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string_view>

#include "app/session_payload.h"
#include "app/text_conversion.h"
#include "base/input_state.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

constexpr u32 kMinimumPort = 1;
constexpr u32 kMaximumPort = 65535;
constexpr u64 kMaximumU32 = 0xFFFFFFFFu;
constexpr u64 kMaximumU64 = ~u64{0};

[[noreturn]] void fail(const std::string& message) { throw std::invalid_argument(message); }

[[noreturn]] void failNumber(std::string_view optionName) {
    fail("Invalid numeric value for " + std::string(optionName));
}

// Plain decimal: at least one digit, nothing but the ASCII digits, leading zeros allowed.
// Units are compared whole, not narrowed to their low byte first, so a character such as
// U+0131 cannot pass for the digit 1.
std::optional<u64> parseDecimal(std::u16string_view text, u64 maximum) {
    if (text.empty()) {
        return std::nullopt;
    }
    u64 value = 0;
    for (const char16_t unit : text) {
        if (unit < u'0' || unit > u'9') {
            return std::nullopt;
        }
        const u64 digit = static_cast<u64>(unit - u'0');
        if (value > (maximum - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

u32 parseU32(std::u16string_view text, std::string_view optionName) {
    const std::optional<u64> value = parseDecimal(text, kMaximumU32);
    if (!value) {
        failNumber(optionName);
    }
    return static_cast<u32>(*value);
}

u64 parsePipeHandle(std::u16string_view text) {
    const std::optional<u64> value = parseDecimal(text, kMaximumU64);
    if (!value || *value == 0) {
        failNumber("--session-pipe");
    }
    return *value;
}

// The last colon splits, so a host that contains colons itself (an IPv6 literal) stands
// as given. The host is kept as UTF-8, the form the socket layer resolves; ASCII hosts,
// the only ones a resolver knows, are unchanged by that.
void parseServer(std::u16string_view value, LaunchOptions& options) {
    const std::size_t colon = value.rfind(u':');
    if (colon == std::u16string_view::npos || colon == 0 || colon + 1 == value.size()) {
        fail("--server must use host:port.");
    }
    const u32 port = parseU32(value.substr(colon + 1), "--server");
    if (port < kMinimumPort || port > kMaximumPort) {
        fail("Server port must be between 1 and 65535.");
    }
    options.serverHost = utf8FromUtf16Lossy(value.substr(0, colon));
    options.serverPort = static_cast<u16>(port);
}

// A name as the duel server takes it: 1 to 24 bytes of UTF-8 without control characters.
std::string parseCharacterName(std::u16string_view value) {
    const bool control = std::ranges::any_of(value, [](char16_t unit) { return unit < 0x20 || unit == 0x7F; });
    std::string name = control ? std::string() : utf8FromUtf16Lossy(value);
    if (name.empty() || name.size() > kMaximumCharacterNameBytes || name.find("\xEF\xBF\xBD") != std::string::npos) {
        fail("--name must be 1 to 24 bytes of UTF-8 text.");
    }
    return name;
}

// Key names of --keys= besides letters and digits, compared in any case ("Space", "TAB").
constexpr struct {
    std::u16string_view name;
    u32 virtualKey;
} kNamedKeys[] = {
    {u"space", kVirtualKeySpace},
    {u"shift", kVirtualKeyShift},
    {u"tab", kVirtualKeyTab},
    {u"escape", kVirtualKeyEscape},
    {u"left", kVirtualKeyLeft},
    {u"up", kVirtualKeyUp},
    {u"right", kVirtualKeyRight},
    {u"down", kVirtualKeyDown},
    {u"f3", kVirtualKeyF3},
};

char16_t lowerAscii(char16_t unit) noexcept {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// 0 for a name that is no key the script can type.
u32 scriptedKeyOf(std::u16string_view name) noexcept {
    if (name.size() == 1) {
        const char16_t unit = lowerAscii(name[0]);
        if (unit >= u'a' && unit <= u'z') {
            return virtualKeyOf(static_cast<char>(unit - u'a' + 'A'));
        }
        if (unit >= u'0' && unit <= u'9') {
            return virtualKeyOf(static_cast<char>(unit));
        }
    }
    for (const auto& named : kNamedKeys) {
        if (std::ranges::equal(name, named.name, [](char16_t a, char16_t b) { return lowerAscii(a) == b; })) {
            return named.virtualKey;
        }
    }
    return 0;
}

// "FRAME:KEY" taps KEY (down at FRAME, up at the next), "FRAME:+KEY" holds it down and
// "FRAME:-KEY" lets it go. The list is kept in frame order; events of one frame stay in the
// order they were written. A broken entry is quoted in the message, so a long list need not
// be searched by hand.
std::vector<ScriptedKey> parseKeyScript(std::u16string_view value) {
    std::vector<ScriptedKey> script;
    while (true) {
        const std::size_t comma = value.find(u',');
        const std::u16string_view item = value.substr(0, comma);
        const std::size_t colon = item.find(u':');
        // 0 stands for a frame that is missing or not a number; it is no frame either.
        const u64 frame =
            colon == std::u16string_view::npos ? 0 : parseDecimal(item.substr(0, colon), kMaximumU32 - 1).value_or(0);
        std::u16string_view name = colon == std::u16string_view::npos ? u"" : item.substr(colon + 1);
        const char16_t mode = name.empty() ? u'\0' : name.front();
        if (mode == u'+' || mode == u'-') {
            name.remove_prefix(1);
        }
        const u32 key = scriptedKeyOf(name);
        if (frame == 0 || key == 0) {
            fail("--keys entry \"" + utf8FromUtf16Lossy(item) +
                 "\" is not FRAME:KEY, FRAME:+KEY or FRAME:-KEY (FRAME from 1; KEY a letter, a digit, Space, Shift, "
                 "Tab, Escape, Left, Up, Right, Down or F3).");
        }
        const u32 at = static_cast<u32>(frame);
        if (mode != u'-') {
            script.push_back({at, key, true});
        }
        if (mode != u'+') {
            script.push_back({mode == u'-' ? at : at + 1, key, false});
        }
        if (comma == std::u16string_view::npos) {
            break;
        }
        value.remove_prefix(comma + 1);
    }
    std::stable_sort(script.begin(), script.end(),
                     [](const ScriptedKey& a, const ScriptedKey& b) { return a.frame < b.frame; });
    return script;
}

// A speed factor such as 2, 0.5 or 1.25: digits with at most one point between them, and
// nothing else (no sign, no exponent), from 0.1 to 10.
f64 parseReplaySpeed(std::u16string_view text) {
    const std::size_t point = text.find(u'.');
    const std::u16string_view whole = text.substr(0, point);
    const std::u16string_view fraction = point == std::u16string_view::npos ? u"" : text.substr(point + 1);
    const std::optional<u64> units = parseDecimal(whole, kMaximumU32);
    const std::optional<u64> parts = fraction.size() <= 6 ? parseDecimal(fraction, kMaximumU32) : std::nullopt;
    if (!units || (point != std::u16string_view::npos && !parts)) {
        failNumber("--replay-speed");
    }
    f64 speed = static_cast<f64>(*units);
    if (parts) {
        speed += static_cast<f64>(*parts) / std::pow(10.0, static_cast<f64>(fraction.size()));
    }
    if (speed < kMinimumReplaySpeed || speed > kMaximumReplaySpeed) {
        fail("--replay-speed must be between 0.1 and 10.");
    }
    return speed;
}

std::optional<std::u16string_view> valueOf(std::u16string_view argument, std::u16string_view prefix) {
    if (!argument.starts_with(prefix)) {
        return std::nullopt;
    }
    return argument.substr(prefix.size());
}

void validate(const ParsedCommandLine& parsed) {
    const LaunchOptions& options = parsed.options;
    if (options.width < kMinimumWidthPixels || options.height < kMinimumHeightPixels) {
        fail("Window dimensions must be at least 320x240.");
    }
    if (options.frames < kMinimumFrames || options.frames > kMaximumFrames) {
        fail("--frames must be between 1 and 10000.");
    }
    if (options.volumePercent > 100) {
        fail("--volume must be between 0 and 100.");
    }
    if (options.fixedFps && (*options.fixedFps < kMinimumFixedFps || *options.fixedFps > kMaximumFixedFps)) {
        fail("--fixed-fps must be between 1 and 1000.");
    }
    if (options.contentSmoke && options.contentDirectory.empty()) {
        fail("--content-smoke requires --content=<runtime directory>.");
    }
    if (parsed.sessionPipeHandle && options.serverHost.empty()) {
        fail("--session-pipe requires --server.");
    }
    if (!options.replayPath.empty() && !options.serverHost.empty()) {
        fail("--replay plays without a server: leave out --server.");
    }
    if (!options.replayPath.empty() && !options.recordPath.empty()) {
        fail("--replay and --record cannot be used together.");
    }
    if (!options.replayPath.empty() && options.contentDirectory.empty()) {
        fail("--replay requires --content=<runtime directory>.");
    }
}

// One line each; the README's table of options names the same ones, which a test checks.
constexpr struct {
    std::string_view form;
    std::string_view effect;
} kOptionHelp[] = {
    {"--smoke-test", "automated run: hidden window (unless --show), no vsync, ends after --frames frames"},
    {"--content-smoke", "a smoke run that must load, upload and draw the scene of --content="},
    {"--frames=N", "frames of a smoke run and frame of the screenshot (1 to 10000, default 8)"},
    {"--width=N", "client width in pixels (at least 320, default 1280)"},
    {"--height=N", "client height in pixels (at least 240, default 720)"},
    {"--report=PATH", "JSON report of the run"},
    {"--log=PATH", "log file (default logs/KestruneNative.log)"},
    {"--screenshot=PATH", "picture of frame --frames: PNG when PATH ends in .png, else BMP"},
    {"--content=DIR", "runtime content directory (without it, a placeholder frame)"},
    {"--server=HOST:PORT", "play online on this duel server"},
    {"--session-pipe=HANDLE", "read the launcher's ticket and name from this inherited pipe"},
    {"--class=warrior|templar", "the character you play (default warrior)"},
    {"--warp", "software renderer"},
    {"--show", "show the window in smoke runs"},
    {"--no-vsync", "present without waiting for the display"},
    {"--fixed-fps=N", "every frame advances the game clock by 1/N s (1 to 1000): the same frames every run"},
    {"--keys=LIST", "keys typed by script, e.g. 10:+W,70:-W,80:2 (FRAME:KEY taps, +KEY holds, -KEY lets go)"},
    {"--trace=PATH", "one JSON line per presented frame"},
    {"--record=PATH", "write a replay of this run"},
    {"--replay=PATH", "play a replay: Space pauses, Right steps while paused, Escape ends"},
    {"--replay-speed=X", "replay X times as fast (0.1 to 10, default 1)"},
    {"--volume=N", "sound volume, 0 to 100 (default 100)"},
    {"--mute", "no sound: the sound device is not opened"},
    {"--name=NAME", "your fighter's name, shown above it and sent to the server (1 to 24 bytes)"},
    {"--net-overlay", "start with the network overlay shown (F3 or the controller's Back button toggles it)"},
    {"--help, -h", "print this help and exit"},
};

}  // namespace

bool asksForHelp(std::span<const std::u16string> arguments) noexcept {
    return std::ranges::any_of(arguments, [](const std::u16string& a) { return a == u"--help" || a == u"-h"; });
}

std::string helpText() {
    constexpr std::size_t kFormColumn = 26;
    std::string text = "usage: KestruneNative [options]\n";
    for (const auto& option : kOptionHelp) {
        text += "  ";
        text += option.form;
        text.append(kFormColumn - std::min(kFormColumn - 1, option.form.size()), ' ');
        text += option.effect;
        text += '\n';
    }
    return text;
}

ParsedCommandLine parseCommandLine(std::span<const std::u16string> arguments) {
    ParsedCommandLine parsed;
    LaunchOptions& options = parsed.options;
    for (const std::u16string& text : arguments) {
        const std::u16string_view argument = text;
        // Whole, case-sensitive comparisons; the first form that matches wins and a later
        // occurrence of an option overwrites an earlier one.
        if (argument == u"--smoke-test") {
            options.smokeTest = true;
        } else if (argument == u"--content-smoke") {
            options.smokeTest = true;
            options.contentSmoke = true;
        } else if (argument == u"--warp") {
            options.useWarp = true;
        } else if (argument == u"--show") {
            options.showWindow = true;
        } else if (argument == u"--no-vsync") {
            options.vsync = false;
        } else if (argument == u"--mute") {
            options.mute = true;
        } else if (argument == u"--net-overlay") {
            options.netOverlay = true;
        } else if (const auto name = valueOf(argument, u"--name=")) {
            options.characterName = parseCharacterName(*name);
        } else if (const auto volume = valueOf(argument, u"--volume=")) {
            options.volumePercent = parseU32(*volume, "--volume");
        } else if (const auto frames = valueOf(argument, u"--frames=")) {
            options.frames = parseU32(*frames, "--frames");
        } else if (const auto fixedFps = valueOf(argument, u"--fixed-fps=")) {
            options.fixedFps = parseU32(*fixedFps, "--fixed-fps");
        } else if (const auto width = valueOf(argument, u"--width=")) {
            options.width = parseU32(*width, "--width");
        } else if (const auto height = valueOf(argument, u"--height=")) {
            options.height = parseU32(*height, "--height");
        } else if (const auto report = valueOf(argument, u"--report=")) {
            options.reportPath = pathFromUtf16(*report);
        } else if (const auto log = valueOf(argument, u"--log=")) {
            options.logPath = pathFromUtf16(*log);
        } else if (const auto keys = valueOf(argument, u"--keys=")) {
            options.keyScript = parseKeyScript(*keys);
        } else if (const auto record = valueOf(argument, u"--record=")) {
            options.recordPath = pathFromUtf16(*record);
        } else if (const auto replay = valueOf(argument, u"--replay=")) {
            options.replayPath = pathFromUtf16(*replay);
        } else if (const auto speed = valueOf(argument, u"--replay-speed=")) {
            options.replaySpeed = parseReplaySpeed(*speed);
        } else if (const auto trace = valueOf(argument, u"--trace=")) {
            options.tracePath = pathFromUtf16(*trace);
        } else if (const auto screenshot = valueOf(argument, u"--screenshot=")) {
            options.screenshotPath = pathFromUtf16(*screenshot);
        } else if (const auto content = valueOf(argument, u"--content=")) {
            options.contentDirectory = pathFromUtf16(*content);
        } else if (const auto server = valueOf(argument, u"--server=")) {
            parseServer(*server, options);
        } else if (const auto pipe = valueOf(argument, u"--session-pipe=")) {
            if (parsed.sessionPipeHandle) {
                fail("--session-pipe can only be supplied once.");
            }
            parsed.sessionPipeHandle = parsePipeHandle(*pipe);
        } else if (argument == u"--class=warrior") {
            options.characterClass = CharacterClass::warrior;
        } else if (argument == u"--class=templar") {
            options.characterClass = CharacterClass::templar;
        } else if (argument.starts_with(u"--class=")) {
            fail("--class must be warrior or templar.");
        } else {
            fail("Unknown command-line option.");
        }
    }
    validate(parsed);
    return parsed;
}

}  // namespace kestrune::app
