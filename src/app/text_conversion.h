#pragma once
// The shell's conversions between its UTF-16 texts and the platform's 8-bit ones. The
// Windows build uses the system's converter, the Linux build the shared one in base;
// both refuse the same input.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune::app {

// UTF-8 of `text`, or nothing when the text is not valid UTF-16 (an unpaired surrogate).
std::optional<std::string> convertUtf16ToUtf8(std::u16string_view text);

// A file-system path holding `text`: unchanged on Windows; as UTF-8 on Linux, where an
// unpaired surrogate (which no Linux argument can produce) becomes U+FFFD.
std::filesystem::path pathFromUtf16(std::u16string_view text);

}  // namespace kestrune::app
