#pragma once
// The graphics backend of the platform being built: Direct3D 11 on Windows, OpenGL 3.3
// core on Linux. Creating it touches no API; the device comes with RenderDevice::Create.

#include <memory>

#include "render/render_backend.h"

namespace kestrune::render {

std::unique_ptr<RenderBackend> createPlatformBackend();

}  // namespace kestrune::render
