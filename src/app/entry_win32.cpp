#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/application.h"

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const noexcept { LocalFree(block); }
};

std::vector<std::u16string> readCommandLine() {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv) {
        throw std::runtime_error("CommandLineToArgvW failed.");
    }
    std::vector<std::u16string> arguments;
    for (int i = 1; i < count; ++i) {  // argument 0 is the program path
        const std::wstring_view argument = argv.get()[i];
        arguments.emplace_back(argument.begin(), argument.end());
    }
    return arguments;
}

}  // namespace

// The parameters are ignored: the command line is read whole and split the Windows way.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return kestrune::app::runApplication(readCommandLine); }
