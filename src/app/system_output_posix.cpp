#include <cstdio>
#include <string>

#include "app/system_output.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

void writeToStandardError(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

// Linux has no debugger channel for text; standard error is where a developer looks.
void mirrorToDebugger(std::u16string_view line) { writeToStandardError(utf8FromUtf16Lossy(line)); }

void writeStandardErrorLine(std::u16string_view text) { writeToStandardError(utf8FromUtf16Lossy(text) + "\n"); }

void writeStandardOutput(std::u16string_view text) {
    const std::string bytes = utf8FromUtf16Lossy(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

}  // namespace kestrune::app
