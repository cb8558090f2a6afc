#pragma once
// Whole-file reads of content under a size limit, and the two ways an expected SHA-256
// digest is written and compared (models and PNG textures word their failures
// differently). Every failure is a ContentError naming the file by its narrow path.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "content/sha256.h"

namespace kestrune::content {

// The kind of file, which picks the wording of the messages ("Kestrune Model", "PNG", "WAV",
// "font").
enum class ContentFileKind { KestruneModel, Png, Wav, Font };

// The whole file in an array of exactly its size. Files above maxFileBytes are refused
// before anything is read; PNG files of 4 GiB or more are refused regardless, since the
// image decoder takes a 32-bit size.
std::vector<std::byte> readWholeFile(const std::filesystem::path& path, u64 maxFileBytes, ContentFileKind kind);

// The same read into caller-owned `bytes`, in pieces of at most `pieceBytes`, calling
// `onPiece` with everything read so far after each piece (always a prefix of `bytes`),
// so that a consumer can start on the first bytes while the rest are read. On failure
// `bytes` still holds the partly read array: the caller releases it once its consumer
// has stopped looking at it.
void readWholeFileInPieces(const std::filesystem::path& path, u64 maxFileBytes, ContentFileKind kind,
                           std::vector<std::byte>& bytes, std::size_t pieceBytes,
                           const std::function<void(std::span<const std::byte> readSoFar)>& onPiece);

// Model form: 64 characters of 0-9, a-f, A-F decoded to 32 bytes; anything else throws
// "expected SHA-256 must contain exactly 64 hexadecimal characters". Absent stays absent.
std::optional<Sha256Digest> decodeExpectedModelDigest(const std::optional<std::string>& expectedHex);

// Throws "<source>: SHA-256 mismatch (actual <HEX>)" when an expected digest differs.
void checkModelDigest(const std::optional<Sha256Digest>& expected, const Sha256Digest& actual,
                      std::string_view sourceName);

// PNG form: checks the text, upper-cases it and compares it with the digest of `fileBytes`
// over all 64 characters, so the time taken does not depend on where they differ.
void checkPngDigest(const std::string& expectedHex, std::span<const std::byte> fileBytes,
                    const std::filesystem::path& path);

}  // namespace kestrune::content
