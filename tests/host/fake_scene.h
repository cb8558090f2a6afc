#pragma once
// A duel scene that records what the frame loop and the duel tick hand it, and hands out
// the intents a test queued.

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "host/fake_host.h"
#include "scene/frame_scene.h"

namespace kestrune::app::testing {

class RecordingScene final : public scene::FrameScene {
public:
    // ---- Frame ----
    f64 lastStep = 0.0;
    std::vector<f64> updates;
    std::vector<f64> alphas;
    f64 droppedSeconds = 0.0;
    std::string stepKeys;  // per fixed step: 'W' when the step's input held W, else '-'
    // ---- Duel ----
    std::vector<std::tuple<u64, u32, u32, u16>> snapshots;  // tick, local id, last sent sequence, tick rate
    std::vector<net::CombatEvent> events;
    std::vector<bool> moveResolutions;
    std::vector<net::CommandResult> results;
    std::vector<u32> sentSequences;  // what commandSent was told, in order
    std::vector<scene::PlayerIntent> queued;  // what the next takeIntents returns
    std::vector<std::string> calls;  // fixed steps, input and the duel half's calls, in order

    void fixedUpdate(f64 stepSeconds, const InputState& input) override {
        stepKeys += input.keyDown['W'] ? 'W' : '-';
        lastStep = stepSeconds;
        calls.emplace_back("fixed");
    }
    void handleInput(const InputState&) override { calls.emplace_back("input"); }
    void update(f64 deltaSeconds) override { updates.push_back(deltaSeconds); }
    void dropTime(f64 seconds) override { droppedSeconds += seconds; }
    void draw(render::RenderDevice&, f64 alpha) override { alphas.push_back(alpha); }

    void applySnapshot(const net::DuelSnapshot& snapshot, u32 localEntityId, u32 lastSentCommandSequence,
                       u16 tickRate) override {
        snapshots.emplace_back(snapshot.tick, localEntityId, lastSentCommandSequence, tickRate);
        calls.emplace_back("snapshot");
    }
    void applyCombatEvents(std::span<const net::CombatEvent> batch) override {
        events.insert(events.end(), batch.begin(), batch.end());
        calls.emplace_back("events");
    }
    void resolveMove(bool accepted) override { moveResolutions.push_back(accepted); calls.emplace_back("resolve"); }
    void applyCommandResult(const net::CommandResult& result) override {
        results.push_back(result);
        calls.emplace_back("result");
    }
    void commandSent(u32 commandSequence) override {
        sentSequences.push_back(commandSequence);
        calls.emplace_back("sent");
    }
    void takeIntents(std::vector<scene::PlayerIntent>& out) override {
        out.clear();
        out.swap(queued);
        calls.emplace_back("take");
    }
    // ---- Senses ----
    std::vector<scene::SceneCue> pendingCues;  // what cues() shows until the loop clears them
    u32 cueClears = 0;
    render::Camera view{{0.0f, 3.0f, -6.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.8f, 0.1f, 100.0f};
    std::span<const scene::SceneCue> cues() const override { return pendingCues; }
    void clearCues() override {
        pendingCues.clear();
        ++cueClears;
    }
    const render::Camera& camera() const override { return view; }
    std::array<scene::FighterView, 2> fighters{};
    scene::FighterView fighterView(u32 slotIndex) const override { return fighters[slotIndex]; }

    scene::SceneStatistics statistics() const override { return {2, 6, 19, 16, 1, 2, 3}; }
    scene::NetworkFigures networkFigures() const override { return {1, 2, 0.5f, 3, 9, 0, 4, 5, 300.0, 10}; }
    void appendTrace(std::string& line) const override { line.append(",\"scene\":true"); }
};

// A fake host whose started renderer draws a recording scene.
struct SceneHost : FakeHost {
    RecordingScene* scene = nullptr;
    explicit SceneHost(LaunchOptions options = {}) : FakeHost(std::move(options)) {
        auto recording = std::make_unique<RecordingScene>();
        scene = recording.get();
        host->scene = std::move(recording);
        startRenderer();
    }
};

}  // namespace kestrune::app::testing
