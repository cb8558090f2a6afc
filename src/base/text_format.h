#pragma once
// printf-style formatting into std::string (GCC 12 has no std::format).

#include <cstdarg>
#include <cstdio>
#include <string>

namespace kestrune {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<std::size_t>(length));
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    }
    va_end(args);
    return out;
}

}  // namespace kestrune
