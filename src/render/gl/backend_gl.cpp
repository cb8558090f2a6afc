#include "render/gl/backend_gl.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "base/text_format.h"
#include "render/gl/shader_sources_gl.h"
#include "render/platform_backend.h"

namespace kestrune::render {

std::unique_ptr<RenderBackend> createPlatformBackend() { return std::make_unique<gl::GlBackend>(); }

namespace gl {

namespace {

constexpr std::array<u32, 2> kProbedSampleCounts{4, 2};
constexpr GLenum kColorFormat = GL_SRGB8_ALPHA8;
constexpr GLenum kDepthFormat = GL_DEPTH24_STENCIL8;
constexpr int kRequiredMajor = 3;
constexpr int kRequiredMinor = 3;

std::u16string widen(std::string_view text) { return {text.begin(), text.end()}; }

std::string glString(GLenum name) {
    const GLubyte* text = glGetString(name);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

bool hasExtension(std::string_view wanted) {
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const GLubyte* name = glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
        if (name != nullptr && wanted == reinterpret_cast<const char*>(name)) {
            return true;
        }
    }
    return false;
}

// GL reports allocation failures only through its error flag; creation calls check it once.
void throwIfGlFailed(const char* operation) {
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        throw std::runtime_error(formatText("%s failed with GL error 0x%04X", operation, error));
    }
}

void checkFramebuffer(const char* purpose) {
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        throw std::runtime_error(
            formatText("glCheckFramebufferStatus(%s) failed with status 0x%04X", purpose, status));
    }
}

GLuint createRenderbuffer(GLenum format, u32 samples, u32 widthPixels, u32 heightPixels) {
    GLuint name = 0;
    glGenRenderbuffers(1, &name);
    glBindRenderbuffer(GL_RENDERBUFFER, name);
    if (samples > 1) {
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, static_cast<GLsizei>(samples), format,
                                         static_cast<GLsizei>(widthPixels), static_cast<GLsizei>(heightPixels));
    } else {
        glRenderbufferStorage(GL_RENDERBUFFER, format, static_cast<GLsizei>(widthPixels),
                              static_cast<GLsizei>(heightPixels));
    }
    return name;
}

// A sample count serves when colour and depth renderbuffers of exactly that count can be
// made and together form a complete framebuffer, the nearest GL has to D3D's quality query.
bool sampleCountWorks(u32 samples) {
    GLint maxSamples = 0;
    glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
    if (static_cast<GLint>(samples) > maxSamples) {
        return false;
    }
    const GLuint color = createRenderbuffer(kColorFormat, samples, 16, 16);
    GLint colorSamples = 0;
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_SAMPLES, &colorSamples);
    const GLuint depth = createRenderbuffer(kDepthFormat, samples, 16, 16);
    GLint depthSamples = 0;
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_SAMPLES, &depthSamples);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &depth);
    glDeleteRenderbuffers(1, &color);
    glGetError();  // a refused count is an answer, not a failure
    return complete && colorSamples == static_cast<GLint>(samples) && depthSamples == static_cast<GLint>(samples);
}

GLuint compileStage(GLenum stage, const char* name, const std::string& source) {
    const GLuint shader = glCreateShader(stage);
    const char* text = source.c_str();
    const GLint length = static_cast<GLint>(source.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        GLint logLength = 0;
        glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &logLength);
        std::string log(static_cast<std::size_t>(std::max(logLength, 1)), '\0');
        glGetShaderInfoLog(shader, logLength, nullptr, log.data());
        glDeleteShader(shader);
        log.resize(std::strlen(log.c_str()));
        throw std::runtime_error(formatText("glCompileShader(%s): %s", name, log.c_str()));
    }
    return shader;
}

