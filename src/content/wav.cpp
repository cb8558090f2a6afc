#include "content/wav.h"

#include <array>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/byte_reader.h"
#include "base/byte_writer.h"
#include "base/little_endian.h"
#include "content/content_file.h"
#include "content/model.h"

namespace kestrune::content {
namespace {

constexpr u16 kFormatPcm = 1;
constexpr u16 kFormatExtensible = 0xFFFE;
constexpr u16 kChannels = 1;
constexpr u16 kBitsPerSample = 16;
constexpr u16 kBlockAlignBytes = kChannels * kBitsPerSample / 8;
constexpr u32 kByteRate = kSoundSampleRate * kBlockAlignBytes;
constexpr std::size_t kRiffHeaderBytes = 12;   // "RIFF", size, "WAVE"
constexpr std::size_t kChunkHeaderBytes = 8;   // id, size
constexpr u32 kFmtPcmBytes = 16;
constexpr std::size_t kPlainHeaderBytes = kRiffHeaderBytes + kChunkHeaderBytes + kFmtPcmBytes + kChunkHeaderBytes;
static_assert(kByteRate == 96000 && kBlockAlignBytes == 2, "sounds: 48 kHz, 16-bit, mono");
static_assert(kPlainHeaderBytes == 44, "the plain WAV header");
static_assert(kPlainHeaderBytes + kMaxSoundSamples * kBlockAlignBytes <= kMaxSoundFileBytes,
              "the longest sound fits the file-size limit");

using FourCc = std::array<char, 4>;
constexpr FourCc kRiff{'R', 'I', 'F', 'F'};
constexpr FourCc kWave{'W', 'A', 'V', 'E'};
constexpr FourCc kFmt{'f', 'm', 't', ' '};
constexpr FourCc kData{'d', 'a', 't', 'a'};

FourCc fourCc(std::span<const std::byte> bytes) noexcept {
    FourCc id{};
    std::memcpy(id.data(), bytes.data(), id.size());
    return id;
}

// A chunk id as a message shows it: hostile files put any byte there, so anything but
// printable ASCII is shown as '?'.
std::string printable(const FourCc& id) {
    std::string text = "\"";
    for (char c : id) text += (c >= 0x20 && c < 0x7F) ? c : '?';
    return text + "\"";
}

class WavDecoder {
public:
    WavDecoder(std::span<const std::byte> bytes, std::string_view sourceName)
        : bytes_(bytes), sourceName_(sourceName), reader_(bytes, TruncationHandler{this}) {}

    std::vector<i16> decode() {
        decodeRiffHeader();
        // Chunks follow each other to the end of the file, which the RIFF header's size
        // has been checked to match.
        while (!reader_.atEnd()) {
            decodeChunk();
        }
        if (!sawFmt_) fail("no \"fmt \" chunk");
        if (!data_) fail("no \"data\" chunk");
        std::vector<i16> samples(data_->size() / kBlockAlignBytes);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<i16>(loadU16le(data_->data() + i * kBlockAlignBytes));
        }
        return samples;
    }

private:
    struct TruncationHandler {
        WavDecoder* decoder;
        [[noreturn]] void operator()(std::size_t offset, std::string_view label) const {
            decoder->fail(std::string(label) + " at byte " + std::to_string(offset) + " is truncated");
        }
    };

    [[noreturn]] void fail(const std::string& fault) const {
        std::string message(sourceName_);
        message += ": ";
        message += fault;
        throw ContentError(message);
    }

    // The RIFF chunk must span the file exactly. A larger size means the file was cut short;
    // a smaller one leaves bytes no chunk owns, which the decoder does not guess about.
    void decodeRiffHeader() {
        if (bytes_.size() < kRiff.size() || fourCc(bytes_) != kRiff) fail("not a WAV file (no RIFF header)");
        reader_.take(kRiff.size(), "RIFF id");
        const u32 riffBytes = reader_.u32le("RIFF size");
        const FourCc form = fourCc(reader_.take(kWave.size(), "RIFF form type"));
        if (form != kWave) fail("not a WAV file (RIFF form " + printable(form) + ", not \"WAVE\")");
        const u64 fileBytes = bytes_.size();
        const u64 statedBytes = u64{riffBytes} + kChunkHeaderBytes;
        if (statedBytes > fileBytes) {
            fail("RIFF size " + std::to_string(riffBytes) + " runs past the end of the file (" +
                 std::to_string(fileBytes) + " bytes): the file is cut short");
        }
        if (statedBytes < fileBytes) {
            fail(std::to_string(fileBytes - statedBytes) + " bytes after the end of the RIFF chunk");
        }
    }

    void decodeChunk() {
        const std::size_t chunkStart = reader_.offset();
        const FourCc id = fourCc(reader_.take(4, "chunk id"));
        const u32 chunkBytes = reader_.u32le("chunk size");
        if (chunkBytes > reader_.remaining()) {
            fail(printable(id) + " chunk at byte " + std::to_string(chunkStart) + " claims " +
                 std::to_string(chunkBytes) + " bytes; only " + std::to_string(reader_.remaining()) + " follow");
        }
        const std::span<const std::byte> body = reader_.take(chunkBytes, "chunk body");
        // Odd-sized chunks are followed by a pad byte. Some writers leave it off the last
        // chunk; the file's end stands in for it there.
        if (chunkBytes % 2 != 0 && !reader_.atEnd()) {
            reader_.take(1, "chunk pad byte");
        }
        if (id == kFmt) {
            decodeFmt(body);
        } else if (id == kData) {
            decodeData(body);
        }
    }

