#pragma once
// Small helpers shared by the renderer suites.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <tuple>

#include "content/transform_math.h"
#include "render/render_types.h"

namespace kestrune::render::testing {

inline constexpr Color kWhite{1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr Color kRed{1.0f, 0.0f, 0.0f, 1.0f};
inline constexpr Color kGlass{0.2f, 0.4f, 1.0f, 0.5f};

// Row vector (x, y, z, 1) times m.
inline std::array<f32, 4> transformPoint(const Matrix4& m, const Vec3& p) {
    std::array<f32, 4> out{};
    for (std::size_t column = 0; column < 4; ++column) {
        out[column] = p[0] * m[column] + p[1] * m[4 + column] + p[2] * m[8 + column] + m[12 + column];
    }
    return out;
}

inline Matrix4 translation(f32 x, f32 y, f32 z) { return content::transformToMatrix({.translation = {x, y, z}}); }
inline Matrix4 scaled(f32 s) { return content::transformToMatrix({.scale = {s, s, s}}); }

inline void expectNear(const Vec3& actual, const Vec3& expected, f32 tolerance = 1e-5f) {
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_NEAR(actual[c], expected[c], tolerance) << "component " << c;
    }
}

// `action` must throw an E whose message is `message`.
template <class E>
void expectThrow(const std::function<void()>& action, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no exception; expected: " << message;
    } catch (const E& error) {
        EXPECT_EQ(error.what(), message);
    }
}

// An empty directory of the running test's name under the build tree's test output.
inline std::filesystem::path scratchDirectory() {
    const std::filesystem::path path = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output" /
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

}  // namespace kestrune::render::testing
