#pragma once
// Appending JSON values to a line being built, for the frame trace. Appends into the
// caller's string, so a string reused line after line stops allocating once it has held
// its longest line. Non-finite reals become null.

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/types.h"

namespace kestrune {

// Quotes and escapes `text` (UTF-8): quotation mark, backslash and control characters.
inline void appendJsonString(std::string& out, std::string_view text) {
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out.append(escaped);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

// Nine significant digits: every f32 survives the trip, and f64 times to the nanosecond
// for runs shorter than a day.
inline void appendJsonNumber(std::string& out, f64 value) {
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.9g", value);
    out.append(text, static_cast<std::size_t>(length));
}

inline void appendJsonInteger(std::string& out, u64 value) {
    char text[24];
    const int length = std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    out.append(text, static_cast<std::size_t>(length));
}

inline void appendJsonInteger(std::string& out, i64 value) {
    char text[24];
    const int length = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    out.append(text, static_cast<std::size_t>(length));
}

inline void appendJsonBool(std::string& out, bool value) { out.append(value ? "true" : "false"); }

// ,"key": (the comma only when something precedes it in the object)
inline void appendJsonKey(std::string& out, std::string_view key, bool first = false) {
    if (!first) out.push_back(',');
    out.push_back('"');
    out.append(key);
    out.append("\":");
}

// ,"key":value — one member of an object being written (no comma before the first).
template <class Value>
void appendJsonMember(std::string& out, std::string_view key, const Value& value, bool first = false) {
    appendJsonKey(out, key, first);
    if constexpr (std::is_same_v<Value, bool>) {
        appendJsonBool(out, value);
    } else if constexpr (std::is_floating_point_v<Value>) {
        appendJsonNumber(out, static_cast<f64>(value));
    } else if constexpr (std::is_integral_v<Value> && std::is_signed_v<Value>) {
        appendJsonInteger(out, static_cast<i64>(value));
    } else if constexpr (std::is_integral_v<Value>) {
        appendJsonInteger(out, static_cast<u64>(value));
    } else {
        appendJsonString(out, std::string_view(value));
    }
}

}  // namespace kestrune