void setVertexLayout(VertexPath path, u32 strideBytes) {
    const auto stride = static_cast<GLsizei>(strideBytes);
    const auto at = [](std::size_t offset) { return reinterpret_cast<const void*>(offset); };
    glEnableVertexAttribArray(kPositionLocation);
    glEnableVertexAttribArray(kNormalLocation);
    glEnableVertexAttribArray(kUvLocation);
    glVertexAttribPointer(kPositionLocation, 3, GL_FLOAT, GL_FALSE, stride, at(0));
    glVertexAttribPointer(kNormalLocation, 3, GL_FLOAT, GL_FALSE, stride, at(12));
    glVertexAttribPointer(kUvLocation, 2, GL_FLOAT, GL_FALSE, stride, at(24));
    if (path == VertexPath::gpuSkinned) {
        glEnableVertexAttribArray(kJointsLocation);
        glEnableVertexAttribArray(kWeightsLocation);
        glVertexAttribIPointer(kJointsLocation, 4, GL_UNSIGNED_SHORT, stride, at(32));
        glVertexAttribPointer(kWeightsLocation, 4, GL_FLOAT, GL_FALSE, stride, at(40));
    } else {
        glEnableVertexAttribArray(kColorLocation);
        glDisableVertexAttribArray(kWeightsLocation);
        glVertexAttribPointer(kColorLocation, 4, GL_FLOAT, GL_FALSE, stride, at(32));
    }
}

}  // namespace

void requestSoftwareRasterizer() noexcept {
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    setenv("GALLIUM_DRIVER", "llvmpipe", 1);
}

bool isSoftwareRenderer(std::string_view renderer) noexcept {
    for (const std::string_view software : {"llvmpipe", "softpipe", "Software Rasterizer", "SWR", "lavapipe"}) {
        if (renderer.find(software) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

GlBackend::~GlBackend() { destroy(); }

// ---- Section: Creation ----

// The software rasterizer is chosen when Mesa opens the display, which happens with the
// window (see requestSoftwareRasterizer); here only the context is made.
DeviceFacts GlBackend::createDevice(NativeWindow window, u32, u32, bool) {
    window_ = static_cast<SDL_Window*>(window.handle);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, kRequiredMajor);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, kRequiredMinor);
    context_ = SDL_GL_CreateContext(window_);
    if (context_ == nullptr) {
        throw std::runtime_error(formatText("SDL_GL_CreateContext failed: %s", SDL_GetError()));
    }
    if (SDL_GL_MakeCurrent(window_, context_) != 0) {
        throw std::runtime_error(formatText("SDL_GL_MakeCurrent failed: %s", SDL_GetError()));
    }
    GLint major = 0;
    GLint minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major < kRequiredMajor || (major == kRequiredMajor && minor < kRequiredMinor)) {
        throw std::runtime_error(formatText("OpenGL 3.3 core is required; the context is %d.%d", major, minor));
    }
    // Clip depth 0..1 like Direct3D, so both backends share one projection matrix.
    remapDepth_ = !(major > 4 || (major == 4 && minor >= 5) || hasExtension("GL_ARB_clip_control"));
    if (!remapDepth_) {
        glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    }
    glGetError();

    const std::string renderer = glString(GL_RENDERER);
    DeviceFacts facts;
    facts.adapterText = widen(renderer);
    facts.driverText = isSoftwareRenderer(renderer) ? u"warp" : u"hardware";
    facts.featureLevelText = widen(formatText("gl%d.%d", major, minor));
    facts.gpuSkinningSupported = gpuSkinning_;  // every 3.3 context takes the 8208-byte skin block
    GLint maxTextureSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    facts.maxTextureDimensionPixels = static_cast<u32>(std::max(maxTextureSize, 0));
    return facts;
}

