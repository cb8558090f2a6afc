#include <iostream>
#include <string>
#include <vector>

#include "launcher.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return kestrune::launcher::runLauncher(arguments, std::cout, std::cerr);
}
