#include "app/application.h"

#include <exception>
#include <memory>
#include <string_view>

#include "app/boot_coordinator.h"
#include "app/command_line.h"
#include "app/launch_options.h"
#include "app/log.h"
#include "app/native_client.h"
#include "app/run_summary.h"
#include "app/session_payload.h"
#include "app/smoke_report.h"
#include "app/system_output.h"
#include "base/utf16.h"
#include "base/utf8.h"

namespace kestrune::app {
namespace {

// The shell's own messages are ASCII. Others (a file-system error quoting a path) are
// shown as UTF-8 when they are well-formed UTF-8, else one character per byte.
std::u16string widenMessage(std::string_view message) {
    return isWellFormedUtf8(message) ? utf16FromUtf8Lossy(message) : utf16FromLatin1(message);
}

std::u16string singleLine(std::u16string text) {
    for (char16_t& unit : text) {
        if (unit == u'\n' || unit == u'\r') {
            unit = u' ';
        }
    }
    return text;
}

RunSummary failureSummary(std::u16string message) {
    RunSummary summary;
    summary.success = false;
    summary.error = std::move(message);
    summary.renderer.info.msaaSampleCount = 1;
    return summary;
}

// Runs with the host already torn down. `options` is the final record: default until the
// command line, validation and the session payload have all succeeded, so an error found
// there always shows the box and writes no report.
int handleFatalError(std::string_view what, const LaunchOptions& options, Log* log) {
    const std::u16string message = widenMessage(what);
    if (log != nullptr) {
        log->write(kLogError, message);
    }
    try {
        writeSmokeReport(options.reportPath, failureSummary(message));
    } catch (const std::exception&) {
        // The run has already failed with `message`; a report that cannot be written
        // must not replace it.
    }
    // Before the box, which waits for a click: a script reads the message at once.
    writeStandardErrorLine(singleLine(message));
    if (!options.smokeTest) {
        showFatalErrorMessageBox(message);
    }
    return 1;
}

LaunchOptions readLaunchOptions(const std::vector<std::u16string>& arguments) {
    ParsedCommandLine parsed = parseCommandLine(arguments);
    if (parsed.sessionPipeHandle) {
        SessionPayload payload = readLauncherSessionPipe(*parsed.sessionPipeHandle);
        parsed.options.gameTicket = std::move(payload.gameTicket);
        parsed.options.characterName = std::move(payload.characterName);
    }
    return std::move(parsed.options);
}

}  // namespace

int runApplication(const CommandLineReader& readArguments) {
    LaunchOptions finalOptions;
    std::unique_ptr<Log> log;
    std::unique_ptr<NativeClient> host;
    try {
        const std::vector<std::u16string> arguments = readArguments();
        if (asksForHelp(arguments)) {
            writeStandardOutput(utf16FromUtf8Lossy(helpText()));
            return 0;
        }
        finalOptions = readLaunchOptions(arguments);
        log = std::make_unique<Log>(finalOptions.logPath);
        host = std::make_unique<NativeClient>(finalOptions, log.get());
        const RunSummary summary = BootCoordinator(*host).run();
        writeSmokeReport(finalOptions.reportPath, summary);
        host.reset();
        log.reset();
        return 0;
    } catch (const std::exception& error) {
        // Window, renderer and network session are gone before anything is reported.
        host.reset();
        return handleFatalError(error.what(), finalOptions, log.get());
    }
}

int runApplication(const std::vector<std::u16string>& arguments) {
    return runApplication([&arguments] { return arguments; });
}

}  // namespace kestrune::app
