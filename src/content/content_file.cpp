#include "content/content_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>

#include "content/memory_advice.h"
#include "content/model.h"

namespace kestrune::content {
namespace {

// The image decoder's memory stream takes a 32-bit size.
constexpr u64 kPngFileBytesLimit = u64{1} << 32;

std::string_view kindWord(ContentFileKind kind) {
    switch (kind) {
        case ContentFileKind::Png: return "PNG";
        case ContentFileKind::Wav: return "WAV";
        case ContentFileKind::Font: return "font";
        case ContentFileKind::KestruneModel: break;
    }
    return "Kestrune Model";
}

[[noreturn]] void failFile(std::string_view prefix, ContentFileKind kind, std::string_view suffix,
                           const std::filesystem::path& path) {
    std::string message(prefix);
    message += kindWord(kind);
    message += suffix;
    message += path.string();
    throw ContentError(message);
}

int hexNibble(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::vector<std::byte> readWholeFile(const std::filesystem::path& path, u64 maxFileBytes, ContentFileKind kind) {
    std::vector<std::byte> bytes;
    readWholeFileInPieces(path, maxFileBytes, kind, bytes, std::numeric_limits<std::size_t>::max(), {});
    return bytes;
}

void readWholeFileInPieces(const std::filesystem::path& path, u64 maxFileBytes, ContentFileKind kind,
                           std::vector<std::byte>& bytes, std::size_t pieceBytes,
                           const std::function<void(std::span<const std::byte> readSoFar)>& onPiece) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.is_open()) {
        failFile("cannot open ", kind, ": ", path);
    }
    const std::streamoff end = file.tellg();
    if (end < 0) {
        failFile("cannot determine ", kind, " size: ", path);
    }
    const u64 sizeBytes = static_cast<u64>(end);
    if (sizeBytes > maxFileBytes || (kind == ContentFileKind::Png && sizeBytes >= kPngFileBytesLimit) ||
        sizeBytes > std::numeric_limits<std::size_t>::max()) {
        failFile("", kind, " exceeds configured file-size limit: ", path);
    }
    bytes.clear();
    bytes.shrink_to_fit();
    bytes.reserve(static_cast<std::size_t>(sizeBytes));
    adviseLargeBuffer(bytes.data(), bytes.capacity());
    bytes.resize(static_cast<std::size_t>(sizeBytes));  // zero-filled, then overwritten by the read
    if (sizeBytes == 0) {
        return;
    }
    file.seekg(0, std::ios::beg);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t piece = std::min(pieceBytes, bytes.size() - done);
        file.read(reinterpret_cast<char*>(bytes.data() + done), static_cast<std::streamsize>(piece));
        if (!file || static_cast<std::size_t>(file.gcount()) != piece) {
            failFile("short read while loading ", kind, ": ", path);
        }
        done += piece;
        if (onPiece) {
            onPiece(std::span<const std::byte>(bytes.data(), done));
        }
    }
}

std::optional<Sha256Digest> decodeExpectedModelDigest(const std::optional<std::string>& expectedHex) {
    if (!expectedHex) {
        return std::nullopt;
    }
    static constexpr const char* kMessage = "expected SHA-256 must contain exactly 64 hexadecimal characters";
    const std::string& text = *expectedHex;
    if (text.size() != 2 * kSha256DigestBytes) {
        throw ContentError(kMessage);
    }
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = hexNibble(text[2 * i]);
        const int low = hexNibble(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            throw ContentError(kMessage);
        }
        digest[i] = static_cast<u8>((high << 4) | low);
    }
    return digest;
}

void checkModelDigest(const std::optional<Sha256Digest>& expected, const Sha256Digest& actual,
                      std::string_view sourceName) {
    if (expected && *expected != actual) {
        std::string message(sourceName);
        message += ": SHA-256 mismatch (actual ";
        message += toHexUpper(actual);
        message += ')';
        throw ContentError(message);
    }
}

void checkPngDigest(const std::string& expectedHex, std::span<const std::byte> fileBytes,
                    const std::filesystem::path& path) {
    std::string normalised = expectedHex;
    bool wellFormed = normalised.size() == 2 * kSha256DigestBytes;
    for (char& c : normalised) {
        const auto byte = static_cast<unsigned char>(c);
        wellFormed = wellFormed && std::isxdigit(byte) != 0;
        c = static_cast<char>(std::toupper(byte));
    }
    if (!wellFormed) {
        throw ContentError("expected PNG SHA-256 must contain exactly 64 hexadecimal characters");
    }
    const std::string actual = toHexUpper(sha256Digest(fileBytes));
    // OR of all differences: no early exit, so timing does not reveal the first mismatch.
    unsigned difference = 0;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        difference |= static_cast<unsigned>(static_cast<unsigned char>(actual[i]) ^
                                            static_cast<unsigned char>(normalised[i]));
    }
    if (difference != 0) {
        throw ContentError("PNG SHA-256 mismatch for " + path.string() + " (actual " + actual + ")");
    }
}

}  // namespace kestrune::content
