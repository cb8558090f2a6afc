#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "base/types.h"
#include "base/utf16.h"
#include "child_process.h"

namespace kestrune::launcher {
namespace {

std::wstring wide(const std::string& utf8) {
    const std::u16string text = utf16FromUtf8Lossy(utf8);
    return std::wstring(text.begin(), text.end());
}

// Quotes one argument the way CommandLineToArgvW splits it again.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

[[noreturn]] void failStart(const std::filesystem::path& program, const char* call) {
    throw std::runtime_error("cannot start " + program.string() + ": " + call + " failed with error " +
                             std::to_string(GetLastError()));
}

// Every child joins this job, which ends them all when the launcher's handle to it closes:
// at the launcher's exit, whatever its cause.
HANDLE launcherJob() {
    static const HANDLE job = [] {
        const HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created != nullptr) {
            SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        }
        return created;
    }();
    return job;
}

// The process whose windows a Ctrl-C in the launcher's console closes: a GUI program shares
// no console with the launcher, so it would not see the Ctrl-C itself.
std::atomic<DWORD> closeOnInterrupt{0};

struct CloseRequest {
    DWORD processId = 0;
    u32 windowsAsked = 0;
};

BOOL CALLBACK postClose(HWND window, LPARAM request) {
    auto& close = *reinterpret_cast<CloseRequest*>(request);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == close.processId && PostMessageW(window, WM_CLOSE, 0, 0)) {
        ++close.windowsAsked;
    }
    return TRUE;
}

// Posts WM_CLOSE to every top-level window of the process; returns how many took it.
u32 askToClose(DWORD processId) {
    CloseRequest request{processId};
    EnumWindows(postClose, reinterpret_cast<LPARAM>(&request));
    return request.windowsAsked;
}

BOOL WINAPI onConsoleControl(DWORD) {
    if (const DWORD processId = closeOnInterrupt.load(); processId != 0) {
        askToClose(processId);
    }
    return TRUE;  // the launcher itself stays to stop the server after the program
}

}  // namespace

std::filesystem::path ownDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return std::filesystem::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

std::string executableName(const std::string& stem) { return stem + ".exe"; }

struct ChildProcess::Impl {
    PROCESS_INFORMATION process{};
    std::optional<int> exitCode;
};

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           const std::optional<std::filesystem::path>& outputFile)
    : impl_(std::make_unique<Impl>()) {
    std::wstring commandLine = quoted(program.wstring());
    for (const std::string& argument : arguments) commandLine += L" " + quoted(wide(argument));

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE output = INVALID_HANDLE_VALUE;
    if (outputFile) {
        output = CreateFileW(outputFile->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output == INVALID_HANDLE_VALUE) {
            throw std::runtime_error("cannot create " + outputFile->string() + ": CreateFileW failed with error " +
                                     std::to_string(GetLastError()));
        }
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputFile ? output : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = outputFile ? output : GetStdHandle(STD_ERROR_HANDLE);
    // Suspended until it is in the job, so nothing it starts escapes the job either.
    const BOOL created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                        nullptr, nullptr, &startup, &impl_->process);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (!created) {
        failStart(program, "CreateProcessW");
    }
    if (launcherJob() == nullptr || !AssignProcessToJobObject(launcherJob(), impl_->process.hProcess)) {
        const std::string error = std::to_string(GetLastError());
        TerminateProcess(impl_->process.hProcess, 1);
        CloseHandle(impl_->process.hThread);
        CloseHandle(impl_->process.hProcess);
        throw std::runtime_error("cannot start " + program.string() +
                                 ": AssignProcessToJobObject failed with error " + error);
    }
    ResumeThread(impl_->process.hThread);
}

ChildProcess::~ChildProcess() {
    if (!exitCode()) {
        stop(std::chrono::milliseconds(0));
    }
    CloseHandle(impl_->process.hThread);
    CloseHandle(impl_->process.hProcess);
}

std::optional<int> ChildProcess::exitCode() {
    if (!impl_->exitCode && WaitForSingleObject(impl_->process.hProcess, 0) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(impl_->process.hProcess, &code);
        impl_->exitCode = static_cast<int>(code);
    }
    return impl_->exitCode;
}

int ChildProcess::waitPassingOnInterrupts() {
    closeOnInterrupt = impl_->process.dwProcessId;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    while (!exitCode()) {
        WaitForSingleObject(impl_->process.hProcess, INFINITE);
    }
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    closeOnInterrupt = 0;
    return *impl_->exitCode;
}

// A GUI child closes on WM_CLOSE, given `grace`; a console child (the duel server) has no
// window and keeps nothing worth a clean stop, so it is ended at once.
void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (exitCode()) {
        return;
    }
    const bool asked = askToClose(impl_->process.dwProcessId) > 0;
    if (!asked || WaitForSingleObject(impl_->process.hProcess, static_cast<DWORD>(grace.count())) != WAIT_OBJECT_0) {
        TerminateProcess(impl_->process.hProcess, 1);
        WaitForSingleObject(impl_->process.hProcess, INFINITE);
    }
    exitCode();
}

}  // namespace kestrune::launcher
