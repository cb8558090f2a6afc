#pragma once
// What the renderer reports about itself: the device facts and the cumulative statistics
// that the smoke report prints. Plain values, copied out of the renderer by the shell.

#include "base/types.h"

namespace kestrune::render {

struct RenderDeviceInfo {
    bool flipModelEnabled = false;
    bool gpuSkinningEnabled = false;
    u32 msaaSampleCount = 0;
};

// Cumulative since the device was created; never reset.
struct RenderStatistics {
    u64 presentedFrames = 0;
    u64 uploadedModels = 0;
    u64 uploadedMeshes = 0;
    u64 uploadedTextures = 0;
    u64 drawCalls = 0;
    u64 triangles = 0;
    u64 skinnedVertices = 0;
    u64 gpuSkinnedVertices = 0;
    u64 cpuSkinnedVertices = 0;
    u64 skinPaletteUploads = 0;
    u64 frameLatencyWaits = 0;
    u64 frameLatencyTimeouts = 0;
    u64 antiAliasingResolves = 0;
    f64 renderCpuMillisecondsTotal = 0.0;
    f64 renderCpuMillisecondsMaximum = 0.0;
    f64 presentMillisecondsTotal = 0.0;
    f64 presentMillisecondsMaximum = 0.0;
};

// The renderer's report block: device facts followed by the statistics.
struct RenderReport {
    RenderDeviceInfo info;
    RenderStatistics statistics;
};

}  // namespace kestrune::render
