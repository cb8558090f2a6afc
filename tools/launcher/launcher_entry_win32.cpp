#include <iostream>
#include <string>
#include <vector>

#include "base/utf16.h"
#include "launcher.h"

// Wide arguments, so paths outside the ANSI code page reach the program unchanged.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view argument = argv[i];
        arguments.push_back(kestrune::utf8FromUtf16Lossy(std::u16string(argument.begin(), argument.end())));
    }
    return kestrune::launcher::runLauncher(arguments, std::cout, std::cerr);
}
