// Fuzzes the replay reader: any bytes are refused with a message that names the file, or
// read and played to their end. The first byte picks whether the checksums are made to fit
// first, so that mutations reach the items behind them and not only the checksums.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "base/crc32.h"
#include "base/little_endian.h"
#include "replay/replay_reader.h"

namespace {

using namespace kestrune;
using namespace kestrune::replay;

void resealChecksums(std::vector<std::byte>& bytes) {
    if (bytes.size() < kReplayHeaderBytes) {
        return;
    }
    storeU32le(bytes.data() + kReplayHeaderBytes - 4, crc32(std::span(bytes).first(kReplayHeaderBytes - 4)));
    std::size_t at = kReplayHeaderBytes;
    while (bytes.size() - at >= kReplayFrameHeadBytes) {
        const u32 length = loadU32le(bytes.data() + at);
        if (length > bytes.size() - at - kReplayFrameHeadBytes) {
            return;
        }
        storeU32le(bytes.data() + at + 4, crc32(std::span(bytes).subspan(at + kReplayFrameHeadBytes, length)));
        at += kReplayFrameHeadBytes + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto* first = reinterpret_cast<const std::byte*>(data + 1);
    std::vector<std::byte> bytes(first, first + size - 1);
    if ((data[0] & 1) != 0) {
        resealChecksums(bytes);
    }
    try {
        ReplayReader reader(bytes, "fuzz");
        std::size_t items = 0;
        while (reader.advance()) {
            items += reader.results().size() + reader.events().size() + reader.sentSequences().size() +
                     (reader.snapshot() != nullptr ? 1 : 0) + (reader.sessionEnd() != nullptr ? 1 : 0);
            if (!(reader.seconds() == reader.seconds())) {
                __builtin_trap();  // not a number got through
            }
        }
        if (reader.playedFrames() != reader.frameCount() || items > bytes.size()) {
            __builtin_trap();
        }
    } catch (const std::runtime_error& error) {
        if (!std::string_view(error.what()).starts_with("Replay fuzz ")) {
            __builtin_trap();
        }
    }
    return 0;
}
