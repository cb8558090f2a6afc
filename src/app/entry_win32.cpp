#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<std::u16string> arguments;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv != nullptr) {
        for (int i = 1; i < count; ++i) {
            std::u16string argument;
            for (const wchar_t* p = argv[i]; *p != L'\0'; ++p) {
                argument.push_back(static_cast<char16_t>(*p));
            }
            arguments.push_back(std::move(argument));
        }
        LocalFree(argv);
    }
    return kestrune::app::runApplication(arguments);
}
