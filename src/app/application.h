#pragma once
// The shell's single entry: runs one process lifetime and returns the exit code, 0 after a
// clean run and 1 after any failure. Every exception derived from std::exception that
// leaves the start-up sequence is handled once, by the fatal-error path (log line, failure
// report, standard error line, message box outside smoke runs).

#include <functional>
#include <string>
#include <vector>

namespace kestrune::app {

// Produces the command-line arguments (program path removed); it runs inside the
// fatal-error path, so a failure to read the command line is reported like any other.
using CommandLineReader = std::function<std::vector<std::u16string>()>;

int runApplication(const CommandLineReader& readArguments);

// For callers that already hold the arguments (program path removed).
int runApplication(const std::vector<std::u16string>& arguments);

}  // namespace kestrune::app
