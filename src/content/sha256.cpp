#include "content/sha256.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace kestrune::content {
namespace {

constexpr std::size_t kBlockBytes = 64;
constexpr std::size_t kLengthFieldBytes = 8;  // message length in bits, big-endian, ends the last block

constexpr std::array<u32, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

// The first 32 bits of the fractional parts of the cube roots of the first 64 primes.
// Aligned so the accelerated path loads four at a time.
alignas(16) constexpr std::array<u32, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

using State = std::array<u32, 8>;

inline u32 loadU32be(const std::byte* p) noexcept {
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) |
           static_cast<u32>(p[3]);
}

inline void storeU32be(u8* p, u32 v) noexcept {
    p[0] = static_cast<u8>(v >> 24);
    p[1] = static_cast<u8>(v >> 16);
    p[2] = static_cast<u8>(v >> 8);
    p[3] = static_cast<u8>(v);
}

void compressPortable(State& state, const std::byte* blocks, std::size_t blockCount) {
    for (std::size_t block = 0; block < blockCount; ++block, blocks += kBlockBytes) {
        std::array<u32, 64> w;
        for (std::size_t t = 0; t < 16; ++t) {
            w[t] = loadU32be(blocks + 4 * t);
        }
        for (std::size_t t = 16; t < 64; ++t) {
            const u32 s0 = std::rotr(w[t - 15], 7) ^ std::rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const u32 s1 = std::rotr(w[t - 2], 17) ^ std::rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        u32 a = state[0], b = state[1], c = state[2], d = state[3];
        u32 e = state[4], f = state[5], g = state[6], h = state[7];
        for (std::size_t t = 0; t < 64; ++t) {
            const u32 sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
            const u32 choose = (e & f) ^ (~e & g);
            const u32 t1 = h + sum1 + choose + kRoundConstants[t] + w[t];
            const u32 sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
            const u32 majority = (a & b) ^ (a & c) ^ (b & c);
            const u32 t2 = sum0 + majority;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

// SHA-NI keeps the eight working variables as two vectors, ABEF and CDGH (A in the
// highest lane). sha256rnds2 runs two rounds and returns the new ABEF; the old ABEF is
// then the new CDGH, so the two registers swap roles every two rounds.
__attribute__((target("sha,sse4.1"))) void compressShaExtensions(State& state, const std::byte* blocks,
                                                                  std::size_t blockCount) {
    // Message words are big-endian: reverse the bytes inside each 32-bit lane.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    const __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data()));
    const __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data() + 4));
    const __m128i badc = _mm_shuffle_epi32(abcd, 0xB1);
    const __m128i hgfe = _mm_shuffle_epi32(efgh, 0x1B);
    __m128i abef = _mm_alignr_epi8(badc, hgfe, 8);
    __m128i cdgh = _mm_blend_epi16(hgfe, badc, 0xF0);

    for (std::size_t block = 0; block < blockCount; ++block, blocks += kBlockBytes) {
        const __m128i savedAbef = abef;
        const __m128i savedCdgh = cdgh;
        // w[g % 4] holds message words 4g .. 4g+3 of the current group g.
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
        }
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            if (group >= 4) {
                // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four words at once.
                __m128i next = _mm_sha256msg1_epu32(w[group % 4], w[(group + 1) % 4]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(w[(group + 3) % 4], w[(group + 2) % 4], 4));
                w[group % 4] = _mm_sha256msg2_epu32(next, w[(group + 3) % 4]);
            }
            const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants.data() + 4 * group));
            const __m128i wk = _mm_add_epi32(w[group % 4], k);
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
            // The roles swapped twice, so abef again holds ABEF.
        }
        abef = _mm_add_epi32(abef, savedAbef);
        cdgh = _mm_add_epi32(cdgh, savedCdgh);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data() + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool cpuHasShaExtensions() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    constexpr unsigned kSsse3Bit = 1u << 9;    // leaf 1, ECX
    constexpr unsigned kSse41Bit = 1u << 19;   // leaf 1, ECX
    if ((ecx & kSsse3Bit) == 0 || (ecx & kSse41Bit) == 0) {
        return false;
    }
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    constexpr unsigned kShaBit = 1u << 29;  // leaf 7 sub-leaf 0, EBX
    return (ebx & kShaBit) != 0;
}

}  // namespace

