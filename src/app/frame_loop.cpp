#include "app/frame_loop.h"

#include <algorithm>

#include "app/duel_tick.h"
#include "app/native_client.h"

namespace kestrune::app {

bool screenshotDue(u64 presentedFrames, u32 frameBudget) noexcept { return presentedFrames + 1 >= frameBudget; }

// Keys of --keys= reach the input state as the window's would, after this frame's messages.
void playScriptedKeys(NativeClient& host) {
    const std::vector<ScriptedKey>& script = host.options.keyScript;
    const u64 frame = host.variableUpdates + 1;
    while (host.nextScriptedKey < script.size() && script[host.nextScriptedKey].frame <= frame) {
        const ScriptedKey& key = script[host.nextScriptedKey++];
        if (key.down) {
            host.input.keyPressed(key.virtualKey, false);
        } else {
            host.input.keyReleased(key.virtualKey);
        }
    }
}

void FrameLoop::run() {
    while (!host_.quitRequested) {
        runFrame();
    }
}

void FrameLoop::runFrame() {
    NativeClient& host = host_;
    host.input.beginFrame();
    if (!host.windowHost->pumpMessages(host)) {
        return;  // the quit message ends the loop before anything else happens this frame
    }
    playScriptedKeys(host);
    // The window procedure only records a new size; it is applied here, between frames.
    if (host.rendererReady && host.resizePending && host.pendingWidth != 0 && host.pendingHeight != 0) {
        host.renderer.Resize(host.pendingWidth, host.pendingHeight);
        host.resizePending = false;
    }
    runDuelTick(host);

    if (host.minimized) {
        host.windowHost->waitMessage(host);
        // Time spent minimized is not simulated: no catch-up burst after restoring. The scene
        // hears of it, since the server played on.
        const i64 restored = host.clock->counter();
        const f64 minimizedSeconds =
            static_cast<f64>(restored - host.lastCounter) / static_cast<f64>(host.counterFrequency) + host.accumulator;
        host.lastCounter = restored;
        host.accumulator = 0.0;
        if (host.scene && minimizedSeconds > 0.0) {
            host.scene->dropTime(minimizedSeconds);
        }
        host.droppedSeconds += std::max(0.0, minimizedSeconds);
        return;
    }
    const std::optional<u32> fixedFps = host.options.fixedFps;
    if (host.options.smokeTest && !fixedFps) {
        host.clock->sleepMilliseconds(kSmokeFrameSleepMs);
    }

    const i64 now = host.clock->counter();
    f64 deltaSeconds = fixedFps ? 1.0 / static_cast<f64>(*fixedFps)
                                : static_cast<f64>(now - host.lastCounter) / static_cast<f64>(host.counterFrequency);
    host.lastCounter = now;
    f64 droppedSeconds = std::max(0.0, deltaSeconds - kMaxFrameSeconds);
    deltaSeconds = std::clamp(deltaSeconds, 0.0, kMaxFrameSeconds);
    host.accumulator += deltaSeconds;

    // The steps catch up with time that passed before this frame's keys were read: all but
    // the last run with the keys as the previous frame left them. A key then moves the fighter
    // from the last step on, however many steps the frame has, so a start and a stop are
    // always the same time ahead of the commands that carry them to the server.
    u32 steps = 0;
    while (host.accumulator >= kFixedStepSeconds && steps < kMaxFixedStepsPerFrame) {
        const bool last = steps + 1 == kMaxFixedStepsPerFrame || host.accumulator - kFixedStepSeconds < kFixedStepSeconds;
        if (host.scene) {
            host.scene->fixedUpdate(kFixedStepSeconds, last ? host.input : host.previousInput);
        }
        host.accumulator -= kFixedStepSeconds;
        ++steps;
    }
    if (steps == kMaxFixedStepsPerFrame && host.accumulator >= kFixedStepSeconds) {
        droppedSeconds += host.accumulator;
        host.accumulator = 0.0;
    }
    if (host.scene && droppedSeconds > 0.0) {
        host.scene->dropTime(droppedSeconds);
    }
    host.droppedSeconds += droppedSeconds;
    host.fixedUpdates += steps;
    host.variableUpdates += 1;

    // Escape still lets this frame be drawn and presented.
    if (host.input.pressed[kVirtualKeyEscape]) {
        host.quitRequested = true;
    }

    const u8 syncInterval = host.options.vsync && !host.options.smokeTest ? 1 : 0;
    const f64 alpha = std::clamp(host.accumulator / kFixedStepSeconds, 0.0, 1.0);
    if (host.scene) {
        host.scene->handleInput(host.input);
        // This frame's moves, stops and actions leave now, not a frame later.
        sendDuelIntents(host);
        host.scene->update(deltaSeconds);
        if (!host.options.screenshotPath.empty() &&
            screenshotDue(host.renderer.Statistics().presentedFrames, host.options.frames)) {
            host.renderer.RequestScreenshot(host.options.screenshotPath);
            host.options.screenshotPath.clear();
        }
        host.scene->draw(host.renderer, alpha);
        host.renderer.Present(syncInterval);
    } else {
        host.renderer.DrawPlaceholderFrame(alpha, syncInterval);
    }
    if (host.trace) {
        host.trace->writeFrame({host.renderer.Statistics().presentedFrames,
                                static_cast<f64>(host.fixedUpdates) * kFixedStepSeconds, steps, alpha,
                                host.droppedSeconds},
                               host.scene.get(), host.duelClient.get());
    }

    if (host.options.smokeTest && host.renderer.Statistics().presentedFrames >= host.options.frames) {
        host.quitRequested = true;
    }
    host.previousInput = host.input;
}

}  // namespace kestrune::app
