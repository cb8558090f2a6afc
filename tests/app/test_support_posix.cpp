#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "app/test_support.h"

extern char** environ;

namespace kestrune::app::testing {
namespace {

// Where a run of the program finds the launcher pipe.
constexpr int kChildPipeDescriptor = 10;

void check(bool ok, const char* operation) {
    if (!ok) throw std::runtime_error(std::string(operation) + " failed: " + std::strerror(errno));
}

}  // namespace

std::string_view textFileNewline() { return "\n"; }

bool messageBoxesObservable() { return false; }

std::optional<std::string> captureStandardError(const std::function<void()>& action) {
    const ScratchDirectory scratch;
    const auto path = scratch / "stderr.txt";
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int capture = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    check(saved >= 0 && capture >= 0, "dup/open");
    ::dup2(capture, 2);
    ::close(capture);
    action();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    return readFileBytes(path);
}

TestPipe::TestPipe() {
    int ends[2];
    check(::pipe2(ends, O_CLOEXEC) == 0, "pipe2");
    read_ = ends[0];
    write_ = ends[1];
}

void TestPipe::closeEnd(std::intptr_t end) { ::close(static_cast<int>(end)); }

void TestPipe::write(std::string_view bytes) {
    check(::write(static_cast<int>(write_), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "write");
}

u64 openRegularFileHandle(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    check(descriptor >= 0, "open");
    return static_cast<u64>(descriptor);
}

bool isHandleOpen(u64 handleValue) { return ::fcntl(static_cast<int>(handleValue), F_GETFD) != -1; }

ProgramRun runProgram(const std::vector<std::string>& arguments, const std::filesystem::path& workingDirectory,
                      TestPipe* pipe) {
    const std::string program = KESTRUNE_BINARY_DIR "/bin/KestruneNative";
    std::vector<std::string> texts{program};
    for (std::string argument : arguments) {
        if (const std::size_t at = argument.find("{pipe}"); at != std::string::npos) {
            argument.replace(at, 6, std::to_string(kChildPipeDescriptor));
        }
        texts.push_back(std::move(argument));
    }
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    // No display: a fatal error must never wait for a click here.
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "DISPLAY=", 8) != 0 && std::strncmp(*entry, "WAYLAND_DISPLAY=", 16) != 0) {
            environment.push_back(*entry);
        }
    }
    environment.push_back(nullptr);

    // The texts go to files, read once the program has ended.
    const ScratchDirectory outputs;
    const std::filesystem::path output = outputs / "out";
    const std::filesystem::path error = outputs / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, error.c_str(), O_WRONLY | O_CREAT, 0600);
    if (pipe != nullptr) {
        posix_spawn_file_actions_adddup2(&actions, static_cast<int>(pipe->readHandleValue()), kChildPipeDescriptor);
    }
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    errno = spawned;
    check(spawned == 0, "posix_spawn");
    int status = 0;
    check(::waitpid(child, &status, 0) == child, "waitpid");
    return {.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            .standardOutput = readFileBytes(output).value_or(""), .standardError = readFileBytes(error).value_or("")};
}

}  // namespace kestrune::app::testing
