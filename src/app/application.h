#pragma once
// The shell's single entry: runs one process lifetime from the command-line arguments
// (argument 0, the program path, already removed) and returns the exit code.

#include <string>
#include <vector>

namespace kestrune::app {

int runApplication(const std::vector<std::u16string>& arguments);

}  // namespace kestrune::app
