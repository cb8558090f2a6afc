#include <string>
#include <vector>

#include "app/application.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        std::u16string argument;
        for (const char* p = argv[i]; *p != '\0'; ++p) {
            argument.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
        }
        arguments.push_back(std::move(argument));
    }
    return kestrune::app::runApplication(arguments);
}
