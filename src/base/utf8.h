#pragma once
// Well-formed UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates (U+D800 to
// U+DFFF), nothing above U+10FFFF, no sequence cut off by the end of the text. Shared by
// the model format's string table and the duel protocol's strings.

#include <cstddef>
#include <span>
#include <string_view>

#include "base/types.h"

namespace kestrune {

inline bool isWellFormedUtf8(const unsigned char* text, std::size_t sizeBytes) noexcept {
    std::size_t i = 0;
    while (i < sizeBytes) {
        const unsigned lead = text[i];
        if (lead < 0x80) {
            ++i;
            continue;
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
            return false;  // 0x80..0xC1 and 0xF5..0xFF never lead
        }
        if (continuation > sizeBytes - i - 1) {
            return false;
        }
        const unsigned second = text[i + 1];
        if (second < secondLow || second > secondHigh) {
            return false;
        }
        for (std::size_t k = 2; k <= continuation; ++k) {
            const unsigned next = text[i + k];
            if (next < 0x80 || next > 0xBF) {
                return false;
            }
        }
        i += continuation + 1;
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
