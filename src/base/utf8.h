#pragma once
// Well-formed UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates (U+D800 to
// U+DFFF), nothing above U+10FFFF, no sequence cut off by the end of the text. Shared by
// the model format's string table, the duel protocol's strings and the text conversions.

#include <cstddef>
#include <span>
#include <string_view>

#include "base/types.h"

namespace kestrune {

// Length in bytes (1 to 4) of the well-formed sequence that starts at `text[at]`, or 0
// when the bytes there do not start one. Requires at < sizeBytes.
inline std::size_t utf8SequenceLength(const unsigned char* text, std::size_t sizeBytes, std::size_t at) noexcept {
    const unsigned lead = text[at];
    if (lead < 0x80) {
        return 1;
    }
    std::size_t continuation = 0;
    unsigned secondLow = 0x80;
    unsigned secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
    } else if (lead == 0xE0) {
        continuation = 2;
        secondLow = 0xA0;  // below would be an overlong form
    } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
        continuation = 2;
    } else if (lead == 0xED) {
        continuation = 2;
        secondHigh = 0x9F;  // above would encode a surrogate
    } else if (lead == 0xF0) {
        continuation = 3;
        secondLow = 0x90;  // below would be an overlong form
    } else if (lead >= 0xF1 && lead <= 0xF3) {
        continuation = 3;
    } else if (lead == 0xF4) {
        continuation = 3;
        secondHigh = 0x8F;  // above would pass U+10FFFF
    } else {
        return 0;  // 0x80..0xC1 and 0xF5..0xFF never lead
    }
    if (continuation > sizeBytes - at - 1) {
        return 0;
    }
    const unsigned second = text[at + 1];
    if (second < secondLow || second > secondHigh) {
        return 0;
    }
    for (std::size_t k = 2; k <= continuation; ++k) {
        const unsigned next = text[at + k];
        if (next < 0x80 || next > 0xBF) {
            return 0;
        }
    }
    return continuation + 1;
}

inline bool isWellFormedUtf8(const unsigned char* text, std::size_t sizeBytes) noexcept {
    std::size_t i = 0;
    while (i < sizeBytes) {
        const std::size_t length = utf8SequenceLength(text, sizeBytes, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

inline bool isWellFormedUtf8(std::span<const std::byte> bytes) noexcept {
    return isWellFormedUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

inline bool isWellFormedUtf8(std::string_view text) noexcept {
    return isWellFormedUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

}  // namespace kestrune