u32 GlBackend::createTargets(u32 widthPixels, u32 heightPixels) {
    releaseTargets();
    widthPixels_ = widthPixels;
    heightPixels_ = heightPixels;
    const auto width = static_cast<GLsizei>(widthPixels);
    const auto height = static_cast<GLsizei>(heightPixels);

    glGenTextures(1, &backBufferTexture_);
    glBindTexture(GL_TEXTURE_2D, backBufferTexture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(kColorFormat), width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 nullptr);
    throwIfGlFailed("glTexImage2D(back buffer)");
    glGenFramebuffers(1, &backBufferFramebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, backBufferFramebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, backBufferTexture_, 0);

    sampleCount_ = 1;
    for (const u32 samples : kProbedSampleCounts) {
        if (sampleCountWorks(samples)) {
            sampleCount_ = samples;
            break;
        }
    }
    depthBuffer_ = createRenderbuffer(kDepthFormat, sampleCount_, widthPixels, heightPixels);
    throwIfGlFailed("glRenderbufferStorage(depth)");
    if (sampleCount_ > 1) {
        msaaColor_ = createRenderbuffer(kColorFormat, sampleCount_, widthPixels, heightPixels);
        throwIfGlFailed("glRenderbufferStorageMultisample(MSAA color)");
        glGenFramebuffers(1, &msaaFramebuffer_);
        glBindFramebuffer(GL_FRAMEBUFFER, msaaFramebuffer_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, msaaColor_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
        checkFramebuffer("MSAA color");
        glBindFramebuffer(GL_FRAMEBUFFER, backBufferFramebuffer_);
        checkFramebuffer("back buffer");
    } else {
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
        checkFramebuffer("back buffer");
    }
    glViewport(0, 0, width, height);
    return sampleCount_;
}

GLuint GlBackend::compileProgram(const char* name, std::string_view vertexBody, std::string_view pixelBody) {
    const GLuint vertex = compileStage(GL_VERTEX_SHADER, name, completeShaderSource(vertexBody, remapDepth_));
    GLuint pixel = 0;
    try {
        pixel = compileStage(GL_FRAGMENT_SHADER, "pixel", completeShaderSource(pixelBody, remapDepth_));
    } catch (...) {
        glDeleteShader(vertex);
        throw;
    }
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, pixel);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(pixel);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        std::string log(1024, '\0');
        glGetProgramInfoLog(program, static_cast<GLsizei>(log.size()), nullptr, log.data());
        glDeleteProgram(program);
        log.resize(std::strlen(log.c_str()));
        throw std::runtime_error(formatText("glLinkProgram(%s): %s", name, log.c_str()));
    }
    const GLuint sceneBlock = glGetUniformBlockIndex(program, "SceneConstants");
    glUniformBlockBinding(program, sceneBlock, kSceneConstantsBinding);
    const GLuint skinBlock = glGetUniformBlockIndex(program, "SkinConstants");
    if (skinBlock != GL_INVALID_INDEX) {
        glUniformBlockBinding(program, skinBlock, kSkinConstantsBinding);
    }
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "baseTexture"), 0);
    return program;
}

