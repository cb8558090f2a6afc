#pragma once
// Helpers shared by the net and duel-server suites: exact exception checks and byte building.

#include <gtest/gtest.h>

#include <cstddef>
#include <exception>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "base/types.h"
#include "net/client_messages.h"
#include "net/frame_codec.h"

namespace kestrune::net::test {

// Runs `action` and expects an exception of exactly type `Expected` with exactly `message`.
template <class Expected, class Action>
void expectError(Action&& action, std::string_view message) {
    try {
        action();
    } catch (const std::exception& error) {
        EXPECT_EQ(typeid(error), typeid(Expected)) << "message: " << error.what();
        EXPECT_EQ(std::string_view(error.what()), message);
        return;
    }
    ADD_FAILURE() << "expected an exception with the message: " << message;
}

template <class Action>
void expectRuntimeError(Action&& action, std::string_view message) { expectError<std::runtime_error>(action, message); }

template <class Action>
void expectInvalidArgument(Action&& action, std::string_view message) {
    expectError<std::invalid_argument>(action, message);
}

inline std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (const int value : values) out.push_back(static_cast<std::byte>(value));
    return out;
}

inline std::vector<std::byte> bytesOf(std::string_view text) {
    const auto* data = reinterpret_cast<const std::byte*>(text.data());
    return {data, data + text.size()};
}

template <class... Tails>
std::vector<std::byte> concat(std::vector<std::byte> head, const Tails&... tails) {
    (head.insert(head.end(), tails.begin(), tails.end()), ...);
    return head;
}

inline std::vector<std::byte> withoutLast(std::vector<std::byte> data, std::size_t countBytes = 1) {
    data.resize(data.size() - countBytes);
    return data;
}

// `data` with `patch` written over it from `offset` on.
inline std::vector<std::byte> patched(std::vector<std::byte> data, std::size_t offset,
                                      const std::vector<std::byte>& patch) {
    std::copy(patch.begin(), patch.end(), data.begin() + static_cast<std::ptrdiff_t>(offset));
    return data;
}

// One whole frame, header and payload.
inline std::vector<std::byte> frameBytes(u16 type, u32 sequence, u64 sessionId, std::span<const std::byte> payload) {
    std::vector<std::byte> out;
    encodeFrame(out, type, sequence, sessionId, payload);
    return out;
}

inline std::vector<std::byte> commandPayload(u32 sequence, u8 kind, u32 target, u16 a, u16 b, u16 c) {
    return concat({}, encodeCommand(sequence, kind, target, a, b, c));
}

}  // namespace kestrune::net::test