    void decodeFmt(std::span<const std::byte> body) {
        if (sawFmt_) fail("more than one \"fmt \" chunk");
        if (data_) fail("\"data\" chunk before the \"fmt \" chunk");
        sawFmt_ = true;
        if (body.size() < kFmtPcmBytes) {
            fail("\"fmt \" chunk of " + std::to_string(body.size()) + " bytes; PCM needs " +
                 std::to_string(kFmtPcmBytes));
        }
        // Any extension bytes past the first 16 carry nothing PCM needs.
        const std::byte* p = body.data();
        const u16 formatTag = loadU16le(p);
        const u16 channels = loadU16le(p + 2);
        const u32 sampleRate = loadU32le(p + 4);
        const u32 byteRate = loadU32le(p + 8);
        const u16 blockAlign = loadU16le(p + 12);
        const u16 bitsPerSample = loadU16le(p + 14);
        if (formatTag == kFormatExtensible) fail("WAVE_FORMAT_EXTENSIBLE; sounds must be plain PCM (format 1)");
        if (formatTag != kFormatPcm) {
            fail("format " + std::to_string(formatTag) + "; sounds must be PCM (format 1)");
        }
        if (channels != kChannels) fail(std::to_string(channels) + " channels; sounds must be mono");
        if (sampleRate != kSoundSampleRate) {
            fail(std::to_string(sampleRate) + " Hz; sounds must be " + std::to_string(kSoundSampleRate) + " Hz");
        }
        if (bitsPerSample != kBitsPerSample) {
            fail(std::to_string(bitsPerSample) + " bits per sample; sounds must be 16-bit");
        }
        if (blockAlign != kBlockAlignBytes) {
            fail("block align " + std::to_string(blockAlign) + "; 16-bit mono needs 2");
        }
        if (byteRate != kByteRate) {
            fail("byte rate " + std::to_string(byteRate) + "; 48000 Hz 16-bit mono needs 96000");
        }
    }

    void decodeData(std::span<const std::byte> body) {
        if (data_) fail("more than one \"data\" chunk");
        if (!sawFmt_) fail("\"data\" chunk before the \"fmt \" chunk");
        if (body.size() % kBlockAlignBytes != 0) {
            fail("\"data\" chunk of " + std::to_string(body.size()) + " bytes is not a whole number of samples");
        }
        const u64 sampleCount = body.size() / kBlockAlignBytes;
        if (sampleCount == 0) fail("\"data\" chunk holds no samples");
        if (sampleCount > kMaxSoundSamples) {
            fail(std::to_string(sampleCount) + " samples; sounds hold at most " + std::to_string(kMaxSoundSamples) +
                 " (10 s)");
        }
        data_ = body;
    }

    std::span<const std::byte> bytes_;
    std::string_view sourceName_;
    ByteReader<TruncationHandler> reader_;
    bool sawFmt_ = false;
    std::optional<std::span<const std::byte>> data_;
};

}  // namespace

std::vector<i16> decodeWav(std::span<const std::byte> bytes, std::string_view sourceName) {
    return WavDecoder(bytes, sourceName).decode();
}

std::vector<i16> loadWav(const std::filesystem::path& path) {
    const std::vector<std::byte> bytes = readWholeFile(path, kMaxSoundFileBytes, ContentFileKind::Wav);
    return decodeWav(bytes, path.string());
}

std::vector<std::byte> encodeWav(std::span<const i16> samples) {
    if (samples.empty() || samples.size() > kMaxSoundSamples) {
        throw std::invalid_argument("WAV encoding of " + std::to_string(samples.size()) +
                                    " samples; a sound holds 1 to " + std::to_string(kMaxSoundSamples));
    }
    const u32 dataBytes = static_cast<u32>(samples.size() * kBlockAlignBytes);
    ByteWriter out(kPlainHeaderBytes + dataBytes);
    out.append(std::string_view(kRiff.data(), kRiff.size()));
    out.u32le(static_cast<u32>(kPlainHeaderBytes - kChunkHeaderBytes + dataBytes));
    out.append(std::string_view(kWave.data(), kWave.size()));
    out.append(std::string_view(kFmt.data(), kFmt.size()));
    out.u32le(kFmtPcmBytes);
    out.u16le(kFormatPcm);
    out.u16le(kChannels);
    out.u32le(kSoundSampleRate);
    out.u32le(kByteRate);
    out.u16le(kBlockAlignBytes);
    out.u16le(kBitsPerSample);
    out.append(std::string_view(kData.data(), kData.size()));
    out.u32le(dataBytes);
    for (const i16 sample : samples) out.u16le(static_cast<u16>(sample));
    return out.release();
}

}  // namespace kestrune::content