std::u16string GlBackend::createPipeline(bool gpuSkinning) {
    primitiveProgram_ = compileProgram("primitive", kPrimitiveVertexSource, kPixelSource);
    glGenVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);

    glGenBuffers(1, &sceneConstants_);
    glBindBuffer(GL_UNIFORM_BUFFER, sceneConstants_);
    glBufferData(GL_UNIFORM_BUFFER, sizeof(SceneConstants), nullptr, GL_DYNAMIC_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, kSceneConstantsBinding, sceneConstants_);
    throwIfGlFailed("glBufferData(constants)");
    if (gpuSkinning) {
        modelProgram_ = compileProgram("model", kModelVertexSource, kPixelSource);
        glGenBuffers(1, &skinConstants_);
        glBindBuffer(GL_UNIFORM_BUFFER, skinConstants_);
        glBufferData(GL_UNIFORM_BUFFER, kSkinConstantsBytes, nullptr, GL_DYNAMIC_DRAW);
        glBindBufferBase(GL_UNIFORM_BUFFER, kSkinConstantsBinding, skinConstants_);
        throwIfGlFailed("glBufferData(skin constants)");
    }

    glGenSamplers(1, &linearSampler_);
    glSamplerParameteri(linearSampler_, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glSamplerParameteri(linearSampler_, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(linearSampler_, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glSamplerParameteri(linearSampler_, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glSamplerParameteri(linearSampler_, GL_TEXTURE_WRAP_R, GL_REPEAT);
    glBindSampler(0, linearSampler_);

    // Fixed for the whole run: counter-clockwise triangles face front, the back is culled.
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
    glDepthFunc(GL_LEQUAL);
    glDisable(GL_STENCIL_TEST);
    glEnable(GL_FRAMEBUFFER_SRGB);
    throwIfGlFailed("pipeline state setup");
    return gpuSkinning ? u"glsl 330 core: model vertex GPU skinning + primitive vertex/pixel programs"
                       : u"glsl 330 core: primitive vertex/pixel programs (CPU skinning fallback)";
}

void GlBackend::releaseTargets() noexcept {
    glDeleteFramebuffers(1, &msaaFramebuffer_);
    glDeleteRenderbuffers(1, &msaaColor_);
    glDeleteRenderbuffers(1, &depthBuffer_);
    glDeleteFramebuffers(1, &backBufferFramebuffer_);
    glDeleteTextures(1, &backBufferTexture_);
    msaaFramebuffer_ = msaaColor_ = depthBuffer_ = backBufferFramebuffer_ = backBufferTexture_ = 0;
    sampleCount_ = 1;
}

void GlBackend::destroy() noexcept {
    if (context_ == nullptr) {
        return;
    }
    SDL_GL_MakeCurrent(window_, context_);
    glFinish();
    for (const BufferSlot& buffer : buffers_.all()) {
        glDeleteBuffers(1, &buffer.name);
    }
    buffers_.clear();
    if (frameFence_ != nullptr) {
        glDeleteSync(frameFence_);
        frameFence_ = nullptr;
    }
    glDeleteSamplers(1, &linearSampler_);
    glDeleteBuffers(1, &skinConstants_);
    glDeleteBuffers(1, &sceneConstants_);
    glDeleteVertexArrays(1, &vertexArray_);
    glDeleteProgram(modelProgram_);
    glDeleteProgram(primitiveProgram_);
    linearSampler_ = skinConstants_ = sceneConstants_ = vertexArray_ = modelProgram_ = primitiveProgram_ = 0;
    releaseTargets();
    SDL_GL_MakeCurrent(window_, nullptr);
    SDL_GL_DeleteContext(context_);
    context_ = nullptr;
    swapInterval_ = -1;
}

// ---- Section: Resources ----

GlBackend::BufferSlot& GlBackend::slot(GpuBuffer buffer) { return buffers_.at(static_cast<u32>(buffer)); }

GpuBuffer GlBackend::createBuffer(const BufferDesc& desc) {
    BufferSlot created;
    created.sizeBytes = desc.sizeBytes;
    created.usage = desc.usage == BufferUsage::immutable ? GL_STATIC_DRAW : GL_DYNAMIC_DRAW;
    glGenBuffers(1, &created.name);
    // The copy-write target binds any buffer without disturbing the vertex array's state.
    glBindBuffer(GL_COPY_WRITE_BUFFER, created.name);
    glBufferData(GL_COPY_WRITE_BUFFER, desc.sizeBytes, desc.initialData.empty() ? nullptr : desc.initialData.data(),
                 created.usage);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        glDeleteBuffers(1, &created.name);
        throw std::runtime_error(formatText("%s failed with GL error 0x%04X", desc.operation, error));
    }
    return static_cast<GpuBuffer>(buffers_.add(created));
}

void GlBackend::writeBuffer(GpuBuffer buffer, std::span<const std::byte> bytes, const char*) {
    const BufferSlot& target = slot(buffer);
    glBindBuffer(GL_COPY_WRITE_BUFFER, target.name);
    // Re-specifying the store orphans the old one, so a draw still reading it is not waited for.
    glBufferData(GL_COPY_WRITE_BUFFER, target.sizeBytes, nullptr, target.usage);
    glBufferSubData(GL_COPY_WRITE_BUFFER, 0, static_cast<GLsizeiptr>(bytes.size()), bytes.data());
}

std::span<std::byte> GlBackend::mapBuffer(GpuBuffer buffer, const char* operation) {
    const BufferSlot& target = slot(buffer);
    glBindBuffer(GL_COPY_WRITE_BUFFER, target.name);
    // Invalidating the whole store lets the driver hand out fresh memory instead of waiting
    // for draws that still read the old contents, as D3D11_MAP_WRITE_DISCARD does.
    void* data = glMapBufferRange(GL_COPY_WRITE_BUFFER, 0, target.sizeBytes,
                                  GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
    if (data == nullptr) {
        throw std::runtime_error(formatText("%s failed with GL error 0x%04X", operation, glGetError()));
    }
    return {static_cast<std::byte*>(data), target.sizeBytes};
}

void GlBackend::unmapBuffer(GpuBuffer buffer) noexcept {
    glBindBuffer(GL_COPY_WRITE_BUFFER, buffers_.at(static_cast<u32>(buffer)).name);
    // GL_FALSE here means the store was lost (a display mode change): the next draw
    // rewrites it, so one frame shows stale vertices at worst.
    glUnmapBuffer(GL_COPY_WRITE_BUFFER);
}

void GlBackend::releaseBuffer(GpuBuffer buffer) noexcept {
    if (buffer == GpuBuffer::none || context_ == nullptr) {
        return;
    }
    const BufferSlot released = buffers_.release(static_cast<u32>(buffer));
    glDeleteBuffers(1, &released.name);
}

GpuTexture GlBackend::createTexture(const TextureDesc& desc) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);  // one level, complete without mipmaps
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    std::vector<std::byte> packed;
    const std::byte* pixels = desc.pixels.data();
    const std::size_t rowBytes = std::size_t{desc.widthPixels} * 4;
    if (desc.rowPitchBytes != rowBytes) {
        packed.resize(rowBytes * desc.heightPixels);
        for (u32 y = 0; y < desc.heightPixels; ++y) {
            std::memcpy(packed.data() + rowBytes * y, pixels + std::size_t{desc.rowPitchBytes} * y, rowBytes);
        }
        pixels = packed.data();
    }
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(kColorFormat), static_cast<GLsizei>(desc.widthPixels),
                 static_cast<GLsizei>(desc.heightPixels), 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        glDeleteTextures(1, &texture);
        throw std::runtime_error(formatText("%s failed with GL error 0x%04X", desc.textureOperation, error));
    }
    return static_cast<GpuTexture>(texture);
}

