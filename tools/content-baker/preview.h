#pragma once
// A picture of a model at one instant of a clip, drawn headless through the program's own
// renderer (OpenGL on Mesa's software rasterizer when there is no display) and saved as
// the renderer's 24-bit BMP screenshot. A character in its class folder ("warrior",
// "templar") is placed by the scene's draw constants and hides what the scene hides; an
// effect model in the content's effects folder wears the catalogue's texture and blend.
// The camera looks at the posed model from behind and above, as the game's does.

#include <filesystem>
#include <string>

#include "base/types.h"

namespace kestrune::baker {

struct PreviewRequest {
    std::filesystem::path model;
    std::string clip;        // empty: the model's own node transforms
    f64 timeSeconds = 0.0;   // clamped to the clip
    std::filesystem::path output;
    u32 widthPixels = 640;
    u32 heightPixels = 480;
    f64 orbitDegrees = 0.0;  // the camera's turn about the model, 180 looks at its front
};

// Throws the decoders' ContentErrors, std::runtime_error "<path> has no clip <name>" and
// the renderer's and window's failures.
void renderPreview(const PreviewRequest& request);

}  // namespace kestrune::baker
