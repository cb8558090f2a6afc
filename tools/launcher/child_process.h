#pragma once
// The programs the launcher starts. A child ends with the launcher however the launcher ends
// (Linux: a parent-death signal; Windows: a job object that kills its processes when the
// launcher's handle to it closes), so a launcher killed hard leaves no server behind.
// Failures to start throw std::runtime_error naming the program and the reason.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::launcher {

// The folder of the running launcher's own executable.
std::filesystem::path ownDirectory();

// "name" on Linux, "name.exe" on Windows.
std::string executableName(const std::string& stem);

class ChildProcess {
public:
    // Starts `program` with `arguments` (UTF-8). Its standard output and error go to
    // `outputFile` (created or truncated) when one is given, else to the launcher's own.
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::optional<std::filesystem::path>& outputFile);
    // Stops the child if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The exit code once the child has ended, without waiting.
    std::optional<int> exitCode();
    // Waits for the end; an interrupt (Ctrl-C) or termination request that reaches the
    // launcher meanwhile is passed on to the child as a request to close.
    int waitPassingOnInterrupts();
    // Asks the child to end, waits up to `grace`, then ends it hard.
    void stop(std::chrono::milliseconds grace);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune::launcher
