#pragma once
// A render device on the recording backend, for the front-end suites.

#include <memory>

#include "render/recording_backend.h"
#include "render/render_device.h"

namespace kestrune::render::testing {

inline constexpr Color kWhite{1.0f, 1.0f, 1.0f, 1.0f};

struct DeviceOptions {
    u32 sampleCount = 4;
    u32 failingDeviceAttempts = 0;
    u32 maxTextureDimension = 16'384;
    bool gpuSkinning = true;  // also whether the pipeline has its skin constant buffer
};

struct DeviceFixture {
    RecordingBackend* backend = nullptr;
    RenderDevice device;

    explicit DeviceFixture(const DeviceOptions& options = {}) : device(makeBackend(options)) {}

    void create(bool useWarp = false) { device.Create({}, 1280, 720, useWarp); }
    // Created, with a frame begun for draws.
    void start() {
        create();
        device.BeginFrame(placeholderCamera(), 0.0f);
    }

private:
    std::unique_ptr<RenderBackend> makeBackend(const DeviceOptions& options) {
        auto recording = std::make_unique<RecordingBackend>();
        recording->sampleCount = options.sampleCount;
        recording->failingDeviceAttempts = options.failingDeviceAttempts;
        recording->maxTextureDimension = options.maxTextureDimension;
        recording->gpuSkinning = options.gpuSkinning;
        recording->skinConstantBuffer = options.gpuSkinning;
        backend = recording.get();
        return recording;
    }
};

}  // namespace kestrune::render::testing
