#include "net/frame_codec.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "base/little_endian.h"

namespace kestrune::net {
namespace {

// "KDUL" read as one little-endian word: one compare, which fuzzers can also solve.
constexpr u32 kMagic = u32{'K'} | (u32{'D'} << 8) | (u32{'U'} << 16) | (u32{'L'} << 24);
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kVersionOffset = 4;
constexpr std::size_t kTypeOffset = 6;
constexpr std::size_t kPayloadSizeOffset = 8;
constexpr std::size_t kSequenceOffset = 12;
constexpr std::size_t kSessionIdOffset = 16;
static_assert(kSessionIdOffset + 8 == kFrameHeaderBytes);

}  // namespace

void encodeFrame(std::vector<std::byte>& out, u16 type, u32 sequence, u64 sessionId,
                 std::span<const std::byte> payload) {
    if (payload.size() > kMaxPayloadBytes) {
        throw std::runtime_error("protocol payload exceeds 64 KiB");
    }
    out.clear();
    appendFrame(out, type, sequence, sessionId, payload);
}

void appendFrame(std::vector<std::byte>& out, u16 type, u32 sequence, u64 sessionId,
                 std::span<const std::byte> payload) {
    if (payload.size() > kMaxPayloadBytes) {
        throw std::runtime_error("protocol payload exceeds 64 KiB");
    }
    const std::size_t start = out.size();
    out.resize(start + kFrameHeaderBytes + payload.size(), std::byte{0});
    std::byte* header = out.data() + start;
    storeU32le(header + kMagicOffset, kMagic);
    storeU16le(header + kVersionOffset, kProtocolVersion);
    storeU16le(header + kTypeOffset, type);  // every type fits byte 6, so byte 7 is 0
    storeU32le(header + kPayloadSizeOffset, static_cast<u32>(payload.size()));
    storeU32le(header + kSequenceOffset, sequence);
    storeU64le(header + kSessionIdOffset, sessionId);
    if (!payload.empty()) {
        std::memcpy(header + kFrameHeaderBytes, payload.data(), payload.size());
    }
}

FrameHeader decodeFrameHeader(std::span<const std::byte, kFrameHeaderBytes> header) {
    if (loadU32le(header.data() + kMagicOffset) != kMagic) {
        throw std::runtime_error("invalid duel protocol magic");
    }
    if (loadU16le(header.data() + kVersionOffset) != kProtocolVersion) {
        throw std::runtime_error("incompatible duel protocol version");
    }
    FrameHeader out;
    out.payloadSizeBytes = loadU32le(header.data() + kPayloadSizeOffset);
    if (out.payloadSizeBytes > kMaxPayloadBytes) {
        throw std::runtime_error("duel protocol payload is too large");
    }
    out.type = loadU16le(header.data() + kTypeOffset);
    out.sequence = loadU32le(header.data() + kSequenceOffset);
    out.sessionId = loadU64le(header.data() + kSessionIdOffset);
    return out;
}

std::size_t FrameParser::feed(std::span<const std::byte> bytes) {
    std::size_t consumed = 0;
    while (consumed < bytes.size() && !complete_) {
        const std::span<const std::byte> rest = bytes.subspan(consumed);
        if (headerBytes_ < kFrameHeaderBytes) {
            const std::size_t count = std::min(kFrameHeaderBytes - headerBytes_, rest.size());
            std::memcpy(header_.data() + headerBytes_, rest.data(), count);
            headerBytes_ += count;
            consumed += count;
            if (headerBytes_ == kFrameHeaderBytes) {
                const FrameHeader header = decodeFrameHeader(header_);
                frame_.type = header.type;
                frame_.sequence = header.sequence;
                frame_.sessionId = header.sessionId;
                frame_.payload.assign(header.payloadSizeBytes, std::byte{0});
                payloadBytes_ = 0;
                complete_ = header.payloadSizeBytes == 0;
            }
            continue;
        }
        const std::size_t count = std::min(frame_.payload.size() - payloadBytes_, rest.size());
        std::memcpy(frame_.payload.data() + payloadBytes_, rest.data(), count);
        payloadBytes_ += count;
        consumed += count;
        complete_ = payloadBytes_ == frame_.payload.size();
    }
    return consumed;
}

Frame FrameParser::takeFrame() {
    if (!complete_) {
        throw std::logic_error("no complete duel frame to take");
    }
    Frame out = std::move(frame_);
    frame_ = Frame{};
    headerBytes_ = 0;
    payloadBytes_ = 0;
    complete_ = false;
    return out;
}

}  // namespace kestrune::net
