#pragma once
// Conversions between UTF-16 (window, log and path texts) and 8-bit text (messages,
// protocol strings, Linux arguments and file names). The strict conversion refuses an
// unpaired surrogate; the lossy ones put U+FFFD where text cannot be represented.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace kestrune {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

namespace detail {

inline void appendUtf8CodePoint(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Encodes `text`; an unpaired surrogate becomes `replacement`, or ends the conversion
// with false when `replacement` is 0.
inline bool appendUtf8(std::u16string_view text, std::string& out, char32_t replacement) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        char32_t codePoint = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            codePoint = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            if (replacement == 0) {
                return false;
            }
            codePoint = replacement;
        }
        appendUtf8CodePoint(out, codePoint);
    }
    return true;
}

}  // namespace detail

// UTF-8 of `text`, or nothing when it holds an unpaired surrogate.
inline std::optional<std::string> utf8FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    if (!detail::appendUtf8(text, out, 0)) {
        return std::nullopt;
    }
    return out;
}

inline std::string utf8FromUtf16Lossy(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    detail::appendUtf8(text, out, kReplacementCharacter);
    return out;
}

// Each byte that does not start a well-formed sequence becomes one U+FFFD.
inline std::u16string utf16FromUtf8Lossy(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = utf8SequenceLength(bytes, text.size(), i);
        if (length == 0) {
            out.push_back(static_cast<char16_t>(kReplacementCharacter));
            ++i;
            continue;
        }
        char32_t codePoint = length == 1 ? bytes[i] : bytes[i] & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3Fu);
        }
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(codePoint));
        }
        i += length;
    }
    return out;
}

// One UTF-16 unit per byte: the bytes read as Latin-1.
inline std::u16string utf16FromLatin1(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char byte : text) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(byte)));
    }
    return out;
}

}  // namespace kestrune
