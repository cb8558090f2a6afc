// What reading a controller adds to a frame on Linux: SDL's event pump with a controller whose
// stick moves every frame, the host's handling of those events, and the read of the playing
// controller into the input state. The allocation counter checks that a frame's poll
// allocates nothing.

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>

#include "allocation_counter.h"
#include "app/gamepad_sdl.h"

namespace kestrune::app {
namespace {

void BM_ControllerPoll(benchmark::State& state) {
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    SdlGamepads gamepads;
    gamepads.start(nullptr);
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.axis_mask = (1u << SDL_CONTROLLER_AXIS_MAX) - 1;
    desc.button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
    desc.name = "Benchmark Pad";
    SDL_Joystick* pad = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc));
    InputState input;
    u32 frameIndex = 0;
    const auto frame = [&] {
        // A stick going round once a second at 60 frames per second, and a button every half second.
        const f64 radians = frameIndex * (2.0 * 3.14159265358979 / 60.0);
        SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, static_cast<Sint16>(std::lround(30000.0 * std::sin(radians))));
        SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, static_cast<Sint16>(std::lround(-30000.0 * std::cos(radians))));
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_X, (frameIndex / 30) % 2);
        ++frameIndex;
        input.beginFrame();
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
            gamepads.handleEvent(event, input, nullptr);
        }
        gamepads.poll(input);
        benchmark::DoNotOptimize(input.analogMoveX);
    };
    for (int i = 0; i < 120; ++i) frame();
    bench::runFramesCountingAllocations(state, frame);
    state.counters["controllerPlaying"] = gamepads.playing() ? 1.0 : 0.0;
    SDL_JoystickClose(pad);
    gamepads.stop();
}
BENCHMARK(BM_ControllerPoll)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrune::app
