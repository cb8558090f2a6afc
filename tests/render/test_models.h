#pragma once
// Models the renderer suites upload and draw. Each is built in code and passed through the
// KMDL writer and decoder, so every model a test uses is one the loader accepts.

#include <string>
#include <vector>

#include "content/model.h"
#include "render/render_types.h"

namespace kestrune::render::testing {

// parseModel(writeModel(model)): the model as the loader gives it back (node order included).
content::Model decoded(const content::Model& model);

content::Material material(const std::string& name, const Color& color, u32 alphaMode = content::kAlphaOpaque,
                           bool doubleSided = false, const std::string& texture = "");

// A quad in the plane z = depth facing a camera on the -z side: normal (0, 0, -1),
// counter-clockwise on screen. Vertex weights name joint 0 of a skin, if the mesh gets one.
content::Mesh quadMesh(const std::string& name, f32 x0, f32 y0, f32 x1, f32 y1, f32 depth, i32 material);

// One root node holding every mesh (rigid), and the given materials.
content::Model rigidModel(std::vector<content::Mesh> meshes, std::vector<content::Material> materials);

// A chain of `jointCount` nodes under a root, all joints of one skin, and one skinned quad
// on the root bound to the first joint. Decoded.
content::Model skinnedQuadModel(u32 jointCount);

// A figure 1.85 m tall: two columns of boxes (240 vertices) on a chain of five joints, the
// lower corners of each box blending two joints, cloth and skin materials on the two meshes,
// and a one-second "walk" clip that swings the links. Decoded.
content::Model testCharacter();

// Global matrices of the nodes' own transforms (the bind pose), and of a clip at a time.
std::vector<Matrix4> bindPose(const content::Model& model);
std::vector<Matrix4> clipPose(const content::Model& model, const std::string& clip, f64 timeSeconds);

}  // namespace kestrune::render::testing
