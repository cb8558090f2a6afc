#pragma once
// What the frame loop and the duel tick need from the duel scene. The content scene
// implements it; without one the loop draws the renderer's placeholder frame. Main thread
// only. The frame half is called every frame (fixed steps, input, variable update, draw);
// the duel half only while a server session runs.

#include <span>
#include <string>
#include <vector>

#include "base/input_state.h"
#include "base/types.h"
#include "net/duel_records.h"
#include "render/render_types.h"
#include "scene/player_intent.h"
#include "scene/scene_cues.h"
#include "scene/scene_statistics.h"

namespace kestrune::render {
class RenderDevice;
}

namespace kestrune::scene {

// How the server's word reached the screen: corrections of the local fighter and the
// remote fighter's playback. All zero offline.
struct NetworkFigures {
    u64 glides = 0;  // corrections smoothed over the next steps
    u64 snaps = 0;   // corrections too large to smooth (the first snapshot's placement not counted)
    f32 largestCorrectionMetres = 0.0f;
    u64 confirmedLocalActions = 0;  // action-started events the server sent for the local fighter
    u64 lastEventId = 0;
    u64 eventIdBreaks = 0;  // events whose id is neither the last one again nor the next
    u64 heldSteps = 0;              // fixed steps the remote playback waited at the newest sample
    u64 droppedSamples = 0;         // remote samples refused as stale or pushed out unused
    f64 interpolationDelayMsTotal = 0.0;  // newest sample minus playback, summed per step
    u64 interpolationSteps = 0;
    u64 remoteJumps = 0;  // freezes the remote playback jumped over instead of catching up
    u64 refusedLocalActions = 0;  // actions of the local fighter the server refused

    f64 averageInterpolationDelayMs() const noexcept {
        return interpolationSteps == 0 ? 0.0 : interpolationDelayMsTotal / static_cast<f64>(interpolationSteps);
    }
};

// What the HUD shows of one fighter, as the last frame drew it.
struct FighterView {
    bool down = false;         // knocked out until the next round
    f64 lockSecondsLeft = 0.0; // 0 when not locked
    bool drawn = false;        // barCentre holds where its status bar was drawn
    render::Vec3 barCentre{};  // render space
};

class FrameScene {
public:
    virtual ~FrameScene() = default;

    // ---- Frame ----
    virtual void fixedUpdate(f64 stepSeconds, const InputState& input) = 0;
    virtual void handleInput(const InputState& input) = 0;
    virtual void update(f64 deltaSeconds) = 0;
    // The frame loop dropped `seconds` it did not simulate (a stall, a minimised window): the
    // server ran on meanwhile.
    virtual void dropTime(f64 seconds) = 0;
    // alpha in [0, 1]: how far the simulation is into the next fixed step.
    virtual void draw(render::RenderDevice& renderer, f64 alpha) = 0;

    // ---- Duel ----
    virtual void applySnapshot(const net::DuelSnapshot& snapshot, u32 localEntityId, u32 lastSentCommandSequence,
                               u16 tickRate) = 0;
    virtual void applyCombatEvents(std::span<const net::CombatEvent> events) = 0;
    // Whether the last tracked move was accepted.
    virtual void resolveMove(bool accepted) = 0;
    // Every command result, before the snapshot that came with it: the tick at which the
    // server decided each command lines the prediction up with the server's ticks.
    virtual void applyCommandResult(const net::CommandResult& result) = 0;
    // Moves the queued intents into `out` (cleared first), oldest first, and empties the queue.
    // Storage is swapped, not allocated, once both sides have seen their largest frame.
    virtual void takeIntents(std::vector<PlayerIntent>& out) = 0;
    // Once per taken intent, in order: the command sequence it went out with, 0 when it did not.
    virtual void commandSent(u32 commandSequence) = 0;

    // ---- Senses ----
    // What the scene showed happen since the last clearCues, in order; the frame loop hands
    // them to the senses beside the scene once a frame and clears them.
    virtual std::span<const SceneCue> cues() const = 0;
    virtual void clearCues() = 0;
    // Where the picture is seen from, for placing sounds left and right.
    virtual const render::Camera& camera() const = 0;
    // Slot 0 is the warrior, slot 1 the templar.
    virtual FighterView fighterView(u32 slotIndex) const = 0;

    // ---- Reports ----
    virtual SceneStatistics statistics() const = 0;
    virtual NetworkFigures networkFigures() const = 0;
    // Appends the scene's part of one frame-trace JSON object: members separated by commas,
    // starting with one (",\"slots\":[...]"), and nothing when there is nothing to say.
    virtual void appendTrace(std::string& line) const = 0;
};

}  // namespace kestrune::scene
