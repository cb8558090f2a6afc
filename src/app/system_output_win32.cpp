#include <windows.h>

#include <string>

#include "app/system_output.h"
#include "base/utf16.h"

namespace kestrune::app {

void mirrorToDebugger(std::u16string_view line) {
    const std::wstring text(line.begin(), line.end());
    OutputDebugStringW(text.c_str());
}

// A GUI program has a standard error handle only when its starter supplied one (a pipe
// or file of a script, or a console). A console gets UTF-16, anything else UTF-8.
void writeStandardErrorLine(std::u16string_view text) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = std::wstring(text.begin(), text.end()) + L"\r\n";
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const std::string bytes = utf8FromUtf16Lossy(text) + "\r\n";
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void showFatalErrorMessageBox(std::u16string_view message) {
    const std::wstring text(message.begin(), message.end());
    const std::wstring caption(kFatalErrorCaption.begin(), kFatalErrorCaption.end());
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR);
}

}  // namespace kestrune::app
