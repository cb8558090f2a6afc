#include "content/memory_advice.h"

namespace kestrune::content {

// Large pages on Windows need the SeLockMemoryPrivilege and a dedicated allocation, which
// a game does not have; the default pages serve.
void adviseLargeBuffer(void*, std::size_t) noexcept {}

}  // namespace kestrune::content
