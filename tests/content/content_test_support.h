#pragma once
// Helpers shared by the content suites: exact-message error assertions, a scratch
// directory per test, files on disk, and the path of the shared test data.

#include <gmock/gmock.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "content/model.h"

namespace kestrune::content::test {

inline const std::filesystem::path kTestData = "../shared/testdata";

// Runs `action` and expects exception type E with exactly `message`; `trace` names the case.
template <class E = ContentError>
void expectError(const std::function<void()>& action, const std::string& message, std::string_view trace = {}) {
    EXPECT_THAT(action, ::testing::ThrowsMessage<E>(message)) << trace;
}

// Element by element within `tolerance`: quaternions, matrices.
template <std::size_t N>
void expectNear(const std::array<f32, N>& actual, const std::array<f32, N>& expected, f32 tolerance) {
    for (std::size_t i = 0; i < N; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}
inline void expectNear(const Matrix4& actual, const Matrix4& expected, f32 tolerance) {
    expectNear(actual.m, expected.m, tolerance);
}

// A directory of its own for each test, removed afterwards.
class ScratchDirectory {
public:
    ScratchDirectory() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                (std::string("kestrune-content-") + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::filesystem::path file(const std::string& name) const { return path_ / name; }

    std::filesystem::path write(const std::string& name, std::span<const std::byte> bytes) const {
        const std::filesystem::path target = file(name);
        std::ofstream out(target, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return target;
    }

private:
    std::filesystem::path path_;
};

// The same hexadecimal digest with its last digit changed.
inline std::string lastDigitChanged(std::string hex) {
    hex.back() = hex.back() == '0' ? '1' : '0';
    return hex;
}

inline std::vector<std::byte> bytesOf(std::string_view text) {
    const auto* first = reinterpret_cast<const std::byte*>(text.data());
    return {first, first + text.size()};
}

inline std::vector<std::byte> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return bytesOf(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

}  // namespace kestrune::content::test
