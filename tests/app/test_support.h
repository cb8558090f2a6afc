#pragma once
// Helpers of the shell's tests: scratch directories, whole-file reads, and the platform
// pieces (pipes handed over by handle value, runs of the built program) that the
// _posix and _win32 files provide.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "base/types.h"

namespace kestrune::app::testing {

// A fresh directory under the system's temporary directory, removed with its contents.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // `child` is UTF-8.
    std::filesystem::path operator/(std::string_view child) const;

private:
    std::filesystem::path path_;
};

std::optional<std::string> readFileBytes(const std::filesystem::path& path);

// Runs `action`, which must throw an `Error` saying `message`.
template <typename Error>
void expectThrowWith(const std::function<void()>& action, std::string_view message) {
    try {
        action();
        ADD_FAILURE() << "nothing thrown; expected: " << message;
    } catch (const Error& error) {
        EXPECT_EQ(error.what(), message);
    }
}

// Runs `action` and returns what it wrote to standard error. Linux only: the Windows
// log mirror is the debugger output, so there it runs `action` and returns nothing.
std::optional<std::string> captureStandardError(const std::function<void()>& action);

// The launcher's session record header: magic, then the ticket and name lengths as
// little-endian u16.
std::string sessionPayloadHeader(std::string_view magic, u16 ticketBytes, u16 nameBytes);

// "\n" as a text-mode file holds it: CR LF on Windows, LF on Linux.
std::string_view textFileNewline();
std::string withTextFileNewlines(std::string_view text);

// An anonymous pipe whose read end is named by its numeric handle value, as the launcher
// passes it. The write end stays with the test.
class TestPipe {
public:
    TestPipe();
    ~TestPipe();
    TestPipe(const TestPipe&) = delete;
    TestPipe& operator=(const TestPipe&) = delete;

    u64 readHandleValue() const;
    void write(std::string_view bytes);
    void closeWriteEnd();
    // The read end now belongs to the code under test; the pipe no longer closes it.
    u64 handOverReadEnd();

private:
    static constexpr std::intptr_t kClosed = -1;  // no descriptor or handle has this value
    static void closeEnd(std::intptr_t end);  // the platform's close
    std::intptr_t read_ = kClosed;
    std::intptr_t write_ = kClosed;
};

// A handle that is not a pipe: an open regular file.
u64 openRegularFileHandle(const std::filesystem::path& path);
bool isHandleOpen(u64 handleValue);

// Windows runs can show the fatal-error box and the helper sees it; Linux runs have no
// display, so there is no box to see.
bool messageBoxesObservable();

// One run of the built KestruneNative in `workingDirectory` without a display.
struct ProgramRun {
    int exitCode = -1;
    std::string standardOutput;  // UTF-8
    std::string standardError;   // UTF-8
    // Windows: the caption and text of the error box the run showed, which the helper
    // dismissed. Linux runs have no display and never show one.
    std::optional<std::string> messageBoxCaption;
    std::optional<std::string> messageBoxText;
};

// `pipe`, when given, is inherited by the program; its handle value in the program is
// substituted for "{pipe}" in the arguments.
ProgramRun runProgram(const std::vector<std::string>& arguments, const std::filesystem::path& workingDirectory,
                      TestPipe* pipe = nullptr);

}  // namespace kestrune::app::testing
