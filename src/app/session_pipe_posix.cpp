#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "app/session_payload.h"

namespace kestrune::app {
namespace {

// Owns the inherited descriptor: the destructor is the one place that closes it, so
// every way out of the reader closes it exactly once.
class InheritedPipe final : public PayloadStream {
public:
    explicit InheritedPipe(int descriptor) : descriptor_(descriptor) {}
    ~InheritedPipe() override { ::close(descriptor_); }  // Linux frees the descriptor even on EINTR
    InheritedPipe(const InheritedPipe&) = delete;
    InheritedPipe& operator=(const InheritedPipe&) = delete;

    int descriptor() const noexcept { return descriptor_; }

    std::size_t readSome(std::span<std::byte> buffer) override {
        const std::size_t wanted = std::min(buffer.size(), kMaximumPipeReadBytes);
        for (;;) {
            const ssize_t got = ::read(descriptor_, buffer.data(), wanted);
            if (got < 0 && errno == EINTR) {
                continue;  // a signal is no failure of the pipe
            }
            return got > 0 ? static_cast<std::size_t>(got) : 0;
        }
    }

private:
    int descriptor_;
};

}  // namespace

SessionPayload readLauncherSessionPipe(u64 handleValue) {
    if (handleValue == 0 || handleValue > static_cast<u64>(INT_MAX)) {
        throwNotAnInheritedPipe();
    }
    InheritedPipe pipe(static_cast<int>(handleValue));
    struct stat status {};
    if (::fstat(pipe.descriptor(), &status) != 0 || !S_ISFIFO(status.st_mode)) {
        throwNotAnInheritedPipe();
    }
    return readSessionPayload(pipe);
}

}  // namespace kestrune::app
