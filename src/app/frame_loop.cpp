#include "app/frame_loop.h"

#include <algorithm>

#include "app/duel_tick.h"
#include "app/log.h"
#include "app/native_client.h"
#include "base/text_format.h"

namespace kestrune::app {

bool screenshotDue(u64 presentedFrames, u32 frameBudget) noexcept { return presentedFrames + 1 >= frameBudget; }

// Keys of --keys= reach the input state as the window's would, after this frame's messages.
// In a replay they are the viewer's, counted in frames of the loop.
void playScriptedKeys(NativeClient& host) {
    const std::vector<ScriptedKey>& script = host.options.keyScript;
    const u64 frame = (host.replay ? host.replayLoops : host.variableUpdates) + 1;
    while (host.nextScriptedKey < script.size() && script[host.nextScriptedKey].frame <= frame) {
        const ScriptedKey& key = script[host.nextScriptedKey++];
        if (key.down) {
            host.input.keyPressed(key.virtualKey, false);
        } else {
            host.input.keyReleased(key.virtualKey);
        }
    }
}

bool replayFrameDue(ReplayPace& pace, const InputState& viewer, f64 wallSeconds, f64 nextSeconds) noexcept {
    if (viewer.pressed[kVirtualKeySpace]) {
        pace.paused = !pace.paused;
        pace.credit = 0.0;
    }
    if (pace.paused) {
        return viewer.pressed[kVirtualKeyRight];
    }
    if (pace.unpaced) {
        return true;
    }
    // A recorded stall is shown as at most the loop's own limit, and time the viewer's
    // window lost (dragged, stopped in a debugger) is not caught up in a burst.
    pace.credit = std::min(pace.credit + std::min(wallSeconds, kMaxFrameSeconds) * pace.speed, kMaxFrameSeconds);
    const f64 due = std::min(nextSeconds, kMaxFrameSeconds);
    if (pace.credit < due) {
        return false;
    }
    pace.credit -= due;
    return true;
}

namespace {

// The senses beside the scene hear what it showed this frame; the cues are then spent. The
// HUD has heard a drawn frame's already, before drawing it.
void hearScene(NativeClient& host, u64 frame, bool drawn) {
    if (!host.scene) {
        return;
    }
    if (host.hud && !drawn) {
        host.hud->hear(host.scene->cues());
    }
    if (host.soundDirector) {
        host.soundDirector->hear(host.scene->cues(), host.scene->camera(), frame);
    }
    host.scene->clearCues();
}

void drawHud(NativeClient& host) {
    const std::array<scene::FighterView, 2> fighters{host.scene->fighterView(0), host.scene->fighterView(1)};
    host.hud->draw(host.renderer, host.scene->camera(), fighters);
}

// What the network overlay reads: the session's totals and the scene's corrections and delay.
hud::NetSample netSample(const NativeClient& host, const scene::FrameScene& scene) {
    hud::NetSample sample;
    replay::SessionFigures session;
    if (host.replay) {
        if (!host.replay->header().online) {
            return sample;
        }
        session = host.replay->figures();
    } else if (host.duelClient) {
        session = {host.duelClient->isRunning(), host.duelClient->statistics()};
    }
    if (!session.running) {
        return sample;
    }
    const net::DuelClientStatistics& stats = session.statistics;
    const scene::NetworkFigures figures = scene.networkFigures();
    sample.online = true;
    sample.snapshots = stats.snapshotsReceived;
    sample.roundTrips = stats.roundTrips;
    sample.roundTripAverageMs = stats.roundTripAverageMs;
    sample.roundTripP99Ms = stats.roundTripP99Ms;
    sample.corrections = figures.glides + figures.snaps;
    sample.interpolationDelayMsTotal = figures.interpolationDelayMsTotal;
    sample.interpolationSteps = figures.interpolationSteps;
    return sample;
}

// A replay between its recorded frames: the last picture again, no trace line, no time.
void showReplayAgain(NativeClient& host) {
    if (host.input.pressed[kVirtualKeyEscape]) {
        host.quitRequested = true;
    }
    // A smoke run ends with its replay; a viewer keeps its last picture until Escape.
    if (host.replay->finished() && host.options.smokeTest) {
        host.quitRequested = true;
    }
    if (host.scene) {
        host.scene->draw(host.renderer, host.lastAlpha);
        if (host.hud) {
            drawHud(host);
        }
        host.renderer.Present(host.options.vsync && !host.options.smokeTest ? 1 : 0);
    }
    if (!host.options.vsync) {
        host.clock->sleepMilliseconds(1);
    }
}

// Whether this turn of the loop plays the replay's next frame; the wall time since the last
// turn paces it.
bool nextReplayFrame(NativeClient& host) {
    ++host.replayLoops;
    const i64 now = host.clock->counter();
    const f64 wallSeconds = static_cast<f64>(now - host.lastCounter) / static_cast<f64>(host.counterFrequency);
    host.lastCounter = now;
    if (host.minimized) {
        host.windowHost->waitMessage(host);
        return false;
    }
    if (host.replay->finished() ||
        !replayFrameDue(host.replayPace, host.input, wallSeconds, host.replay->nextSeconds())) {
        showReplayAgain(host);
        return false;
    }
    host.replay->advance();
    return true;
}

}  // namespace

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
    replay::ReplayReader* const replay = host.replay.get();
    if (replay != nullptr && !nextReplayFrame(host)) {
        return;
    }
    runDuelTick(host);
    // What the scene reads: the keyboard and the controller, or in a replay the recorded run's.
    const InputState& input = replay != nullptr ? replay->input() : host.input;

