#pragma once
// The HLSL texts of the Direct3D 11 backend's three programs, compiled at start-up with
// entry point "main". Kept in a portable file so their exact lengths are tested on every
// platform: the compiler is handed the text without its terminating NUL.

#include <string_view>

namespace kestrune::render {

inline constexpr const char* kHlslEntryPoint = "main";
inline constexpr const char* kPrimitiveVertexProfile = "vs_4_0_level_9_3";
inline constexpr const char* kPixelProfile = "ps_4_0_level_9_3";
inline constexpr const char* kModelVertexProfile = "vs_4_0";

extern const std::string_view kPrimitiveVertexHlsl;  // PrimitiveVertex in, colour = vertex colour x tint
extern const std::string_view kPixelHlsl;            // texture, lighting, alpha cut-off; every draw
extern const std::string_view kModelVertexHlsl;      // SkinnedVertex in, GPU skinning, colour = tint

}  // namespace kestrune::render
