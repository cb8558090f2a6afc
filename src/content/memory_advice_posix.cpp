#include "content/memory_advice.h"

#include <sys/mman.h>

#include <cstdint>

namespace kestrune::content {
namespace {

constexpr std::uintptr_t kLargePageBytes = std::uintptr_t{2} << 20;
// Below this a buffer spans too few large pages for the advice to matter.
constexpr std::size_t kMinAdvisedBytes = std::size_t{8} << 20;

}  // namespace

void adviseLargeBuffer(void* data, std::size_t sizeBytes) noexcept {
    if (data == nullptr || sizeBytes < kMinAdvisedBytes) {
        return;
    }
    // Only whole large pages inside the buffer: the advice applies to page ranges, and
    // the memory around the buffer belongs to others.
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
    const std::uintptr_t last = (begin + sizeBytes) & ~(kLargePageBytes - 1);
    if (last > first) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
}

}  // namespace kestrune::content
