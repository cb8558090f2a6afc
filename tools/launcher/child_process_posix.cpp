#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "child_process.h"

namespace kestrune::launcher {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);

// The launcher takes these itself while it waits and passes them on; its children get them
// back with their default action.
sigset_t requestSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

[[noreturn]] void failStart(const std::filesystem::path& program, int error) {
    throw std::runtime_error("cannot start " + program.string() + ": " + std::strerror(error));
}

}  // namespace

std::filesystem::path ownDirectory() { return std::filesystem::read_symlink("/proc/self/exe").parent_path(); }

std::string executableName(const std::string& stem) { return stem; }

struct ChildProcess::Impl {
    pid_t pid = -1;
    std::optional<int> exitCode;
};

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           const std::optional<std::filesystem::path>& outputFile)
    : impl_(std::make_unique<Impl>()) {
    const sigset_t signals = requestSignals();
    sigprocmask(SIG_BLOCK, &signals, nullptr);

    int output = -1;
    if (outputFile) {
        output = ::open(outputFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (output < 0) {
            throw std::runtime_error("cannot create " + outputFile->string() + ": " + std::strerror(errno));
        }
    }
    std::vector<std::string> texts{program.string()};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    // exec's errno comes back through this pipe; a successful exec closes it empty.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        failStart(program, errno);
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);  // the launcher ended before the signal was armed
        }
        // A launcher started in the background of a script has SIGINT ignored; its children
        // must still end on the requests it passes on.
        for (const int request : {SIGINT, SIGTERM, SIGHUP}) {
            ::signal(request, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (output >= 0) {
            ::dup2(output, 1);
            ::dup2(output, 2);
        }
        ::execv(argv[0], argv.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    const int forkError = errno;
    ::close(report[1]);
    if (output >= 0) ::close(output);
    if (pid < 0) {
        ::close(report[0]);
        failStart(program, forkError);
    }
    int execError = 0;
    const ssize_t got = ::read(report[0], &execError, sizeof execError);
    ::close(report[0]);
    impl_->pid = pid;
    if (got == static_cast<ssize_t>(sizeof execError)) {
        ::waitpid(pid, nullptr, 0);
        impl_->exitCode = 127;
        failStart(program, execError);
    }
}

ChildProcess::~ChildProcess() {
    if (!exitCode()) {
        stop(std::chrono::milliseconds(2000));
    }
}

std::optional<int> ChildProcess::exitCode() {
    if (!impl_->exitCode) {
        int status = 0;
        if (::waitpid(impl_->pid, &status, WNOHANG) == impl_->pid) {
            impl_->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    return impl_->exitCode;
}

int ChildProcess::waitPassingOnInterrupts() {
    const sigset_t signals = requestSignals();
    const timespec interval{0, std::chrono::nanoseconds(kPollInterval).count()};
    while (!exitCode()) {
        const int received = ::sigtimedwait(&signals, nullptr, &interval);
        if (received > 0) {
            // A terminal's Ctrl-C reaches the child too; a repeated request does no harm.
            ::kill(impl_->pid, received == SIGINT ? SIGINT : SIGTERM);
        }
    }
    return *impl_->exitCode;
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (exitCode()) {
        return;
    }
    ::kill(impl_->pid, SIGINT);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!exitCode() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kPollInterval);
    }
    if (!exitCode()) {
        ::kill(impl_->pid, SIGKILL);
        int status = 0;
        ::waitpid(impl_->pid, &status, 0);
        impl_->exitCode = 128 + SIGKILL;
    }
}

}  // namespace kestrune::launcher