void GlBackend::releaseTexture(GpuTexture texture) noexcept {
    if (texture == GpuTexture::none || context_ == nullptr) {
        return;
    }
    const GLuint name = static_cast<GLuint>(texture);
    glDeleteTextures(1, &name);
}

// ---- Section: Frame ----

LatencyWaitResult GlBackend::waitForFrameLatency() {
    // Before the first swap there is nothing to wait for: like a waitable object that starts signalled.
    if (frameFence_ == nullptr) {
        return LatencyWait::signalled;
    }
    const GLenum result = glClientWaitSync(frameFence_, GL_SYNC_FLUSH_COMMANDS_BIT, kFrameLatencyWaitNanoseconds);
    glDeleteSync(frameFence_);
    frameFence_ = nullptr;
    switch (result) {
        case GL_ALREADY_SIGNALED:
        case GL_CONDITION_SATISFIED:
            return LatencyWait::signalled;
        case GL_TIMEOUT_EXPIRED:
            return LatencyWait::timedOut;
        case GL_WAIT_FAILED:
            return LatencyWaitResult(formatText("Frame-latency wait failed with GL error %u.", glGetError()));
        default:
            return LatencyWaitResult(std::string("Frame-latency wait returned an unexpected result."));
    }
}

void GlBackend::beginPass(const Color& clearColor) {
    glBindFramebuffer(GL_FRAMEBUFFER, sampleCount_ > 1 ? msaaFramebuffer_ : backBufferFramebuffer_);
    glViewport(0, 0, static_cast<GLsizei>(widthPixels_), static_cast<GLsizei>(heightPixels_));
    glEnable(GL_FRAMEBUFFER_SRGB);
    // Clears obey the write masks, which the previous frame's last draw may have turned off.
    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearBufferfv(GL_COLOR, 0, clearColor.data());
    glClearBufferfi(GL_DEPTH_STENCIL, 0, 1.0f, 0);
}

void GlBackend::writeSceneConstants(const SceneConstants& constants) {
    glBindBuffer(GL_UNIFORM_BUFFER, sceneConstants_);
    glBufferData(GL_UNIFORM_BUFFER, sizeof(SceneConstants), &constants, GL_DYNAMIC_DRAW);
}

void GlBackend::writeSkinConstants(std::span<const std::byte, kSkinConstantsBytes> bytes) {
    glBindBuffer(GL_UNIFORM_BUFFER, skinConstants_);
    glBufferData(GL_UNIFORM_BUFFER, kSkinConstantsBytes, bytes.data(), GL_DYNAMIC_DRAW);
}

void GlBackend::applyDrawState(const DrawState& state) {
    boundPath_ = state.path;
    glUseProgram(state.path == VertexPath::gpuSkinned ? modelProgram_ : primitiveProgram_);
    if (state.raster == RasterMode::cullBack) {
        glEnable(GL_CULL_FACE);
    } else {
        glDisable(GL_CULL_FACE);
    }
    switch (state.blend) {
        case BlendMode::opaque:
            glDisable(GL_BLEND);
            break;
        case BlendMode::alpha:
            glEnable(GL_BLEND);
            glBlendEquationSeparate(GL_FUNC_ADD, GL_FUNC_ADD);
            glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
            break;
        case BlendMode::additive:
            glEnable(GL_BLEND);
            glBlendEquationSeparate(GL_FUNC_ADD, GL_FUNC_ADD);
            glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE, GL_ONE, GL_ONE);
            break;
    }
    switch (state.depth) {
        case DepthMode::readWrite:
            glEnable(GL_DEPTH_TEST);
            glDepthMask(GL_TRUE);
            break;
        case DepthMode::readOnly:
            glEnable(GL_DEPTH_TEST);
            glDepthMask(GL_FALSE);
            break;
        case DepthMode::disabled:
            glDisable(GL_DEPTH_TEST);
            glDepthMask(GL_FALSE);
            break;
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(state.texture));
}

