#pragma once
// Helpers shared by the net suites: exact exception checks and byte building.

#include <gtest/gtest.h>

#include <cstddef>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "base/types.h"

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
void expectRuntimeError(Action&& action, std::string_view message) {
    expectError<std::runtime_error>(action, message);
}

template <class Action>
void expectInvalidArgument(Action&& action, std::string_view message) {
    expectError<std::invalid_argument>(action, message);
}

inline std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (const int value : values) {
        out.push_back(static_cast<std::byte>(value));
    }
    return out;
}

inline std::vector<std::byte> bytesOf(std::string_view text) {
    std::vector<std::byte> out;
    for (const char c : text) {
        out.push_back(static_cast<std::byte>(c));
    }
    return out;
}

inline std::vector<std::byte> concat(std::vector<std::byte> head, const std::vector<std::byte>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

inline std::vector<std::byte> withoutLast(std::vector<std::byte> data, std::size_t countBytes = 1) {
    data.resize(data.size() - countBytes);
    return data;
}

}  // namespace kestrune::net::test
