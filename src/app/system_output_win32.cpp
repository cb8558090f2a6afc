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

// A script's pipe or file, or the console of the one who started it: cmd.exe does not wait
// for a GUI program, so the text appears after its prompt, as other GUI programs' help does.
// Started from neither, the text is shown in a box.
void writeStandardOutput(std::u16string_view text) {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    std::wstring wide;
    for (const char16_t unit : text) {
        if (unit == u'\n') wide += L'\r';
        wide += static_cast<wchar_t>(unit);
    }
    // A GUI program started from a console may hold the console's handle values without
    // being attached to it; only a pipe, a file or a console it is attached to takes text.
    const DWORD type = handle != nullptr && handle != INVALID_HANDLE_VALUE ? GetFileType(handle) : FILE_TYPE_UNKNOWN;
    if (type == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    if (type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK) {
        const std::string bytes = utf8FromUtf16Lossy(std::u16string(wide.begin(), wide.end()));
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        return;
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
            CloseHandle(console);
            return;
        }
    }
    MessageBoxW(nullptr, wide.c_str(), L"Kestrune Native", MB_ICONINFORMATION);
}

void showFatalErrorMessageBox(std::u16string_view message) {
    const std::wstring text(message.begin(), message.end());
    const std::wstring caption(kFatalErrorCaption.begin(), kFatalErrorCaption.end());
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR);
}

}  // namespace kestrune::app