void GlBackend::drawIndexed(const DrawCall& call) {
    glBindVertexArray(vertexArray_);
    glBindBuffer(GL_ARRAY_BUFFER, slot(call.vertices).name);
    setVertexLayout(boundPath_, call.vertexStrideBytes);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, slot(call.indices).name);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(call.indexCount), GL_UNSIGNED_INT, nullptr);
}

bool GlBackend::resolve() {
    if (sampleCount_ <= 1) {
        return false;
    }
    const auto width = static_cast<GLint>(widthPixels_);
    const auto height = static_cast<GLint>(heightPixels_);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, msaaFramebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, backBufferFramebuffer_);
    // Direct3D resolves the stored sRGB-encoded values as UNORM. With sRGB conversion on, the
    // blit would average in linear light instead and edges would come out brighter here.
    glDisable(GL_FRAMEBUFFER_SRGB);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glEnable(GL_FRAMEBUFFER_SRGB);
    return true;
}

void GlBackend::readBackBuffer(ReadbackConsumer& consumer) {
    const std::size_t rowBytes = std::size_t{widthPixels_} * 4;
    readback_.resize(rowBytes * heightPixels_);
    readbackFlipped_.resize(readback_.size());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, backBufferFramebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    // The stored bytes are wanted, not a linear decode of them.
    glDisable(GL_FRAMEBUFFER_SRGB);
    glReadPixels(0, 0, static_cast<GLsizei>(widthPixels_), static_cast<GLsizei>(heightPixels_), GL_RGBA,
                 GL_UNSIGNED_BYTE, readback_.data());
    glEnable(GL_FRAMEBUFFER_SRGB);
    throwIfGlFailed("glReadPixels(screenshot)");
    // GL rows run bottom to top; screenshots run top to bottom.
    for (u32 y = 0; y < heightPixels_; ++y) {
        std::memcpy(readbackFlipped_.data() + rowBytes * y, readback_.data() + rowBytes * (heightPixels_ - 1 - y),
                    rowBytes);
    }
    consumer.consume({widthPixels_, heightPixels_, rowBytes, readbackFlipped_});
}

u32 GlBackend::present(u8 syncInterval) {
    if (swapInterval_ != syncInterval) {
        // A driver that refuses the interval still presents; pacing then rests on the fence alone.
        SDL_GL_SetSwapInterval(syncInterval);
        swapInterval_ = syncInterval;
    }
    int drawableWidth = 0;
    int drawableHeight = 0;
    SDL_GL_GetDrawableSize(window_, &drawableWidth, &drawableHeight);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, backBufferFramebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // A raw copy: the back buffer already holds sRGB-encoded bytes, as the window shows them.
    glDisable(GL_FRAMEBUFFER_SRGB);
    glBlitFramebuffer(0, 0, static_cast<GLint>(widthPixels_), static_cast<GLint>(heightPixels_), 0, 0, drawableWidth,
                      drawableHeight, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    glEnable(GL_FRAMEBUFFER_SRGB);
    SDL_GL_SwapWindow(window_);
    frameFence_ = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    // GL reports failures only through its error flag; once per frame it is read and must be clear.
    return glGetError();
}

void GlBackend::checkPresent(u32 status) {
    if (status == GL_CONTEXT_LOST) {
        throw std::runtime_error("OpenGL context lost at present.");
    }
    if (status != GL_NO_ERROR) {
        throw std::runtime_error(formatText("OpenGL frame failed with GL error 0x%04X", status));
    }
}

u32 GlBackend::resizeTargets(u32 widthPixels, u32 heightPixels) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glFinish();
    return createTargets(widthPixels, heightPixels);
}

}  // namespace gl
}  // namespace kestrune::render
