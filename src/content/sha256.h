#pragma once
// SHA-256 (FIPS 180-4) over a whole byte span, and the upper-case hexadecimal text of a
// digest. Two implementations give identical digests: a portable one and one on the
// x86-64 SHA extensions; `sha256Digest(bytes)` picks the latter at run time when the CPU
// has it. Pure functions, safe on any thread; nothing here throws.

#include <array>
#include <cstddef>
#include <span>
#include <string>

#include "base/types.h"

namespace kestrune::content {

inline constexpr std::size_t kSha256DigestBytes = 32;
using Sha256Digest = std::array<u8, kSha256DigestBytes>;

enum class Sha256Path { Portable, ShaExtensions };

// True when this CPU can run `path` (the portable path always can).
bool isSha256PathAvailable(Sha256Path path) noexcept;

// The digest by the fastest available path.
Sha256Digest sha256Digest(std::span<const std::byte> bytes) noexcept;

// The digest by one given path; `path` must be available (tests and benchmarks compare them).
Sha256Digest sha256Digest(std::span<const std::byte> bytes, Sha256Path path) noexcept;

// The digest of bytes that arrive in pieces, in order: finish() gives what sha256Digest
// gives for all of them at once. Not thread-safe; finish() ends the stream.
class Sha256Stream {
public:
    explicit Sha256Stream(Sha256Path path) noexcept;
    Sha256Stream() noexcept;  // the fastest available path

    void update(std::span<const std::byte> bytes) noexcept;
    Sha256Digest finish() noexcept;

    using Compress = void (*)(std::array<u32, 8>& state, const std::byte* blocks, std::size_t blockCount);

private:
    static constexpr std::size_t kBlockBytes = 64;

    Compress compress_;
    std::array<u32, 8> state_;
    std::array<std::byte, kBlockBytes> pending_{};
    std::size_t pendingBytes_ = 0;
    u64 totalBytes_ = 0;
};

// 64 characters from "0123456789ABCDEF", two per byte, high nibble first.
std::string toHexUpper(const Sha256Digest& digest);

}  // namespace kestrune::content
