#pragma once
// What the frame loop needs from the duel scene. The content scene implements it; without
// one the loop draws the renderer's placeholder frame.

#include "app/input_state.h"
#include "base/types.h"

namespace kestrune::render {
class RenderDevice;
}

namespace kestrune::app {

class FrameScene {
public:
    virtual ~FrameScene() = default;
    virtual void fixedUpdate(f64 stepSeconds, const InputState& input) = 0;
    virtual void handleInput(const InputState& input) = 0;
    virtual void update(f64 deltaSeconds) = 0;
    // alpha in [0, 1]: how far the simulation is into the next fixed step.
    virtual void draw(render::RenderDevice& renderer, f64 alpha) = 0;
};

}  // namespace kestrune::app
