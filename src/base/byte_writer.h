#pragma once
// Growing little-endian byte buffer; mirrors ByteReader call for call so a format's
// writer and reader can be read side by side. Growth is the vector's (geometric).

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "base/little_endian.h"
#include "base/types.h"

namespace kestrune {

class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(std::size_t reserveBytes) { bytes_.reserve(reserveBytes); }
    // Writes into `storage` from its start, keeping its capacity: a buffer handed back and
    // forth through release() stops allocating once it is large enough.
    explicit ByteWriter(std::vector<std::byte>&& storage) noexcept : bytes_(std::move(storage)) { bytes_.clear(); }

    void reserve(std::size_t bytes) { bytes_.reserve(bytes); }
    std::size_t size() const noexcept { return bytes_.size(); }
    std::span<const std::byte> bytes() const noexcept { return bytes_; }
    std::vector<std::byte>& buffer() noexcept { return bytes_; }
    std::vector<std::byte> release() noexcept { return std::move(bytes_); }

    void u8le(u8 v) { bytes_.push_back(static_cast<std::byte>(v)); }
    void u16le(u16 v) { storeU16le(grow(2), v); }
    void u32le(u32 v) { storeU32le(grow(4), v); }
    void u64le(u64 v) { storeU64le(grow(8), v); }
    void i32le(i32 v) { storeI32le(grow(4), v); }
    void f32le(f32 v) { storeF32le(grow(4), v); }

    void append(std::span<const std::byte> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    void append(std::string_view text) {
        const auto* first = reinterpret_cast<const std::byte*>(text.data());
        bytes_.insert(bytes_.end(), first, first + text.size());
    }

    // Overwrites a value written earlier, for sizes and counts known only later.
    void patchU32le(std::size_t offset, u32 v) { storeU32le(bytes_.data() + offset, v); }

private:
    std::byte* grow(std::size_t countBytes) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + countBytes);
        return bytes_.data() + at;
    }

    std::vector<std::byte> bytes_;
};

}  // namespace kestrune
