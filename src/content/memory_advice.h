#pragma once
// A hint for large buffers that are about to be filled once, front to back (a whole file,
// a mesh's vertices): where the platform can, back them with large pages so that filling
// them takes a few hundred page faults instead of tens of thousands. Call it after the
// memory is reserved and before it is first written. Only a hint: nothing changes if the
// platform declines, and nothing here throws.

#include <cstddef>

namespace kestrune::content {

void adviseLargeBuffer(void* data, std::size_t sizeBytes) noexcept;

}  // namespace kestrune::content
