#pragma once
// GLSL 330 versions of the renderer's three programs. They share the uniform-block layouts
// of the HLSL ones (std140, row-major matrices, vector times matrix) and their lighting,
// tint, texture and alpha cut-off logic, so both backends shade the same bytes alike.

#include <string>
#include <string_view>

namespace kestrune::render::gl {

// Attribute locations of both vertex programs.
inline constexpr unsigned kPositionLocation = 0;
inline constexpr unsigned kNormalLocation = 1;
inline constexpr unsigned kUvLocation = 2;
inline constexpr unsigned kColorLocation = 3;    // primitive program
inline constexpr unsigned kJointsLocation = 3;   // model program
inline constexpr unsigned kWeightsLocation = 4;  // model program

inline constexpr unsigned kSceneConstantsBinding = 0;
inline constexpr unsigned kSkinConstantsBinding = 1;

extern const std::string_view kPrimitiveVertexSource;
extern const std::string_view kModelVertexSource;
extern const std::string_view kPixelSource;

// Prepends the version line, the switch that makes the vertex programs remap depth to
// OpenGL's -1..1 when the context cannot clip to 0..1 itself, and the scene constant block.
std::string completeShaderSource(std::string_view body, bool remapDepth);

}  // namespace kestrune::render::gl
