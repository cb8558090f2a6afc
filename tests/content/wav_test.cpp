#include "content/wav.h"

#include <numeric>
#include <stdexcept>

#include "base/byte_writer.h"
#include "base/little_endian.h"
#include "content_test_support.h"

namespace kestrune::content {
namespace {

using namespace test;

// Files are assembled chunk by chunk here, independently of the encoder, so that the
// encoder's header is checked against the layout and not against itself.
constexpr const char* kSource = "sounds/s.wav";

struct Chunk {
    std::string id;
    std::vector<std::byte> body;
};

struct Fmt {
    u16 format = 1, channels = 1;
    u32 sampleRate = 48000, byteRate = 96000;
    u16 blockAlign = 2, bits = 16;
    std::size_t extensionBytes = 0;  // cbSize and what follows, written as zeros
};

Chunk fmtChunk(const Fmt& f = {}) {
    ByteWriter b;
    b.u16le(f.format);
    b.u16le(f.channels);
    b.u32le(f.sampleRate);
    b.u32le(f.byteRate);
    b.u16le(f.blockAlign);
    b.u16le(f.bits);
    for (std::size_t i = 0; i < f.extensionBytes; ++i) b.u8le(0);
    return {"fmt ", b.release()};
}

Chunk dataChunk(std::span<const i16> samples) {
    ByteWriter b;
    for (i16 s : samples) b.u16le(static_cast<u16>(s));
    return {"data", b.release()};
}

Chunk raw(std::string id, std::size_t sizeBytes, u8 fill = 0x5A) {
    return {std::move(id), std::vector<std::byte>(sizeBytes, std::byte{fill})};
}

// RIFF size counts everything after itself, pad bytes included.
std::vector<std::byte> riff(const std::vector<Chunk>& chunks, std::string_view form = "WAVE") {
    ByteWriter b;
    b.append("RIFF");
    b.u32le(0);
    b.append(form);
    for (const Chunk& c : chunks) {
        b.append(c.id);
        b.u32le(static_cast<u32>(c.body.size()));
        b.append(c.body);
        if (c.body.size() % 2 != 0) b.u8le(0);
    }
    b.patchU32le(4, static_cast<u32>(b.size() - 8));
    return b.release();
}

const std::vector<i16> kSamples = {0, 1, -1, 32767, -32768, 1234, -4321};

std::vector<i16> decode(std::span<const std::byte> bytes) { return decodeWav(bytes, kSource); }

std::string fault(std::string_view text) { return std::string(kSource) + ": " + std::string(text); }

TEST(WavCodec, RoundTripsThroughThePlainHeaderUpToTheLongestSound) {
    std::vector<i16> longest(kMaxSoundSamples);
    for (std::size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<i16>(i * 7919);
    const std::vector<std::vector<i16>> cases = {{0}, {-32768}, kSamples, longest};
    for (const std::vector<i16>& samples : cases) {
        SCOPED_TRACE(samples.size());
        const std::vector<std::byte> file = encodeWav(samples);
        EXPECT_EQ(file, riff({fmtChunk(), dataChunk(samples)}));
        EXPECT_EQ(file.size(), 44 + 2 * samples.size());
        EXPECT_EQ(decode(file), samples);
    }
}

TEST(WavCodec, EncoderRefusesSoundsTheDecoderWouldRefuse) {
    const std::vector<i16> tooLong(kMaxSoundSamples + 1);
    expectError<std::invalid_argument>([] { encodeWav({}); }, "WAV encoding of 0 samples; a sound holds 1 to 480000");
    expectError<std::invalid_argument>([&] { encodeWav(tooLong); },
                                       "WAV encoding of 480001 samples; a sound holds 1 to 480000");
}

// A plain file with one field of the format changed.
std::vector<std::byte> withFmt(const Fmt& f) { return riff({fmtChunk(f), dataChunk(kSamples)}); }

std::vector<std::byte> riffSizePlus(std::vector<std::byte> file, i64 delta) {
    storeU32le(file.data() + 4, static_cast<u32>(loadU32le(file.data() + 4) + delta));
    return file;
}

std::vector<std::byte> appended(std::vector<std::byte> file, std::size_t countBytes, bool counted) {
    file.resize(file.size() + countBytes, std::byte{0x11});
    return counted ? riffSizePlus(std::move(file), static_cast<i64>(countBytes)) : file;
}

TEST(WavDecoder, RefusesDamagedAndHostileFilesNamingTheFault) {
    const std::vector<std::byte> plain = riff({fmtChunk(), dataChunk(kSamples)});  // 58 bytes
    std::vector<std::byte> hugeData = plain;
    storeU32le(hugeData.data() + 40, 0xFFFF'FFF0);
    const std::vector<i16> tooLong(kMaxSoundSamples + 1);

    const struct { const char* name; std::vector<std::byte> file; const char* message; } cases[] = {
        {"empty file", {}, "not a WAV file (no RIFF header)"},
        {"big-endian RIFX", bytesOf("RIFX"), "not a WAV file (no RIFF header)"},
        {"RIFF id alone", bytesOf("RIFF"), "RIFF size at byte 4 is truncated"},
        {"no form type", bytesOf(std::string_view("RIFF\4\0\0\0WAV", 11)), "RIFF form type at byte 8 is truncated"},
        {"AVI form", riff({}, "AVI "), "not a WAV file (RIFF form \"AVI \", not \"WAVE\")"},
        {"RIFF size 2 past the end", riffSizePlus(plain, 2),
         "RIFF size 52 runs past the end of the file (58 bytes): the file is cut short"},
        {"bytes after the RIFF chunk", appended(plain, 2, false), "2 bytes after the end of the RIFF chunk"},
        {"RIFF size 2 short", riffSizePlus(plain, -2), "2 bytes after the end of the RIFF chunk"},
        {"chunk past the end", hugeData, "\"data\" chunk at byte 36 claims 4294967280 bytes; only 14 follow"},
        {"three stray bytes", appended(plain, 3, true), "chunk id at byte 58 is truncated"},
        {"no chunks", riff({}), "no \"fmt \" chunk"},
        {"no data", riff({fmtChunk(), raw("LIST", 4)}), "no \"data\" chunk"},
        {"data first", riff({dataChunk(kSamples), fmtChunk()}), "\"data\" chunk before the \"fmt \" chunk"},
        {"two fmt chunks", riff({fmtChunk(), fmtChunk(), dataChunk(kSamples)}), "more than one \"fmt \" chunk"},
        {"two data chunks", riff({fmtChunk(), dataChunk(kSamples), dataChunk(kSamples)}),
         "more than one \"data\" chunk"},
        {"short fmt", riff({raw("fmt ", 14), dataChunk(kSamples)}), "\"fmt \" chunk of 14 bytes; PCM needs 16"},
        {"float samples", withFmt({.format = 3}), "format 3; sounds must be PCM (format 1)"},
        {"extensible", withFmt({.format = 0xFFFE, .extensionBytes = 24}),
         "WAVE_FORMAT_EXTENSIBLE; sounds must be plain PCM (format 1)"},
        {"stereo", withFmt({.channels = 2}), "2 channels; sounds must be mono"},
        {"44.1 kHz", withFmt({.sampleRate = 44100}), "44100 Hz; sounds must be 48000 Hz"},
        {"1 Hz above", withFmt({.sampleRate = 48001}), "48001 Hz; sounds must be 48000 Hz"},
        {"8-bit", withFmt({.bits = 8}), "8 bits per sample; sounds must be 16-bit"},
        {"block align 4", withFmt({.blockAlign = 4}), "block align 4; 16-bit mono needs 2"},
        {"byte rate 1 above", withFmt({.byteRate = 96001}), "byte rate 96001; 48000 Hz 16-bit mono needs 96000"},
        {"half a sample", riff({fmtChunk(), raw("data", 3)}),
         "\"data\" chunk of 3 bytes is not a whole number of samples"},
        {"empty data", riff({fmtChunk(), raw("data", 0)}), "\"data\" chunk holds no samples"},
        {"one sample too many", riff({fmtChunk(), dataChunk(tooLong)}),
         "480001 samples; sounds hold at most 480000 (10 s)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectError([&] { decode(c.file); }, fault(c.message));
    }
}

std::vector<std::byte> withoutPadByte(std::vector<std::byte> file) {
    file.pop_back();
    return riffSizePlus(std::move(file), -1);
}

TEST(WavDecoder, SkipsOtherChunksAndPadBytesAndReadsFmtExtensions) {
    const struct { const char* name; std::vector<std::byte> file; } cases[] = {
        {"LIST before fmt, odd chunk before data, cue after",
         riff({raw("LIST", 27), fmtChunk(), raw("junk", 1, 0xFF), dataChunk(kSamples), raw("cue ", 5)})},
        {"fmt with cbSize", riff({fmtChunk({.extensionBytes = 2}), dataChunk(kSamples)})},
        {"odd-sized fmt extension", riff({fmtChunk({.extensionBytes = 3}), dataChunk(kSamples)})},
        {"last chunk odd without its pad byte",
         withoutPadByte(riff({fmtChunk(), dataChunk(kSamples), raw("note", 3)}))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(c.file), kSamples);
    }
}

// Every prefix of a file with several chunks is refused. Cut alone, the RIFF size gives it
// away; with the RIFF size made to agree, the chunk walk must still stop at the cut, and
// only a cut between chunks after the samples leaves a whole sound.
TEST(WavDecoder, RefusesEveryTruncationWithoutReadingPastTheCut) {
    const std::vector<std::byte> file =
        riff({raw("LIST", 9), fmtChunk(), raw("junk", 3), dataChunk(kSamples), raw("cue ", 4)});
    const std::size_t dataEnd = file.size() - 12;
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        SCOPED_TRACE(cut);
        // A copy of exactly the prefix, so that AddressSanitizer sees any read past the cut.
        const std::vector<std::byte> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        const std::string expected =
            cut < 4  ? "not a WAV file (no RIFF header)"
            : cut < 8  ? "RIFF size at byte 4 is truncated"
            : cut < 12 ? "RIFF form type at byte 8 is truncated"
                       : "RIFF size " + std::to_string(file.size() - 8) + " runs past the end of the file (" +
                             std::to_string(cut) + " bytes): the file is cut short";
        expectError([&] { decode(prefix); }, fault(expected));
        if (cut < 12) continue;
        std::vector<std::byte> agreeing = prefix;
        storeU32le(agreeing.data() + 4, static_cast<u32>(cut - 8));
        if (cut == dataEnd) {
            EXPECT_EQ(decode(agreeing), kSamples);
        } else {
            EXPECT_THROW(decode(agreeing), ContentError);
        }
    }
}

TEST(WavFile, LoadsWithinTheSizeLimitAndNamesThePathInEveryFault) {
    const ScratchDirectory scratch;
    const std::filesystem::path good = scratch.write("good.wav", encodeWav(kSamples));
    EXPECT_EQ(loadWav(good), kSamples);

    const std::filesystem::path damaged = scratch.write("damaged.wav", withFmt({.sampleRate = 44100}));
    expectError([&] { loadWav(damaged); }, damaged.string() + ": 44100 Hz; sounds must be 48000 Hz");
    const std::filesystem::path missing = scratch.file("missing.wav");
    expectError([&] { loadWav(missing); }, "cannot open WAV: " + missing.string());
    // One byte over the limit is refused before it is read; at the limit the decoder decides.
    for (const u64 sizeBytes : {kMaxSoundFileBytes, kMaxSoundFileBytes + 1}) {
        SCOPED_TRACE(sizeBytes);
        const std::filesystem::path big = scratch.write("big.wav", std::vector<std::byte>(sizeBytes));
        expectError([&] { loadWav(big); },
                    sizeBytes > kMaxSoundFileBytes ? "WAV exceeds configured file-size limit: " + big.string()
                                                   : big.string() + ": not a WAV file (no RIFF header)");
    }
}

}  // namespace
}  // namespace kestrune::content
