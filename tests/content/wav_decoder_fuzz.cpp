// libFuzzer target: decodeWav over arbitrary bytes must either throw ContentError or return
// a sound within the limits that the encoder writes and the decoder reads back unchanged.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "content/model.h"
#include "content/wav.h"

using namespace kestrune;
using namespace kestrune::content;

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    std::vector<i16> samples;
    try {
        samples = decodeWav(bytes, "fuzz.wav");
    } catch (const ContentError&) {
        return 0;
    }
    // Every sample occupies two bytes of the input, after at least the 44 bytes of headers.
    if (samples.empty() || samples.size() > kMaxSoundSamples || 44 + 2 * samples.size() > size) {
        std::fprintf(stderr, "decoded %zu samples from %zu bytes\n", samples.size(), size);
        std::abort();
    }
    if (decodeWav(encodeWav(samples), "rewritten.wav") != samples) {
        std::fprintf(stderr, "decoded sound does not survive an encode and a second decode\n");
        std::abort();
    }
    return 0;
}
