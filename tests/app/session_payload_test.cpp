#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <vector>

#include "app/session_payload.h"
#include "app/chunked_stream.h"
#include "app/test_support.h"

namespace kestrune::app {
namespace {

using namespace testing;  // the chunked stream and the refusals

constexpr auto header = &testing::sessionPayloadHeader;

// Bytes 0 to 255 in turn: the payload is stored without interpretation, NUL and 0xFF too.
std::string bytesFrom(unsigned first, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += static_cast<char>((first + i) & 0xFF);
    return out;
}

constexpr auto expectRuntimeError = &testing::expectThrowWith<std::runtime_error>;

TEST(SessionPayload, ReadsExactlyTheRecordInAnyChunking) {
    const struct { u16 ticketBytes; u16 nameBytes; std::size_t chunkBytes; } cases[] = {
        {1, 1, 1}, {256, 24, 1}, {256, 24, 4096}, {17, 5, 3}, {200, 24, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.ticketBytes) + "+" + std::to_string(c.nameBytes) + " by " +
                     std::to_string(c.chunkBytes));
        const std::string ticket = bytesFrom(250, c.ticketBytes);
        const std::string name = bytesFrom(65, c.nameBytes);
        ChunkedStream stream(header("KSN1", c.ticketBytes, c.nameBytes) + ticket + name + "trailing bytes",
                              c.chunkBytes);
        const SessionPayload payload = readSessionPayload(stream);
        // the trailing bytes stay unread
        EXPECT_EQ(std::tuple(payload.gameTicket, payload.characterName, stream.consumed),
                  std::tuple(ticket, name, 8u + c.ticketBytes + c.nameBytes));
    }
}

TEST(SessionPayload, RefusesBadHeadersBeforeReadingTheBody) {
    const std::string body = bytesFrom(0, 400);
    const struct { const char* name; std::string bytes; std::string message; std::size_t consumed; } cases[] = {
        {"ticket of 257", header("KSN1", 257, 24) + body, kOverLimits, 8},
        {"name of 25", header("KSN1", 256, 25) + body, kOverLimits, 8},
        {"empty ticket", header("KSN1", 0, 5) + body, kOverLimits, 8},
        {"empty name", header("KSN1", 5, 0) + body, kOverLimits, 8},
        {"lengths read big-endian would pass", header("KSN1", 0x0100, 0x0100) + body, kOverLimits, 8},
        {"magic letters reordered", header("1NSK", 1, 1) + body, kBadSignature, 8},
        {"magic in lower case", header("ksn1", 1, 1) + body, kBadSignature, 8},
        {"another version", header("KSN2", 1, 1) + body, kBadSignature, 8}, {"nothing at all", "", kReadFailure, 0},
        {"header cut short", header("KSN1", 1, 1).substr(0, 7), kReadFailure, 7},
        {"body one byte short", header("KSN1", 3, 2) + "abcd", kReadFailure, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChunkedStream stream(c.bytes, 5);
        expectRuntimeError([&] { readSessionPayload(stream); }, c.message);
        EXPECT_EQ(stream.consumed, c.consumed);
    }
}

TEST(SessionPayload, ExactReadAsksForTheMissingCountEachTime) {
    ChunkedStream stream(std::string(20, 'x'), 3);
    std::vector<std::byte> buffer(10);
    readExactly(stream, buffer);
    ChunkedStream untouched("", 3);
    readExactly(untouched, {});
    EXPECT_EQ(std::tuple(stream.requests, untouched.requests.empty()),
              std::tuple(std::vector<std::size_t>{10, 7, 4, 1}, true));
}

// ---- Through real pipes, handed over by handle value as the launcher does ----

TEST(SessionPipe, ReadsARealPipeAndClosesItWhateverTheOutcome) {
    const std::string ticket = bytesFrom(0, 256);
    const std::string name = "Twenty-four byte fighter";
    // message: empty when the payload is read
    const struct { const char* name; std::string written; std::string message; } cases[] = {
        {"the largest record, then more", header("KSN1", 256, 24) + ticket + name + "and more after it", ""},
        {"short write, then the writer closes", "KSN1\x01", kReadFailure},
        {"bad signature", header("NSK1", 1, 1) + "tn", kBadSignature}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TestPipe pipe;
        pipe.write(c.written);
        pipe.closeWriteEnd();
        const u64 handle = pipe.handOverReadEnd();
        if (c.message.empty()) {
            const SessionPayload payload = readLauncherSessionPipe(handle);
            EXPECT_EQ(std::tuple(payload.gameTicket, payload.characterName), std::tuple(ticket, name));
        } else {
            expectRuntimeError([&] { readLauncherSessionPipe(handle); }, c.message);
        }
        EXPECT_FALSE(testing::isHandleOpen(handle));
    }
}

TEST(SessionPipe, RefusesHandlesThatAreNotPipesAndClosesThem) {
    const testing::ScratchDirectory scratch;
    const u64 file = testing::openRegularFileHandle(scratch / "payload.bin");
    testing::expectThrowWith<std::invalid_argument>([&] { readLauncherSessionPipe(file); },
                                                    "--session-pipe does not reference an inherited pipe.");
    EXPECT_FALSE(testing::isHandleOpen(file));
    EXPECT_THROW(readLauncherSessionPipe(~u64{0}), std::invalid_argument);
}

}  // namespace
}  // namespace kestrune::app
