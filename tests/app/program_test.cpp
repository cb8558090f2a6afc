// End-to-end runs of the built program: exit code, standard error, log, report, and on
// Windows the fatal-error box (which the helper dismisses).
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <tuple>

#include "app/command_line.h"
#include "app/smoke_report.h"
#include "app/test_support.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

using testing::ProgramRun;
using testing::ScratchDirectory;

std::string lastLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::size_t start = text.find_last_of('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

void expectFatalEnd(const ProgramRun& run, const std::string& message, bool boxShown) {
    EXPECT_EQ(std::tuple(run.exitCode, lastLine(run.standardError)), std::tuple(1, message)) << run.standardError;
    if (!testing::messageBoxesObservable()) return;
    if (boxShown) {
        EXPECT_EQ(std::tuple(run.messageBoxCaption, run.messageBoxText),
                  std::tuple(std::optional<std::string>("Kestrune Native - fatal error"), std::optional(message)));
    } else {
        EXPECT_FALSE(run.messageBoxCaption.has_value()) << "a smoke run showed a box";
    }
}

std::string failureReport(std::u16string_view error) {
    return testing::withTextFileNewlines(
        formatSmokeReport({.error = std::u16string(error), .renderer = {.info = {.msaaSampleCount = 1}}}));
}

// Failed runs end through the fatal path with the message last in standard error. Refused options
// and a refused launcher payload end before any log or report, and even a smoke run shows the box
// for them; later failures end the log when it opened and leave a failure report (here at a
// non-ASCII path). A content smoke run on a directory without content starts the renderer and then
// fails loading the first character, with the decoder's message and the platform's separators.
// Direct3D under Wine 8 has no IDXGISwapChain2, so there the run already fails while creating the
// renderer; real Windows, the Direct3D 11 runtime under Wine and Linux reach the content. The
// launcher's ticket never leaves the process, neither in standard error nor in the log or report.
TEST(Program, FailedRunsEndThroughTheFatalPath) {
    const std::string missingWarrior =
        "cannot open Kestrune Model: " + (std::filesystem::path("content") / "warrior" / "character.kmdl").string();
    const std::string noSwapChain2 = "IDXGISwapChain1::QueryInterface(IDXGISwapChain2) failed with HRESULT 0x80004002";
    const std::string noDisplay =
        "No display: DISPLAY and WAYLAND_DISPLAY are unset, so the window cannot be shown. Run headless with "
        "--smoke-test (it ends after --frames=N frames, 8 by default), or on a virtual screen with xvfb-run -a.";
    const std::string ticket = "SECRET-TICKET-4711";
    enum class End { refused, unlogged, logged };
    // payload: written to the session pipe; message: empty for a socket error, whose words are the platform's
    const struct { std::vector<std::string> arguments; std::string payload; std::string message; End end; } cases[] = {
        {{"--frames=0"}, "", "--frames must be between 1 and 10000.", End::refused},
        // the smoke flag only counts once the options are final
        {{"--smoke-test", "--unknown"}, "", "Unknown command-line option.", End::refused},
        {{"--smoke-test", "--server=127.0.0.1:9", "--session-pipe={pipe}"},
         testing::sessionPayloadHeader("KSN2", 6, 4) + "ticketname",
         "The launcher session payload has an invalid signature.", End::refused},
        {{"--content-smoke", "--content=content", "--frames=2", "--log=out/run.log"}, "", missingWarrior, End::logged},
        {{"--smoke-test", "--log=."}, "", "Unable to create native client log file.", End::unlogged},
        {{"--smoke-test", "--server=127.0.0.1:9", "--session-pipe={pipe}", "--log=out/run.log"},
         testing::sessionPayloadHeader("KSN1", static_cast<u16>(ticket.size()), 4) + ticket + "Aria", "", End::logged},
        {{"--log=out/run.log"}, "", noDisplay, End::logged}};  // a windowed run; Linux runs have no display
    for (auto c : cases) {
        if (c.message == noDisplay && testing::messageBoxesObservable()) continue;  // Windows runs have one
        SCOPED_TRACE(c.message);
        const ScratchDirectory scratch;
        testing::TestPipe pipe;
        pipe.write(c.payload);
        pipe.closeWriteEnd();
        c.arguments.push_back("--report=out/d\xC3\xA9j\xC3\xA0/report.json");
        const ProgramRun run = testing::runProgram(c.arguments, scratch.path(), &pipe);
        const bool windowsWithoutSwapChain2 =
            testing::messageBoxesObservable() && run.standardError.find(noSwapChain2) != std::string::npos;
        std::string message = c.message.empty() ? lastLine(run.standardError) : c.message;
        if (windowsWithoutSwapChain2) {
            message = noSwapChain2;
        } else if (c.message.empty()) {
            EXPECT_TRUE(message.starts_with("connect failed with ")) << message;
        }
        expectFatalEnd(run, message, c.end == End::refused);
        if (c.end == End::refused) {
            EXPECT_EQ(std::pair(std::filesystem::exists(scratch / "logs"), std::filesystem::exists(scratch / "out")),
                      std::pair(false, false));
            continue;
        }
        const std::string log = testing::readFileBytes(scratch / "out/run.log").value_or("");
        const std::string newline(testing::textFileNewline());
        const bool logged = c.end == End::logged;
        const std::regex started(R"(^\S+Z \[INFO\] BootCoordinator start)" + newline);
        EXPECT_EQ(std::pair(std::regex_search(log, started), log.ends_with("[ERROR] " + message + newline)),
                  std::pair(logged, logged)) << log;
        const std::string report = testing::readFileBytes(scratch / "out/d\xC3\xA9j\xC3\xA0/report.json").value_or("");
        EXPECT_EQ(report, failureReport(utf16FromLatin1(message)));
        for (const std::string& output : {run.standardError, log, report}) {
            EXPECT_EQ(output.find(ticket), std::string::npos) << output;
        }
    }
}

// Help wins over every other argument, even a broken one, and leaves no log behind.
TEST(Program, HelpPrintsTheOptionsAndEndsWithExitCodeZero) {
    const ScratchDirectory scratch;
    const ProgramRun run = testing::runProgram({"--frames=0", "--log=run.log", "--help"}, scratch.path());
    const bool logged = std::filesystem::exists(scratch / "run.log");
    EXPECT_EQ(std::tuple(run.exitCode, run.standardOutput, run.standardError, logged),
              std::tuple(0, testing::withTextFileNewlines(helpText()), "", false));
}

}  // namespace
}  // namespace kestrune::app
