#include <iostream>
#include <string_view>
#include <vector>

#include "baker_commands.h"

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    return kestrune::baker::runBakerCommand(arguments, std::cout, std::cerr);
}
