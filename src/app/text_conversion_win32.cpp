#include "app/text_conversion.h"

#include <windows.h>

#include <climits>

namespace kestrune::app {

std::optional<std::string> convertUtf16ToUtf8(std::u16string_view text) {
    if (text.empty()) {
        return std::string();  // the converter reports a length of 0 as failure
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int wideLength = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, wideLength, nullptr, 0, nullptr,
                                           nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, wideLength, out.data(), length, nullptr,
                            nullptr) != length) {
        return std::nullopt;
    }
    return out;
}

std::filesystem::path pathFromUtf16(std::u16string_view text) {
    // wchar_t is the UTF-16 unit here, so the text reaches the file system unconverted.
    return std::filesystem::path(std::wstring(text.begin(), text.end()));
}

}  // namespace kestrune::app
