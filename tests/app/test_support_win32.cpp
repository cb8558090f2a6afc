#include <windows.h>

#include <stdexcept>

#include "app/test_support.h"
#include "base/utf16.h"

namespace kestrune::app::testing {
namespace {

// The message box is looked for while the run lasts; a run that neither ends nor shows
// one by then is stopped and counts as failed.
constexpr DWORD kPollIntervalMs = 100;
constexpr DWORD kRunLimitMs = 120000;

void check(bool ok, const char* operation) {
    if (!ok) throw std::runtime_error(std::string(operation) + " failed with error " + std::to_string(GetLastError()));
}

HANDLE toHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::string windowText(HWND window) {
    wchar_t text[512] = {};
    const int length = GetWindowTextW(window, text, 512);
    return utf8FromUtf16Lossy(std::u16string_view(reinterpret_cast<const char16_t*>(text), length > 0 ? length : 0));
}

// The visible dialog (the message box) of the process, if it shows one.
HWND findDialogOfProcess(DWORD processId) {
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"#32770", nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

// The tests' arguments hold no quotes and end in no backslash, so quoting is enough.
std::wstring quoteArgument(const std::wstring& argument) { return L"\"" + argument + L"\""; }

std::wstring widen(std::string_view utf8) {
    const std::u16string text = utf16FromUtf8Lossy(utf8);
    return std::wstring(text.begin(), text.end());
}

}  // namespace

std::string_view textFileNewline() { return "\r\n"; }

bool messageBoxesObservable() { return true; }

std::optional<std::string> captureStandardError(const std::function<void()>& action) {
    action();
    return std::nullopt;
}

TestPipe::TestPipe() {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    check(CreatePipe(&readEnd, &writeEnd, &attributes, 0), "CreatePipe");
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);  // only the read end reaches a run
    read_ = reinterpret_cast<std::intptr_t>(readEnd);
    write_ = reinterpret_cast<std::intptr_t>(writeEnd);
}

void TestPipe::closeEnd(std::intptr_t end) { CloseHandle(toHandle(end)); }

void TestPipe::write(std::string_view bytes) {
    DWORD written = 0;
    const BOOL wrote = WriteFile(toHandle(write_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    check(wrote && written == bytes.size(), "WriteFile");
}

u64 openRegularFileHandle(const std::filesystem::path& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    check(file != INVALID_HANDLE_VALUE, "CreateFileW");
    return reinterpret_cast<u64>(file);
}

bool isHandleOpen(u64 handleValue) {
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(handleValue), &flags) != 0;
}

ProgramRun runProgram(const std::vector<std::string>& arguments, const std::filesystem::path& workingDirectory,
                      TestPipe* pipe) {
    const std::wstring program = widen("Z:" KESTRUNE_BINARY_DIR "/bin/KestruneNative.exe");
    std::wstring commandLine = quoteArgument(program);
    for (std::string argument : arguments) {
        if (const std::size_t at = argument.find("{pipe}"); at != std::string::npos) {
            // An inherited handle keeps its value in the child.
            argument.replace(at, 6, std::to_string(pipe->readHandleValue()));
        }
        commandLine += L" " + quoteArgument(widen(argument));
    }

    // The texts go to files, read once the program has ended.
    const ScratchDirectory outputs;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    const auto createOutput = [&](const char* name) {
        const HANDLE file = CreateFileW((outputs / name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        check(file != INVALID_HANDLE_VALUE, "CreateFileW");
        return file;
    };
    STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW), .dwFlags = STARTF_USESTDHANDLES, .hStdOutput = createOutput("out"),
                         .hStdError = createOutput("err")};
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        workingDirectory.c_str(), &startup, &process);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    check(created, "CreateProcessW");

    ProgramRun run;
    DWORD waitedMs = 0;
    while (WaitForSingleObject(process.hProcess, kPollIntervalMs) == WAIT_TIMEOUT) {
        if (const HWND box = findDialogOfProcess(process.dwProcessId); box != nullptr && !run.messageBoxCaption) {
            run.messageBoxCaption = windowText(box);
            run.messageBoxText = windowText(GetDlgItem(box, 0xFFFF));  // a message box's text control
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        waitedMs += kPollIntervalMs;
        if (waitedMs >= kRunLimitMs) TerminateProcess(process.hProcess, 255);
    }

    run.standardOutput = readFileBytes(outputs / "out").value_or("");
    run.standardError = readFileBytes(outputs / "err").value_or("");
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    run.exitCode = static_cast<int>(exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

}  // namespace kestrune::app::testing
