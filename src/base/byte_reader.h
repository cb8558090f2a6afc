#pragma once
// Bounds-checked little-endian cursor over an immutable byte span.
//
// Every read names the field it reads. When a read would run past the end, the reader
// calls the owning format's `onTruncated(offset, label)` handler, which must throw (the
// format decides the exception type and wording); the cursor does not move. The reader
// never copies the underlying bytes.

#include <cstddef>
#include <exception>
#include <span>
#include <string_view>
#include <utility>

#include "base/little_endian.h"
#include "base/types.h"

namespace kestrune {

template <class OnTruncated>
class ByteReader {
public:
    ByteReader(std::span<const std::byte> bytes, OnTruncated onTruncated)
        : bytes_(bytes), onTruncated_(std::move(onTruncated)) {}

    std::size_t offset() const noexcept { return offset_; }
    std::size_t size() const noexcept { return bytes_.size(); }
    std::size_t remaining() const noexcept { return bytes_.size() - offset_; }
    bool atEnd() const noexcept { return offset_ == bytes_.size(); }
    bool canRead(std::size_t countBytes) const noexcept { return countBytes <= remaining(); }

    // Next `countBytes` bytes; compared against what remains, so no offset arithmetic can wrap.
    std::span<const std::byte> take(std::size_t countBytes, std::string_view label) {
        if (countBytes > remaining()) {
            onTruncated_(offset_, label);
            std::terminate();  // the handler must throw; never read past the end

        }
        const std::span<const std::byte> out = bytes_.subspan(offset_, countBytes);
        offset_ += countBytes;
        return out;
    }

    u8 u8le(std::string_view label) { return static_cast<u8>(take(1, label)[0]); }
    u16 u16le(std::string_view label) { return loadU16le(take(2, label).data()); }
    u32 u32le(std::string_view label) { return loadU32le(take(4, label).data()); }
    u64 u64le(std::string_view label) { return loadU64le(take(8, label).data()); }
    i32 i32le(std::string_view label) { return loadI32le(take(4, label).data()); }
    f32 f32le(std::string_view label) { return loadF32le(take(4, label).data()); }

private:
    std::span<const std::byte> bytes_;
    std::size_t offset_ = 0;
    OnTruncated onTruncated_;
};

}  // namespace kestrune
