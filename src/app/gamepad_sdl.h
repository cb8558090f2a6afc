#pragma once
// Controllers on Linux through SDL2's game controller API and the mapping database SDL ships.
// The first controller that connects plays; when it is unplugged, everything it held is let
// go and the next connected one, if any, takes over. Each change is one INFO line with the
// controller's name. Without SDL's controller subsystem there is simply no controller.
// Main thread only; polling allocates nothing.

#include <SDL.h>

#include "app/gamepad.h"

namespace kestrune::app {

class Log;

// The controller's buttons, stick and trigger in the layout's terms.
GamepadSnapshot readSdlController(SDL_GameController* controller) noexcept;

class SdlGamepads {
public:
    SdlGamepads() = default;
    ~SdlGamepads() { stop(); }
    SdlGamepads(const SdlGamepads&) = delete;
    SdlGamepads& operator=(const SdlGamepads&) = delete;

    // Starts the subsystem; SDL then reports the controllers already connected as arrivals.
    void start(Log* log);
    void stop() noexcept;
    // Device arrivals and removals; other events are ignored.
    void handleEvent(const SDL_Event& event, InputState& input, Log* log);
    // Reads the playing controller into `input` (after the events of a pump).
    void poll(InputState& input) noexcept;
    bool playing() const noexcept { return controller_ != nullptr; }

private:
    void take(int deviceIndex, Log* log);

    bool started_ = false;
    SDL_GameController* controller_ = nullptr;
    SDL_JoystickID instanceId_ = -1;
    GamepadInput gamepad_;
};

}  // namespace kestrune::app
