#include "app/gamepad_sdl.h"

#include <algorithm>
#include <string>

#include "app/log.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

constexpr f32 kSdlAxisFullScale = 32767.0f;

struct ButtonRead {
    SDL_GameControllerButton sdl;
    GamepadButton button;
};

// SDL names buttons by position on an Xbox pad whatever the controller's own labels.
constexpr ButtonRead kButtonReads[] = {
    {SDL_CONTROLLER_BUTTON_A, GamepadButton::south},
    {SDL_CONTROLLER_BUTTON_X, GamepadButton::west},
    {SDL_CONTROLLER_BUTTON_Y, GamepadButton::north},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, GamepadButton::leftShoulder},
    {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, GamepadButton::rightShoulder},
    {SDL_CONTROLLER_BUTTON_BACK, GamepadButton::back},
    {SDL_CONTROLLER_BUTTON_START, GamepadButton::start},
    {SDL_CONTROLLER_BUTTON_DPAD_UP, GamepadButton::dpadUp},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, GamepadButton::dpadDown},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, GamepadButton::dpadLeft},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, GamepadButton::dpadRight},
};
static_assert(std::size(kButtonReads) == kGamepadButtonCount, "every button of the layout is read");

f32 axisFraction(SDL_GameController* controller, SDL_GameControllerAxis axis) noexcept {
    return std::clamp(static_cast<f32>(SDL_GameControllerGetAxis(controller, axis)) / kSdlAxisFullScale, -1.0f, 1.0f);
}

void logController(Log* log, const char16_t* what, SDL_GameController* controller) {
    if (log != nullptr) {
        const char* name = SDL_GameControllerName(controller);
        log->write(kLogInfo, what + utf16FromUtf8Lossy(name != nullptr ? name : "unnamed controller"));
    }
}

}  // namespace

GamepadSnapshot readSdlController(SDL_GameController* controller) noexcept {
    GamepadSnapshot snapshot;
    for (const ButtonRead& read : kButtonReads) {
        if (SDL_GameControllerGetButton(controller, read.sdl) != 0) {
            snapshot.buttons = static_cast<u16>(snapshot.buttons | buttonBit(read.button));
        }
    }
    snapshot.leftStickX = axisFraction(controller, SDL_CONTROLLER_AXIS_LEFTX);
    snapshot.leftStickY = -axisFraction(controller, SDL_CONTROLLER_AXIS_LEFTY);  // SDL's y points down
    snapshot.leftTrigger = axisFraction(controller, SDL_CONTROLLER_AXIS_TRIGGERLEFT);
    return snapshot;
}

void SdlGamepads::start(Log* log) {
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        if (log != nullptr) {
            log->write(kLogInfo, u"No controllers: " + utf16FromUtf8Lossy(SDL_GetError()));
        }
        return;
    }
    started_ = true;
}

void SdlGamepads::stop() noexcept {
    if (controller_ != nullptr) {
        SDL_GameControllerClose(controller_);
        controller_ = nullptr;
        instanceId_ = -1;
    }
    if (started_) {
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
        started_ = false;
    }
}

void SdlGamepads::take(int deviceIndex, Log* log) {
    controller_ = SDL_GameControllerOpen(deviceIndex);
    if (controller_ == nullptr) {
        return;  // gone again, or not openable: the next arrival gets its chance
    }
    instanceId_ = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller_));
    logController(log, u"Controller taken: ", controller_);
}

void SdlGamepads::handleEvent(const SDL_Event& event, InputState& input, Log* log) {
    if (event.type == SDL_CONTROLLERDEVICEADDED && controller_ == nullptr) {
        take(event.cdevice.which, log);
    } else if (event.type == SDL_CONTROLLERDEVICEREMOVED && controller_ != nullptr &&
               event.cdevice.which == instanceId_) {
        gamepad_.release(input);
        logController(log, u"Controller lost: ", controller_);
        SDL_GameControllerClose(controller_);
        controller_ = nullptr;
        const SDL_JoystickID lost = instanceId_;
        instanceId_ = -1;
        for (int index = 0; index < SDL_NumJoysticks() && controller_ == nullptr; ++index) {
            if (SDL_IsGameController(index) && SDL_JoystickGetDeviceInstanceID(index) != lost) {
                take(index, log);
            }
        }
    }
}

void SdlGamepads::poll(InputState& input) noexcept {
    if (controller_ != nullptr) {
        gamepad_.apply(readSdlController(controller_), input);
    }
}

}  // namespace kestrune::app
