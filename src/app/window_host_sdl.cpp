#include "app/window_host_sdl.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/native_client.h"
#include "render/gl/backend_gl.h"

namespace kestrune::app {

std::unique_ptr<WindowHost> createPlatformWindowHost() { return std::make_unique<SdlWindowHost>(); }

u32 virtualKeyFromSdl(SDL_Keycode key) noexcept {
    if (key >= SDLK_a && key <= SDLK_z) {
        return 0x41 + static_cast<u32>(key - SDLK_a);
    }
    if (key >= SDLK_0 && key <= SDLK_9) {
        return 0x30 + static_cast<u32>(key - SDLK_0);
    }
    if (key >= SDLK_F1 && key <= SDLK_F12) {
        return 0x70 + static_cast<u32>(key - SDLK_F1);
    }
    switch (key) {
        case SDLK_BACKSPACE: return 0x08;
        case SDLK_TAB: return kVirtualKeyTab;
        case SDLK_RETURN: return 0x0D;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return kVirtualKeyShift;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return 0x11;
        case SDLK_LALT:
        case SDLK_RALT: return 0x12;
        case SDLK_ESCAPE: return kVirtualKeyEscape;
        case SDLK_SPACE: return kVirtualKeySpace;
        case SDLK_LEFT: return 0x25;
        case SDLK_UP: return 0x26;
        case SDLK_RIGHT: return 0x27;
        case SDLK_DOWN: return 0x28;
        default: return 0;
    }
}

bool needsOffscreenVideo(const char* display, const char* waylandDisplay) noexcept {
    const auto unset = [](const char* value) { return value == nullptr || *value == '\0'; };
    return unset(display) && unset(waylandDisplay);
}

SdlWindowHost::~SdlWindowHost() {
    if (sdlWindow_ != nullptr) {
        SDL_DestroyWindow(sdlWindow_);
    }
    if (videoStarted_) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
}

void SdlWindowHost::registerWindowClass(NativeClient& host) {
    if (needsOffscreenVideo(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
        // A window nobody can see would wait for an Escape nobody can press.
        if (!host.options.smokeTest) {
            throw std::runtime_error(kNoDisplayMessage);
        }
        // Headless machines (CI) still render: OpenGL through EGL on Mesa's software rasterizer.
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    }
    if (host.options.useWarp) {
        render::gl::requestSoftwareRasterizer();
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        throw std::runtime_error(std::string("SDL_InitSubSystem(video) failed: ") + SDL_GetError());
    }
    videoStarted_ = true;
    gamepads_.start(host.log);
}

void SdlWindowHost::createMainWindow(NativeClient& host) {
    // The renderer draws into its own targets and copies them to the window, so the
    // window's framebuffer needs neither depth nor multisampling.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    sdlWindow_ = SDL_CreateWindow(kWindowTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                  static_cast<int>(host.options.width), static_cast<int>(host.options.height),
                                  SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (sdlWindow_ == nullptr) {
        throw std::runtime_error(std::string("SDL_CreateWindow failed: ") + SDL_GetError());
    }
    host.window = sdlWindow_;
}

ClientSize SdlWindowHost::clientSize(const NativeClient& host) const {
    int width = 0;
    int height = 0;
    if (host.window != nullptr) {
        SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(host.window), &width, &height);
    }
    return {static_cast<u32>(std::max(width, 0)), static_cast<u32>(std::max(height, 0))};
}

render::NativeWindow SdlWindowHost::nativeWindow(const NativeClient& host) const noexcept { return {host.window}; }

void SdlWindowHost::showWindow(NativeClient& host) {
    if (host.window != nullptr) {
        SDL_ShowWindow(static_cast<SDL_Window*>(host.window));
    }
}

void SdlWindowHost::recordSize(NativeClient& host) {
    const ClientSize size = clientSize(host);
    host.pendingWidth = size.widthPixels;
    host.pendingHeight = size.heightPixels;
    host.resizePending = size.widthPixels != 0 && size.heightPixels != 0;
}

void SdlWindowHost::handleEvent(NativeClient& host, const SDL_Event& event) {
    switch (event.type) {
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
                case SDL_WINDOWEVENT_CLOSE: {
                    // Closing ends the run the way a destroyed Win32 window does: the window is
                    // gone for the host and a quit message follows.
                    SDL_HideWindow(sdlWindow_);
                    host.window = nullptr;
                    quitPosted_ = true;
                    break;
                }
                case SDL_WINDOWEVENT_MINIMIZED:
                    host.minimized = true;
                    break;
                case SDL_WINDOWEVENT_RESTORED:
                case SDL_WINDOWEVENT_MAXIMIZED:
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    host.minimized = false;
                    recordSize(host);
                    break;
                default:
                    break;
            }
            break;
        case SDL_KEYDOWN:
            if (const u32 key = virtualKeyFromSdl(event.key.keysym.sym); key != 0) {
                host.input.keyPressed(key, event.key.repeat != 0);
            }
            break;
        case SDL_KEYUP:
            if (const u32 key = virtualKeyFromSdl(event.key.keysym.sym); key != 0) {
                host.input.keyReleased(key);
            }
            break;
        case SDL_MOUSEMOTION:
            host.input.mouseMoved(event.motion.x, event.motion.y);
            break;
        case SDL_CONTROLLERDEVICEADDED:
        case SDL_CONTROLLERDEVICEREMOVED:
            gamepads_.handleEvent(event, host.input, host.log);
            break;
        default:
            break;
    }
}

bool SdlWindowHost::pumpMessages(NativeClient& host) {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if (event.type == SDL_QUIT) {
            quitPosted_ = true;
            break;
        }
        handleEvent(host, event);
    }
    // SDL_PollEvent has updated the controller's state with the events it queued.
    gamepads_.poll(host.input);
    // Like a posted WM_QUIT, the close request's quit comes after the messages already queued.
    if (quitPosted_) {
        host.quitRequested = true;
        return false;
    }
    return true;
}

void SdlWindowHost::waitMessage(NativeClient&) { SDL_WaitEvent(nullptr); }

void SdlWindowHost::destroyWindow(NativeClient& host) noexcept {
    if (sdlWindow_ != nullptr) {
        SDL_DestroyWindow(sdlWindow_);
        sdlWindow_ = nullptr;
    }
    host.window = nullptr;
}

void SdlWindowHost::unregisterWindowClass(NativeClient&) noexcept {
    gamepads_.stop();
    if (videoStarted_) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        videoStarted_ = false;
    }
}

}  // namespace kestrune::app