    if (replay != nullptr ? replay->kind() == replay::FrameKind::minimized : host.minimized) {
        f64 minimizedSeconds = 0.0;
        if (replay != nullptr) {
            minimizedSeconds = replay->seconds();
        } else {
            host.windowHost->waitMessage(host);
            // Time spent minimized is not simulated: no catch-up burst after restoring. The scene
            // hears of it, since the server played on.
            const i64 restored = host.clock->counter();
            minimizedSeconds = static_cast<f64>(restored - host.lastCounter) / static_cast<f64>(host.counterFrequency) +
                               host.accumulator;
            host.lastCounter = restored;
        }
        host.accumulator = 0.0;
        if (host.scene && minimizedSeconds > 0.0) {
            host.scene->dropTime(minimizedSeconds);
        }
        host.droppedSeconds += std::max(0.0, minimizedSeconds);
        hearScene(host, host.variableUpdates, false);
        if (host.recorder) {
            host.recorder->endFrame(replay::FrameKind::minimized, minimizedSeconds, input);
        }
        return;
    }
    const std::optional<u32> fixedFps = host.options.fixedFps;
    f64 deltaSeconds = 0.0;
    if (replay != nullptr) {
        deltaSeconds = replay->seconds();
    } else {
        if (host.options.smokeTest && !fixedFps) {
            host.clock->sleepMilliseconds(kSmokeFrameSleepMs);
        }
        const i64 now = host.clock->counter();
        deltaSeconds = fixedFps ? 1.0 / static_cast<f64>(*fixedFps)
                                : static_cast<f64>(now - host.lastCounter) / static_cast<f64>(host.counterFrequency);
        host.lastCounter = now;
    }
    const f64 measuredSeconds = deltaSeconds;
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
            host.scene->fixedUpdate(kFixedStepSeconds, last ? input : host.previousInput);
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

    // The frame as the run presented it: a replay counts the recorded run's frames, however often
    // a pause showed one again, and not those the run spent minimised.
    const u64 frame = replay != nullptr ? host.variableUpdates : host.renderer.Statistics().presentedFrames + 1;
    // A replay behind its pace (played faster than the display's rate) presents without waiting.
    const bool replayBehind =
        replay != nullptr && host.replayPace.credit >= std::min(replay->nextSeconds(), kMaxFrameSeconds);
    const u8 syncInterval = host.options.vsync && !host.options.smokeTest && !replayBehind ? 1 : 0;
    const f64 alpha = std::clamp(host.accumulator / kFixedStepSeconds, 0.0, 1.0);
    host.lastAlpha = alpha;
    if (host.scene) {
        host.scene->handleInput(input);
        // This frame's moves, stops and actions leave now, not a frame later.
        sendDuelIntents(host);
        host.scene->update(deltaSeconds);
        if (!host.options.screenshotPath.empty() &&
            (screenshotDue(frame - 1, host.options.frames) || (replay != nullptr && replay->finished()))) {
            host.renderer.RequestScreenshot(host.options.screenshotPath);
            host.options.screenshotPath.clear();
        }
        host.scene->draw(host.renderer, alpha);
        if (host.hud) {
            // The viewer's keys toggle the overlay, in a replay too.
            host.hud->update(host.input, deltaSeconds, netSample(host, *host.scene));
            host.hud->hear(host.scene->cues());
            drawHud(host);
        }
        host.renderer.Present(syncInterval);
    } else {
        host.renderer.DrawPlaceholderFrame(alpha, syncInterval);
    }
    hearScene(host, frame, host.scene != nullptr);
    if (host.replayDiverged && !host.replayDivergenceSaid && host.log != nullptr) {
        host.replayDivergenceSaid = true;
        host.log->write(kLogWarn, formatText("Replay went another way than its run at frame %llu: the scene asked "
                                             "for other commands than the run sent",
                                             static_cast<unsigned long long>(frame)));
    }

    // The session's figures, as the trace says them and the replay keeps them; asked of the
    // session only for those two (their percentile walks a histogram).
    std::optional<replay::SessionFigures> session;
    if (replay != nullptr) {
        if (replay->header().online) {
            session = replay->figures();
        }
    } else if (host.duelClient && (host.trace || host.recorder)) {
        session = replay::SessionFigures{host.duelClient->isRunning(), host.duelClient->statistics()};
    }
    if (host.trace) {
        host.trace->writeFrame({frame, static_cast<f64>(host.fixedUpdates) * kFixedStepSeconds, steps, alpha,
                                host.droppedSeconds},
                               host.scene.get(), session ? &*session : nullptr, host.hud.get(),
                               host.soundDirector ? host.soundDirector->lastFrame()
                                                  : std::span<const audio::HeardSound>());
    }
    if (host.recorder) {
        if (session) {
            host.recorder->figures(*session);
        }
        host.recorder->endFrame(replay::FrameKind::played, measuredSeconds, input);
    }

    const u64 budget = host.options.frames;
    if (host.options.smokeTest &&
        (replay != nullptr ? frame >= budget || replay->finished() : host.renderer.Statistics().presentedFrames >= budget)) {
        host.quitRequested = true;
    }
    host.previousInput = input;
}

}  // namespace kestrune::app
