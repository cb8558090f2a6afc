// Behaviour that only the Linux build has: descriptors as pipe handles, the standard
// error mirror of the log, and devices that fail on write.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "app/log.h"
#include "app/session_payload.h"
#include "app/smoke_report.h"
#include "app/test_support.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

// A value that truncates to a real pipe's descriptor must not reach that pipe (whose reader
// would find its end at once rather than wait).
TEST(SessionPipeLinux, RefusesValuesBeyondTheDescriptorRange) {
    testing::TestPipe pipe;
    pipe.closeWriteEnd();
    const u64 truncatesToPipe = (u64{1} << 32) + pipe.readHandleValue();
    EXPECT_THROW(readLauncherSessionPipe(truncatesToPipe), std::invalid_argument);
    EXPECT_TRUE(testing::isHandleOpen(pipe.readHandleValue()));
}

TEST(LogLinux, MirrorsTheFullLineToStandardErrorAsUtf8) {
    const testing::ScratchDirectory scratch;
    const auto write = [&] { Log(scratch / "run.log").write(kLogWarn, u"\u0100 and \U0001F600"); };
    const std::string text = testing::captureStandardError(write).value_or("");
    EXPECT_TRUE(text.ends_with("Z [WARN] \xC4\x80 and \xF0\x9F\x98\x80\n")) << text;
    EXPECT_EQ(text.size(), 20 + std::string_view(" [WARN] \xC4\x80 and \xF0\x9F\x98\x80\n").size());
}

TEST(SmokeReportLinux, AReportThatDoesNotReachTheDiskWholeIsAFailure) {
    testing::expectThrowWith<std::runtime_error>([] { writeSmokeReport("/dev/full", RunSummary{}); },
                                                 "Unable to write smoke report.");
}

// A file-system error quotes the path in UTF-8; the message must keep it readable in
// standard error and in the report rather than widening it byte by byte.
TEST(ProgramLinux, NonAsciiMessagesKeepTheirCharacters) {
    const testing::ScratchDirectory scratch;
    std::ofstream(scratch / "d\xC3\xA9j\xC3\xA0");  // a file where the log wants a directory
    const testing::ProgramRun run =
        testing::runProgram({"--smoke-test", "--log=d\xC3\xA9j\xC3\xA0/run.log", "--report=report.json"}, scratch.path());
    EXPECT_EQ(run.exitCode, 1);
    const std::string report = testing::readFileBytes(scratch / "report.json").value_or("");
    for (const std::string& text : {run.standardError, report}) {
        EXPECT_NE(text.find("d\xC3\xA9j\xC3\xA0"), std::string::npos) << text;
        EXPECT_EQ(text.find("\xC3\x83"), std::string::npos) << "double-encoded: " << text;
    }
}

}  // namespace
}  // namespace kestrune::app
