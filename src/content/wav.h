#pragma once
// The duel's sound files: RIFF WAVE, uncompressed PCM, 16-bit, 48 kHz, mono. The decoder
// takes exactly that form (other chunks are skipped) and refuses anything else or anything
// damaged with a ContentError naming the file and the fault; the encoder writes the plain
// 44-byte header form the baker ships.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace kestrune::content {

inline constexpr u32 kSoundSampleRate = 48000;
// Longer sounds than this (in samples: 10 s) are refused, as are files above kMaxSoundFileBytes.
inline constexpr u64 kMaxSoundSamples = 10ull * kSoundSampleRate;
inline constexpr u64 kMaxSoundFileBytes = 4ull * 1024 * 1024;

// The samples of a whole WAV file's bytes. The RIFF chunk must span the file exactly (a
// larger size is a cut file, a smaller one leaves bytes no chunk owns); a missing pad byte
// after an odd-sized last chunk is tolerated. Throws ContentError "<sourceName>: <fault>".
std::vector<i16> decodeWav(std::span<const std::byte> bytes, std::string_view sourceName);

// Reads and decodes `path`; ContentError names the file by its narrow path.
std::vector<i16> loadWav(const std::filesystem::path& path);

// The file the decoder reads back to `samples`; throws std::invalid_argument for no samples
// or more than kMaxSoundSamples, which the decoder would refuse.
std::vector<std::byte> encodeWav(std::span<const i16> samples);

}  // namespace kestrune::content
