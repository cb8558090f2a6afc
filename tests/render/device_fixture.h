#pragma once
// A render device on the recording backend, for the front-end suites. The backend's script
// (sample count, failing attempts, texture limit, GPU skinning) is set before create().

#include "render/recording_backend.h"
#include "render/render_device.h"
#include "render/test_support.h"

namespace kestrune::render::testing {

struct DeviceFixture {
    std::unique_ptr<RecordingBackend> owned = std::make_unique<RecordingBackend>();
    RecordingBackend* backend = owned.get();
    RenderDevice device{std::move(owned)};

    void create(bool useWarp = false) { device.Create({}, 1280, 720, useWarp); }
};

// Created, with a frame begun for draws. Without GPU skinning the device has no skin constant
// buffer either and skins on the CPU.
struct StartedDevice : DeviceFixture {
    explicit StartedDevice(bool gpuSkinning = true) {
        backend->gpuSkinning = backend->skinConstantBuffer = gpuSkinning;
        create();
        device.BeginFrame(placeholderCamera(), 0.0f);
    }
};

}  // namespace kestrune::render::testing