bool isSha256PathAvailable(Sha256Path path) noexcept {
    static const bool hasShaExtensions = cpuHasShaExtensions();
    return path == Sha256Path::Portable || hasShaExtensions;
}

Sha256Digest sha256Digest(std::span<const std::byte> bytes) noexcept {
    return sha256Digest(bytes, isSha256PathAvailable(Sha256Path::ShaExtensions) ? Sha256Path::ShaExtensions
                                                                                 : Sha256Path::Portable);
}

Sha256Digest sha256Digest(std::span<const std::byte> bytes, Sha256Path path) noexcept {
    Sha256Stream stream(path);
    stream.update(bytes);
    return stream.finish();
}

Sha256Stream::Sha256Stream(Sha256Path path) noexcept
    : compress_(path == Sha256Path::ShaExtensions ? compressShaExtensions : compressPortable),
      state_(kInitialState) {}

Sha256Stream::Sha256Stream() noexcept
    : Sha256Stream(isSha256PathAvailable(Sha256Path::ShaExtensions) ? Sha256Path::ShaExtensions
                                                                     : Sha256Path::Portable) {}

void Sha256Stream::update(std::span<const std::byte> bytes) noexcept {
    if (bytes.empty()) {
        return;
    }
    totalBytes_ += bytes.size();
    if (pendingBytes_ != 0) {
        const std::size_t taken = std::min(kBlockBytes - pendingBytes_, bytes.size());
        std::memcpy(pending_.data() + pendingBytes_, bytes.data(), taken);
        pendingBytes_ += taken;
        bytes = bytes.subspan(taken);
        if (pendingBytes_ < kBlockBytes) {
            return;
        }
        compress_(state_, pending_.data(), 1);
        pendingBytes_ = 0;
    }
    // Whole blocks straight from the input; only a tail is copied.
    const std::size_t fullBlocks = bytes.size() / kBlockBytes;
    if (fullBlocks != 0) {
        compress_(state_, bytes.data(), fullBlocks);
    }
    pendingBytes_ = bytes.size() - fullBlocks * kBlockBytes;
    if (pendingBytes_ != 0) {
        std::memcpy(pending_.data(), bytes.data() + fullBlocks * kBlockBytes, pendingBytes_);
    }
}

Sha256Digest Sha256Stream::finish() noexcept {
    // The tail, the 0x80 marker and the length need one block, or two when fewer than
    // nine bytes of the tail's block are free.
    std::array<std::byte, 2 * kBlockBytes> tail{};
    std::memcpy(tail.data(), pending_.data(), pendingBytes_);
    tail[pendingBytes_] = std::byte{0x80};
    const std::size_t tailBlocks = pendingBytes_ + 1 + kLengthFieldBytes <= kBlockBytes ? 1 : 2;
    const u64 bitLength = totalBytes_ * 8;
    std::byte* lengthField = tail.data() + tailBlocks * kBlockBytes - kLengthFieldBytes;
    for (std::size_t i = 0; i < kLengthFieldBytes; ++i) {
        lengthField[i] = static_cast<std::byte>(bitLength >> (56 - 8 * i));
    }
    compress_(state_, tail.data(), tailBlocks);

    Sha256Digest digest;
    for (std::size_t i = 0; i < state_.size(); ++i) {
        storeU32be(digest.data() + 4 * i, state_[i]);
    }
    return digest;
}

std::string toHexUpper(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(2 * digest.size(), '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    return text;
}

}  // namespace kestrune::content
