#include "app/text_conversion.h"

#include "base/utf16.h"

namespace kestrune::app {

std::optional<std::string> convertUtf16ToUtf8(std::u16string_view text) { return utf8FromUtf16(text); }

std::filesystem::path pathFromUtf16(std::u16string_view text) {
    return std::filesystem::path(utf8FromUtf16Lossy(text));
}

}  // namespace kestrune::app
