#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "app/command_line.h"
#include "app/command_line_messages.h"
#include "app/test_support.h"
#include "app/text_conversion.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

TEST(CommandLine, EachFormSetsItsFieldsAndLaterOccurrencesWin) {
    const LaunchOptions server{.serverHost = "h", .serverPort = 1};
    const struct {
        const char* name;
        std::vector<std::u16string> arguments;
        LaunchOptions expected;
        std::optional<u64> sessionPipeHandle = std::nullopt;
    } cases[] = {
        {"nothing: the defaults", {}, {}}, {"smoke test", {u"--smoke-test"}, {.smokeTest = true}},
        {"content smoke", {u"--content-smoke", u"--content=rt"},
         {.smokeTest = true, .contentSmoke = true, .contentDirectory = "rt"}},
        {"flags", {u"--warp", u"--show", u"--no-vsync"}, {.useWarp = true, .showWindow = true, .vsync = false}},
        {"frame bounds and leading zeros", {u"--frames=1", u"--width=0320", u"--height=240"},
         {.frames = 1, .width = 320, .height = 240}},
        {"largest values", {u"--frames=10000", u"--width=4294967295", u"--height=00004294967295"},
         {.frames = 10000, .width = 4294967295u, .height = 4294967295u}},
        {"paths, empty ones too", {u"--report=out/r.json", u"--log=", u"--screenshot=s.bmp", u"--content="},
         {.reportPath = "out/r.json", .screenshotPath = "s.bmp", .logPath = ""}},
        {"non-ASCII path", {u"--report=d\u00e9j\u00e0/\u6e2c.json"},
         {.reportPath = pathFromUtf16(u"d\u00e9j\u00e0/\u6e2c.json")}},
        {"IPv6 host: the last colon splits", {u"--server=::1:7777"}, {.serverHost = "::1"}},
        {"port bounds", {u"--server=a:1", u"--server=game.example:65535"},
         {.serverHost = "game.example", .serverPort = 65535}},
        {"non-ASCII host is kept as UTF-8", {u"--server=b\u00fccher:080"},
         {.serverHost = "b\xC3\xBC" "cher", .serverPort = 80}},
        {"class", {u"--class=templar"}, {.characterClass = CharacterClass::templar}},
        {"later ones win", {u"--class=templar", u"--class=warrior", u"--frames=3", u"--frames=5"}, {.frames = 5}},
        {"fixed rate, trace and scripted keys in frame order, taps released a frame later",
         {u"--fixed-fps=1000", u"--trace=t.jsonl", u"--keys=5:+w,9:-W,12:2,3:Space,4:ESCAPE,4:+shift,4:-TaB"},
         {.fixedFps = 1000, .tracePath = "t.jsonl",
          .keyScript = {{3, 0x20, true}, {4, 0x20, false}, {4, 0x1B, true}, {4, 0x10, true}, {4, 0x09, false},
                        {5, 'W', true}, {5, 0x1B, false}, {9, 'W', false}, {12, '2', true}, {13, '2', false}}}},
        {"slowest fixed rate", {u"--fixed-fps=1"}, {.fixedFps = 1}},
        {"a recording", {u"--record=r.krpl"}, {.recordPath = "r.krpl"}},
        {"a name of 24 bytes, the overlay from the start, F3 typed", {u"--name=Zo\u00eb \u00c5ngstr\u00f6m-Nakamura", u"--net-overlay", u"--keys=7:F3"},
         {.characterName = "Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m-Nakamura", .keyScript = {{7, 0x72, true}, {8, 0x72, false}},
          .netOverlay = true}},
        {"a replay at the slowest speed, arrows typed", {u"--replay=r.krpl", u"--content=c", u"--replay-speed=0.1", u"--keys=2:Right,3:left,3:UP,3:down"},
         {.contentDirectory = "c", .keyScript = {{2, 0x27, true}, {3, 0x27, false}, {3, 0x25, true}, {3, 0x26, true},
                                                 {3, 0x28, true}, {4, 0x25, false}, {4, 0x26, false}, {4, 0x28, false}},
          .replayPath = "r.krpl", .replaySpeed = 0.1}},
        {"the fastest replay, its digits", {u"--replay-speed=10", u"--replay-speed=0010.000000"}, {.replaySpeed = 10.0}},
        {"a replay's speed in hundredths", {u"--replay-speed=1.25"}, {.replaySpeed = 1.25}},
        // the pipe handle is kept aside; ticket and name come only from the pipe
        {"pipe handle", {u"--server=h:1", u"--session-pipe=0008"}, server, 8},
        {"largest pipe handle", {u"--session-pipe=18446744073709551615", u"--server=h:1"}, server, ~u64{0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedCommandLine parsed = parseCommandLine(c.arguments);
        EXPECT_TRUE(parsed.options == c.expected);
        EXPECT_EQ(parsed.sessionPipeHandle, c.sessionPipeHandle);
    }
}

TEST(CommandLine, RejectsWithTheMessageOfTheFirstBrokenRule) {
    using namespace testing;
    const std::string& number = kInvalidNumber;
    const std::string width = number + "--width";
    const auto keys = keysRefusal;
    const struct { std::vector<std::u16string> arguments; std::string message; } cases[] = {
        {{u"--width=+320"}, width}, {{u"--width= 320"}, width}, {{u"--width=320 "}, width}, {{u"--width="}, width},
        {{u"--width=4294967296"}, width}, {{u"--width=99999999999999999999"}, width}, {{u"--width=0x140"}, width},
        {{u"--height=-1"}, number + "--height"}, {{u"--frames=1.5"}, number + "--frames"},
        // U+0131 narrowed to its low byte would read as the digit 1
        {{u"--width=\u0131\u0131\u0131\u0131"}, width}, {{u"--width=319"}, kTooSmall}, {{u"--height=239"}, kTooSmall},
        {{u"--frames=0"}, kFramesRange}, {{u"--frames=10001"}, kFramesRange},
        {{u"--frames=0", u"--width=319"}, kTooSmall}, {{u"--content-smoke", u"--frames=0"}, kFramesRange},
        {{u"--content-smoke"}, kContentSmoke}, {{u"--content-smoke", u"--content="}, kContentSmoke},
        {{u"--server=:7777"}, kHostPort}, {{u"--server=host:"}, kHostPort}, {{u"--server=host"}, kHostPort},
        {{u"--server=:"}, kHostPort}, {{u"--server=host:0"}, kPortRange}, {{u"--server=host:65536"}, kPortRange},
        {{u"--server=host:port"}, number + "--server"}, {{u"--server=host:4294967296"}, number + "--server"},
        {{u"--session-pipe=0"}, number + "--session-pipe"},
        {{u"--session-pipe=18446744073709551616"}, number + "--session-pipe"},
        {{u"--server=h:1", u"--session-pipe=5", u"--session-pipe=5"}, kPipeOnce},
        {{u"--session-pipe=5", u"--session-pipe=junk"}, kPipeOnce}, {{u"--session-pipe=5"}, kPipeServer},
        {{u"--session-pipe=5", u"--height=1"}, kTooSmall}, {{u"--fixed-fps=0"}, kFixedFpsRange},
        {{u"--fixed-fps=1001"}, kFixedFpsRange}, {{u"--fixed-fps=sixty"}, number + "--fixed-fps"},
        {{u"--keys="}, keys("")}, {{u"--keys=0:W"}, keys("0:W")}, {{u"--keys=4294967295:W"}, keys("4294967295:W")},
        {{u"--keys=5:WW"}, keys("5:WW")}, {{u"--keys=1:A,5,7:B"}, keys("5")}, {{u"--keys=5:+"}, keys("5:+")},
        {{u"--keys=5:w,"}, keys("")}, {{u"--keys=5:@"}, keys("5:@")}, {{u"--keys=5:spacebar"}, keys("5:spacebar")},
        {{u"--keys=5:\u00e9"}, keys("5:\u00e9")}, {{u"--class=Warrior"}, kClasses}, {{u"--class="}, kClasses},
        {{u"--class=warrior "}, kClasses}, {{u"--Smoke-test"}, kUnknownOption}, {{u"smoke-test"}, kUnknownOption},
        {{u"--smoke-test=1"}, kUnknownOption}, {{u"--width"}, kUnknownOption}, {{u""}, kUnknownOption},
        {{u"--smoke-test", u"--unknown"}, kUnknownOption}, {{u"--frames=0", u"--unknown"}, kUnknownOption},
        {{u"--width=x", u"--unknown"}, width},
        {{u"--replay-speed=0.09"}, kReplaySpeedRange}, {{u"--replay-speed=10.01"}, kReplaySpeedRange},
        {{u"--replay-speed=0"}, kReplaySpeedRange}, {{u"--replay-speed=.5"}, number + "--replay-speed"},
        {{u"--replay-speed=1."}, number + "--replay-speed"}, {{u"--replay-speed=-1"}, number + "--replay-speed"},
        {{u"--replay-speed=1e1"}, number + "--replay-speed"}, {{u"--replay-speed=0.0000001"}, number + "--replay-speed"},
        {{u"--replay=r", u"--content=c", u"--server=h:1"}, kReplayServer},
        {{u"--replay=r", u"--content=c", u"--record=s"}, kReplayRecord}, {{u"--replay=r"}, kReplayContent},
        {{u"--name="}, kName}, {{u"--name=Zo\u00eb \u00c5ngstr\u00f6m-Nakamura!"}, kName}, {{u"--name=a\tb"}, kName},
        {{u"--name=\xD800x"}, kName}};
    for (const auto& c : cases) {
        std::string label;
        for (const auto& argument : c.arguments) label += utf8FromUtf16Lossy(argument) + " ";
        SCOPED_TRACE(label);
        testing::expectThrowWith<std::invalid_argument>([&] { parseCommandLine(c.arguments); }, c.message);
    }
}

// The README's table of options and the help text name the same options, and every line of
// the help is one option.
TEST(CommandLine, HelpNamesTheOptionsOfTheReadmeTable) {
    const std::regex option(R"(--?[a-z][a-z-]*=?)");
    const auto optionsIn = [&](const std::string& text) {
        return std::set<std::string>(std::sregex_token_iterator(text.begin(), text.end(), option), {});
    };
    std::ifstream readme(KESTRUNE_SOURCE_DIR "/README.md");
    std::string line;
    while (std::getline(readme, line) && line != "| Option | Effect |") {}
    std::getline(readme, line);  // |---|---|
    std::set<std::string> documented;
    while (std::getline(readme, line) && line.starts_with("|")) {
        documented.merge(optionsIn(line.substr(0, line.find('|', 1))));
    }
    std::istringstream help(helpText());
    std::getline(help, line);
    EXPECT_EQ(line, "usage: KestruneNative [options]");
    std::set<std::string> helped;
    while (std::getline(help, line)) {
        const std::set<std::string> names = optionsIn(line.substr(0, line.find("  ", 2)));
        EXPECT_FALSE(names.empty()) << line;
        helped.insert(names.begin(), names.end());
    }
    EXPECT_GT(documented.size(), 15u);
    EXPECT_EQ(documented, helped);

    using Arguments = std::vector<std::u16string>;
    EXPECT_EQ(std::tuple(asksForHelp(Arguments{u"--help"}), asksForHelp(Arguments{u"--frames=0", u"-h"}),
                         asksForHelp(Arguments{u"--help=1", u"-H", u"--HELP"})), std::tuple(true, true, false));
}

}  // namespace
}  // namespace kestrune::app
