// The duel scene's CPU cost per 60 Hz frame on the baked content, drawn through a backend
// that does nothing: one fixed step, input, the variable update and the whole frame's
// drawing, with both fighters mid cross-fade, 64 live effect components and the beam on,
// and (argument 1) the HUD over it all with its text, a banner and the network overlay's full
// graph; argument 0 is the scene alone, for the HUD's share.
// The allocation counter checks that a warmed-up frame allocates nothing.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

#include "allocation_counter.h"
#include "null_backend.h"
#include "hud/hud.h"
#include "render/render_device.h"
#include "scene/content_scene.h"

namespace kestrune::scene {
namespace {

constexpr f64 kStepSeconds = 1.0 / 60.0;
constexpr u64 kLiveComponents = 64;

// Keeps the frame as the benchmark wants it: fades running, effects topped up, beam shown.
class BusyFrame {
public:
    explicit BusyFrame(ContentScene& scene) : scene_(scene) {}

    void keepBusy() {
        for (u32 slot = 0; slot < 2; ++slot) {
            if (!scene_.slot(slot).animation.fading) {
                flip_[slot] = !flip_[slot];
                scene_.playClip(slot, flip_[slot] ? ClipUse::run : ClipUse::idle, true);
            }
        }
        Beam& beam = scene_.beam();
        beam.active = true;
        beam.elapsedSeconds = 0.3;
    }

    // Run between the update (which retires finished components) and the drawing, so the
    // frame draws at least kLiveComponents of them.
    u64 topUpEffects() {
        while (scene_.effectSystem().activeComponentCount() < kLiveComponents && spawnHit()) {
        }
        return scene_.effectSystem().activeComponentCount();
    }

    // Fills the effect memory to its capacity, so that remembering one more event replaces
    // the oldest instead of growing the memory.
    void rememberManyEvents() {
        for (u64 i = 0; i < kMaxRememberedEffectEvents + 100; ++i) {
            spawnHit();
            scene_.effectSystem().update(10.0);
        }
    }

private:
    bool spawnHit() {
        effects::EffectSpawnRequest request;
        request.eventId = nextEventId_++;
        request.kind = 2;
        request.skill = 1002;
        request.sourceEntityId = 1;
        request.targetEntityId = 2;
        request.source = effects::yawTransform({0.0f, 0.0f, 0.0f}, 0.0f);
        request.target = effects::yawTransform({1.0f, 0.0f, 2.0f}, 3.1f);
        return scene_.effectSystem().spawn(request).status == effects::EffectSpawnStatus::Spawned;
    }

    ContentScene& scene_;
    bool flip_[2] = {false, false};
    u64 nextEventId_ = 1'000'000;
};

void BM_SceneFrame(benchmark::State& state) {
    auto renderer = std::make_unique<render::RenderDevice>(std::make_unique<render::NullBackend>());
    renderer->Create({}, 1280, 720, false);
    ContentScene scene;
    scene.load(KESTRUNE_CONTENT_DIR, {}, *renderer);
    BusyFrame busy(scene);
    InputState input;
    input.keyDown[virtualKeyOf('W')] = true;
    const bool withHud = state.range(0) != 0;
    hud::Hud hud({"NativeFighter", 0, true});
    hud.loadFont(KESTRUNE_CONTENT_DIR, *renderer);
    // A session with a command result and a snapshot every frame; a round starting every frame
    // keeps its banner up.
    hud::NetSample net{true, 0, 0, 0.0, 90.0, 0, 0.0, 0};
    const SceneCue roundStarted{CueKind::roundStarted, kNoCueSlot, 0, 0};
    u64 fewestDrawnEffects = ~u64{0};
    const auto frame = [&] {
        busy.keepBusy();
        scene.fixedUpdate(kStepSeconds, input);
        scene.handleInput(input);
        scene.update(kStepSeconds);
        fewestDrawnEffects = std::min(fewestDrawnEffects, busy.topUpEffects());
        scene.draw(*renderer, 0.5);
        if (!withHud) {
            scene.clearCues();
            renderer->Present(0);
            return;
        }
        ++net.snapshots;
        net.roundTripAverageMs = (net.roundTripAverageMs * static_cast<f64>(net.roundTrips) + 60.0 + static_cast<f64>(net.roundTrips % 40)) /
                                 static_cast<f64>(net.roundTrips + 1);
        ++net.roundTrips;
        hud.update(input, kStepSeconds, net);
        hud.hear(scene.cues());
        hud.hear(std::span(&roundStarted, 1));
        scene.clearCues();
        const std::array<FighterView, 2> fighters{scene.fighterView(0), scene.fighterView(1)};
        hud.draw(*renderer, scene.camera(), fighters);
        renderer->Present(0);
    };
    busy.rememberManyEvents();
    for (int i = 0; i < 600; ++i) frame();
    bench::runFramesCountingAllocations(state, frame);
    state.counters["fewestDrawnEffects"] = static_cast<f64>(fewestDrawnEffects);
    state.counters["drawCalls"] = static_cast<f64>(renderer->Statistics().drawCalls) /
                                  static_cast<f64>(renderer->Statistics().presentedFrames);
}
BENCHMARK(BM_SceneFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrune::scene
