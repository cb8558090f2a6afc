#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "app/session_payload.h"

namespace kestrune::app {
namespace {

// Owns the inherited handle: the destructor is the one place that closes it, so every
// way out of the reader closes it exactly once.
class InheritedPipe final : public PayloadStream {
public:
    explicit InheritedPipe(HANDLE handle) : handle_(handle) {}
    ~InheritedPipe() override { CloseHandle(handle_); }
    InheritedPipe(const InheritedPipe&) = delete;
    InheritedPipe& operator=(const InheritedPipe&) = delete;

    HANDLE handle() const noexcept { return handle_; }

    std::size_t readSome(std::span<std::byte> buffer) override {
        const auto wanted = static_cast<DWORD>(std::min(buffer.size(), kMaximumPipeReadBytes));
        DWORD got = 0;
        if (!ReadFile(handle_, buffer.data(), wanted, &got, nullptr)) {
            return 0;
        }
        return got;
    }

private:
    HANDLE handle_;
};

}  // namespace

SessionPayload readLauncherSessionPipe(u64 handleValue) {
    if (handleValue == 0 || handleValue == ~u64{0}) {
        throwNotAnInheritedPipe();
    }
    InheritedPipe pipe(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handleValue)));
    if (GetFileType(pipe.handle()) != FILE_TYPE_PIPE) {
        throwNotAnInheritedPipe();
    }
    return readSessionPayload(pipe);
}

}  // namespace kestrune::app
