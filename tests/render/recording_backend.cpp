#include "render/recording_backend.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kestrune::render::testing {

u32 RecordingBackend::liveBuffers() const {
    u32 live = 0;
    for (const RecordedBuffer& buffer : buffers) {
        live += buffer.released ? 0 : 1;
    }
    return live;
}

DeviceFacts RecordingBackend::createDevice(NativeWindow, u32, u32, bool useWarp) {
    deviceAttemptsWarp.push_back(useWarp);
    if (failingDeviceAttempts > 0) {
        --failingDeviceAttempts;
        throw std::runtime_error("scripted device failure");
    }
    return {u"Recording Adapter", useWarp ? u"warp" : u"hardware", u"11_0", gpuSkinning, maxTextureDimension};
}

GpuBuffer RecordingBackend::createBuffer(const BufferDesc& desc) {
    RecordedBuffer buffer{desc, false, {}};
    buffer.contents.assign(desc.initialData.begin(), desc.initialData.end());
    buffer.contents.resize(desc.sizeBytes);
    buffers.push_back(std::move(buffer));
    return static_cast<GpuBuffer>(buffers.size());
}

void RecordingBackend::writeBuffer(GpuBuffer buffer, std::span<const std::byte> bytes, const char*) {
    RecordedBuffer& target = buffers.at(static_cast<u32>(buffer) - 1);
    if (target.released || bytes.size() > target.contents.size()) {
        throw std::logic_error("write to a released or too small buffer");
    }
    std::memcpy(target.contents.data(), bytes.data(), bytes.size());
}

std::span<std::byte> RecordingBackend::mapBuffer(GpuBuffer buffer, const char*) {
    RecordedBuffer& target = buffers.at(static_cast<u32>(buffer) - 1);
    if (target.released || target.mapped || target.desc.usage != BufferUsage::dynamic) {
        throw std::logic_error("map of a released, mapped or immutable buffer");
    }
    target.mapped = true;
    ++target.maps;
    if (recordDraws) {
        std::fill(target.contents.begin(), target.contents.end(), std::byte{0xCD});  // discarded
    }
    return target.contents;
}

void RecordingBackend::writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) {
    if (!skinConstantBuffer) {
        throw std::logic_error("skin constants written without a skin constant buffer");
    }
    std::memcpy(&lastSkin, bytes.data(), bytes.size());
    ++skinWrites;
}

void RecordingBackend::releaseBuffer(GpuBuffer buffer) noexcept {
    if (buffer != GpuBuffer::none) {
        buffers[static_cast<u32>(buffer) - 1].released = true;
    }
}

GpuTexture RecordingBackend::createTexture(const TextureDesc& desc) {
    textures.push_back(desc);
    ++liveTextures;
    return static_cast<GpuTexture>(textures.size());
}

void RecordingBackend::releaseTexture(GpuTexture texture) noexcept {
    if (texture != GpuTexture::none) {
        --liveTextures;
    }
}

LatencyWaitResult RecordingBackend::waitForFrameLatency() {
    if (waitResults.empty()) {
        return LatencyWait::signalled;
    }
    LatencyWaitResult result = waitResults.front();
    waitResults.pop_front();
    return result;
}

namespace {

template <class Vertex>
std::vector<Vertex> vertexPrefix(const RecordedBuffer& buffer, u32 count) {
    if (buffer.contents.size() < count * sizeof(Vertex)) {
        throw std::logic_error("draw reads past its vertex buffer");
    }
    std::vector<Vertex> vertices(count);
    std::memcpy(vertices.data(), buffer.contents.data(), count * sizeof(Vertex));
    return vertices;
}

}  // namespace

void RecordingBackend::drawIndexed(const DrawCall& call) {
    if (!recordDraws) {
        return;
    }
    RecordedDraw draw{lastState, lastConstants, call, {}, {}, {}, lastSkin};
    const RecordedBuffer& vertices = buffers.at(static_cast<u32>(call.vertices) - 1);
    const RecordedBuffer& indices = buffers.at(static_cast<u32>(call.indices) - 1);
    if (vertices.mapped || vertices.released || indices.released) {
        throw std::logic_error("draw from a mapped or released buffer");
    }
    draw.indices.resize(call.indexCount);
    std::memcpy(draw.indices.data(), indices.contents.data(), call.indexCount * sizeof(u32));
    u32 vertexCount = 0;
    for (const u32 index : draw.indices) {
        vertexCount = std::max(vertexCount, index + 1);
    }
    if (call.vertexStrideBytes == sizeof(SkinnedVertex)) {
        draw.skinnedVertices = vertexPrefix<SkinnedVertex>(vertices, vertexCount);
    } else {
        draw.vertices = vertexPrefix<PrimitiveVertex>(vertices, vertexCount);
    }
    draws.push_back(std::move(draw));
}

void RecordingBackend::readBackBuffer(ReadbackConsumer& consumer) {
    const std::size_t pitch = std::size_t{readbackWidth} * 4 + 8;  // rows padded, as a mapped texture's are
    const std::vector<std::byte> pixels(pitch * readbackHeight, std::byte{0xEE});
    consumer.consume({readbackWidth, readbackHeight, pitch, pixels});
}

u32 RecordingBackend::present(u8 syncInterval) {
    ++presents;
    syncIntervals.push_back(syncInterval);
    return presentStatus;
}

void RecordingBackend::checkPresent(u32 status) {
    if (status != 0) {
        throw std::runtime_error("scripted present failure");
    }
}

}  // namespace kestrune::render::testing
