#include "app/frame_loop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "host/fake_scene.h"

namespace kestrune::app {
namespace {

using testing::FakeHost;
using testing::SceneHost;

// Time beyond a quarter second, and a backlog beyond eight steps, is dropped: the scene is told.
TEST(FrameLoop, FixedStepsForFrameTimes) {
    const struct { const char* name; f64 frameSeconds; u32 steps; f64 alpha; f64 dropped; } cases[] = {
        {"no time", 0.0, 0, 0.0, 0.0}, {"half a step", 1.0 / 120.0, 0, 0.5, 0.0},
        {"exactly one step", 1.0 / 60.0, 1, 0.0, 0.0}, {"a tenth of a second", 0.1, 6, 0.0, 0.0},
        {"eight and a half steps keep the half", 8.5 / 60.0, 8, 0.5, 0.0},
        {"a quarter second drops the backlog", 0.25, 8, 0.0, 0.25 - 8.0 / 60.0},
        {"a long stall counts as a quarter second", 3.0, 8, 0.0, 3.0 - 8.0 / 60.0},
        {"a clock running backwards counts as no time", -0.5, 0, 0.0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SceneHost f;
        f.host->input.keyDown['W'] = true;  // read this frame: only its last step runs with it
        f.clock->advanceSeconds(c.frameSeconds);
        FrameLoop(*f.host).runFrame();
        EXPECT_EQ(std::tuple(f.scene->stepKeys, f.host->fixedUpdates),
                  std::tuple(c.steps == 0 ? "" : std::string(c.steps - 1, '-') + "W", c.steps));
        ASSERT_EQ(std::tuple(f.scene->alphas.size(), f.scene->updates.size()), std::tuple(1u, 1u));
        EXPECT_NEAR(f.scene->alphas[0], c.alpha, 1e-6);
        EXPECT_DOUBLE_EQ(f.scene->lastStep, c.steps > 0 ? kFixedStepSeconds : 0.0);
        EXPECT_NEAR(f.scene->updates[0], std::clamp(c.frameSeconds, 0.0, 0.25), 1e-9);
        EXPECT_NEAR(f.scene->droppedSeconds, c.dropped, 1e-9);
    }
}

// A fixed rate replaces the clock (and the smoke run's sleep): every frame is 1/N s long.
TEST(FrameLoop, FixedRateFramesIgnoreTheClock) {
    SceneHost f({.smokeTest = true, .frames = 100, .fixedFps = 30});
    FrameLoop loop(*f.host);
    for (const f64 clockSeconds : {0.0, 1.0, 0.001}) {
        f.clock->advanceSeconds(clockSeconds);
        loop.runFrame();
    }
    EXPECT_EQ(std::tuple(f.scene->updates, f.host->fixedUpdates, f.clock->sleeps.empty()),
              std::tuple(std::vector<f64>(3, 1.0 / 30.0), 6u, true));
}

// Every presented frame is one trace line, in the file before the next frame starts; the
// frame's intents are taken once its fixed steps and input have run (without a duel session
// they are dropped, each told it went out as no command). The budget frame of a scene is
// screenshotted once, while it is drawn; placeholder frames are not. What the scene showed
// happen is heard once, in its frame's line, and then spent.
TEST(FrameLoop, TraceLinePerPresentedFrameScreenshotOfTheBudgetFrameAndIntentsDroppedOffline) {
    const std::filesystem::path path = render::testing::scratchDirectory() / "trace.jsonl";
    const std::filesystem::path shot = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output/frame-loop/shot.bmp";
    std::filesystem::remove_all(shot.parent_path());  // the shot creates its directory
    for (const bool withScene : {true, false}) {
        SCOPED_TRACE(withScene ? "scene" : "placeholder frames");
        SceneHost f({.frames = 3, .screenshotPath = shot});
        f.scene->queued = {scene::PlayerIntent{scene::kIntentStop, 0, 0, 0, 0}};
        if (!withScene) f.host->scene.reset();
        f.host->soundDirector = std::make_unique<audio::SoundDirector>(nullptr);
        f.host->trace = std::make_unique<FrameTrace>(path);
        FrameLoop loop(*f.host);
        f.clock->advanceSeconds(1.5 / 60.0);
        std::string traced;
        for (u32 frame = 1; frame <= 4; ++frame) {
            if (withScene && frame == 2) {
                f.scene->pendingCues = {{scene::CueKind::actionStarted, 0, 1, 1, {0.0f, 1.0f, 0.0f}},
                                        {scene::CueKind::actionStruck, 0, 1, 0, {}},  // no sound of its own
                                        {scene::CueKind::roundStarted, scene::kNoCueSlot, 0, 0, {5.0f, 0.0f, 0.0f}}};
            }
            loop.runFrame();
            const std::string heard =
                frame == 2 ? ",\"sounds\":[{\"sound\":\"swing2\",\"serial\":1,\"slot\":0,\"pan\":0,\"gain\":1},"
                             "{\"sound\":\"round_start\",\"serial\":2,\"slot\":-1,\"pan\":0,\"gain\":1}]"
                           : "";
            traced += "{\"frame\":" + std::to_string(frame) + ",\"time\":0.0166666667,\"steps\":" +
                      (frame == 1 ? "1" : "0") + ",\"alpha\":0.5,\"dropped\":0" +
                      (withScene ? ",\"scene\":true" + heard + "}\n" : "}\n");
            EXPECT_EQ(testing::readText(path), traced);
            EXPECT_EQ(std::filesystem::exists(shot), withScene && frame == 3) << "frame " << frame;
            std::filesystem::remove(shot);
        }
        f.host->trace->close();  // without a duel client: no session figures
        EXPECT_EQ(testing::readText(path), traced);
        if (withScene) {
            EXPECT_EQ(std::tuple(f.scene->cueClears, f.host->soundDirector->soundsPlayed()), std::tuple(4u, 2u));
            EXPECT_EQ(std::tuple(f.scene->calls, f.scene->sentSequences, f.host->intentBuffer.empty()),
                      std::tuple(std::vector<std::string>{"fixed", "input", "take", "sent", "input", "take", "input",
                                                          "take", "input", "take"}, std::vector<u32>{0}, true));
        }
    }
}

TEST(FrameLoop, MinimizedFramesCountNothingAndCauseNoBurst) {
    SceneHost f;
    f.host->minimized = true;
    f.window->onWait = [&](NativeClient&) { f.clock->advanceSeconds(30.0); };
    for (int frame = 0; frame < 3; ++frame) FrameLoop(*f.host).runFrame();
    // waits, fixed and variable updates, presents
    EXPECT_EQ(std::tuple(f.window->waits, f.host->fixedUpdates, f.host->variableUpdates, f.backend->presents),
              std::tuple(3u, 0u, 0u, 0u));

    // Restored: the time spent waiting is forgotten, but the scene knows it passed.
    EXPECT_DOUBLE_EQ(f.scene->droppedSeconds, 90.0);
    f.host->minimized = false;
    f.clock->advanceSeconds(1.0 / 60.0);
    FrameLoop(*f.host).runFrame();
    EXPECT_EQ(std::tuple(f.host->fixedUpdates, f.host->variableUpdates), std::tuple(1u, 1u));
}

// Escape ends the loop after its frame is drawn and presented; the quit message skips the
// rest of its frame.
TEST(FrameLoop, EscapeFinishesItsFrameTheQuitMessageSkipsIt) {
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "quit message");
        SceneHost f;
        f.window->onPump = [&](NativeClient& host) {
            if (escape && f.window->pumps == 2) host.input.keyPressed(kVirtualKeyEscape, false);
            return escape || f.window->pumps < 2;
        };
        f.clock->advanceSeconds(0.1);
        FrameLoop(*f.host).run();
        const u32 n = escape ? 2 : 1;  // frames drawn and presented
        EXPECT_EQ(std::tuple(f.window->pumps, f.backend->presents, f.host->variableUpdates, f.host->quitRequested),
                  std::tuple(2u, n, n, true));
    }
}

// Scripted keys arrive at the start of their frame, after the window's own messages (here
// an A pressed in the first frame); a frame's presses are cleared at the next, held keys stay.
TEST(FrameLoop, ScriptedKeysGoDownAndUpAtTheirFrames) {
    SceneHost f({.keyScript = {{2, 'W', true}, {2, '2', true}, {3, '2', false}, {4, 'W', false}}});
    f.window->onPump = [&](NativeClient& host) {
        if (f.window->pumps == 1) host.input.keyPressed('A', false);
        return true;
    };
    FrameLoop loop(*f.host);
    std::string seen;
    for (int frame = 1; frame <= 5; ++frame) {
        loop.runFrame();
        const InputState& input = f.host->input;
        seen += std::string(input.keyDown['W'] ? "W" : "-") + (input.pressed['2'] ? "2" : "-") +
                (input.released['W'] ? "w" : "-") + (input.pressed['A'] ? "a" : "-") + " ";
    }
    EXPECT_EQ(seen, "---a W2-- W--- --w- ---- ");
}

TEST(FrameLoop, PendingResizeIsAppliedOnceTheRendererIsReady) {
    for (const auto [ready, width, applied] : {std::tuple{true, 800u, true}, {false, 800u, false}, {true, 0u, false}}) {
        SCOPED_TRACE(std::to_string(ready) + " " + std::to_string(width));
        SceneHost f;
        std::tie(f.host->rendererReady, f.host->resizePending, f.host->pendingWidth, f.host->pendingHeight) =
            std::tuple(ready, true, width, 600u);
        FrameLoop(*f.host).runFrame();
        EXPECT_EQ(std::tuple(f.backend->resizes.size(), f.host->resizePending),
                  std::tuple(std::size_t{applied}, !applied));
    }
}

// Smoke runs pace themselves by sleeping, present without sync and stop at the frame budget;
// other runs follow --no-vsync and ignore the budget.
TEST(FrameLoop, PacingAndSyncIntervalFollowTheRunKind) {
    for (const auto& [smoke, vsync, syncInterval] : {std::tuple{true, true, 0}, {false, true, 1}, {false, false, 0}}) {
        SCOPED_TRACE(std::string(smoke ? "smoke run" : "") + (vsync ? " vsync" : " no vsync"));
        FakeHost f({.smokeTest = smoke, .vsync = vsync, .frames = 3});
        f.startRenderer();
        FrameLoop loop(*f.host);
        for (int frame = 0; frame < 4 && !f.host->quitRequested; ++frame) loop.runFrame();
        const u32 frames = smoke ? 3 : 4;
        // the placeholder triangle drawn every frame, without a scene
        EXPECT_EQ(std::tuple(f.host->quitRequested, f.clock->sleeps, f.backend->syncIntervals, f.backend->draws.size()),
                  std::tuple(smoke, std::vector<u32>(smoke ? 3 : 0, 17),
                             std::vector<u8>(frames, static_cast<u8>(syncInterval)), frames));
    }
}

// A run recorded by the loop and played back by it: the scene sees the same steps with the
// same keys, the same frame times, drops and alphas, and the trace says the same, though the
// replay's clock does something else entirely. Its last frame is the screenshot's when the
// budget lies beyond it, and a smoke replay ends with it.
TEST(FrameLoop, AReplayedRunGivesTheSceneTheSameFramesAsTheRun) {
    const std::filesystem::path recording = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output/frame-loop.krpl";
    const std::filesystem::path shot = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output/frame-loop/replay.bmp";
    std::filesystem::remove(shot);
    // A part of a step left before the minimised frame, W let go while minimised, a stall, a clock backwards.
    const f64 frameSeconds[] = {1.0 / 60.0, 0.0, 1.5 / 60.0, 0.0, 0.5, -1.0, 0.03};
    const std::filesystem::path traces = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output/frame-loop-replay";
    const auto run = [&](SceneHost& f, bool replaying) {
        const std::filesystem::path trace = traces / (replaying ? "replayed.jsonl" : "recorded.jsonl");
        f.host->trace = std::make_unique<FrameTrace>(trace);
        f.window->onPump = [&](NativeClient& host) {
            const u32 frame = f.window->pumps;
            if (!replaying && frame == 2) host.input.keyPressed('W', false);
            if (!replaying && frame == 4) host.input.keyReleased('W');
            host.minimized = !replaying && frame == 4;
            f.clock->advanceSeconds(replaying ? 0.001 : frameSeconds[frame - 1]);
            return true;
        };
        f.window->onWait = [&](NativeClient&) { f.clock->advanceSeconds(2.0); };
        FrameLoop loop(*f.host);
        for (u32 frame = 0; frame < 7 && !f.host->quitRequested; ++frame) loop.runFrame();
        f.host->trace->close();
        return std::tuple(f.scene->stepKeys, f.scene->updates, f.scene->alphas, f.scene->droppedSeconds, f.scene->calls,
                          testing::readText(trace));
    };
    SceneHost live;
    live.host->recorder = std::make_unique<replay::ReplayRecorder>(recording, replay::ReplayHeader{});
    const auto seen = run(live, false);
    live.host->recorder->close();
    live.lines();  // closes its log before the next host makes the test's directory anew
    EXPECT_EQ(std::get<0>(seen), "-WWWWWWWW--");  // a minimised frame between: nothing steps
    EXPECT_EQ(std::ranges::count(std::get<5>(seen), '\n'), 6);  // a line a presented frame

    SceneHost again({.smokeTest = true, .frames = 9, .screenshotPath = shot});
    again.host->replay = std::make_unique<replay::ReplayReader>(recording);
    again.host->replayPace.unpaced = true;
    EXPECT_EQ(run(again, true), seen);
    EXPECT_EQ(std::tuple(again.host->quitRequested, std::filesystem::exists(shot), again.clock->sleeps.empty()),
              std::tuple(true, true, true));
}

// A smoke replay plays a frame every turn of the loop, ends at its frame budget, and takes the
// viewer's scripted keys by turns of the loop: Space pauses, Right steps, Space resumes.
TEST(FrameLoop, ASmokeReplayTakesTheViewersKeysAndStopsAtItsBudget) {
    const std::filesystem::path recording = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output/viewer.krpl";
    {
        replay::ReplayRecorder recorder(recording, replay::ReplayHeader{});
        for (int frame = 0; frame < 6; ++frame) recorder.endFrame(replay::FrameKind::played, 1.0 / 60.0, InputState{});
    }
    SceneHost f({.smokeTest = true, .frames = 5,
                 .keyScript = {{2, kVirtualKeySpace, true}, {3, kVirtualKeySpace, false}, {4, kVirtualKeyRight, true},
                               {5, kVirtualKeyRight, false}, {6, kVirtualKeySpace, true}, {7, kVirtualKeySpace, false}}});
    f.host->replay = std::make_unique<replay::ReplayReader>(recording);
    f.host->replayPace.unpaced = true;
    FrameLoop loop(*f.host);
    std::string played;
    for (int turn = 0; turn < 10 && !f.host->quitRequested; ++turn) {
        loop.runFrame();
        played += std::to_string(f.host->replay->playedFrames());
    }
    EXPECT_EQ(std::tuple(played, f.scene->updates.size()), std::tuple("11122345", 5u));
}

// The viewer's keys: Space pauses and resumes, Right steps while paused. Unpaused, recorded
// frames play as their time is due at the speed asked for, a stall counting as a quarter second.
TEST(FrameLoop, ReplayPaceFollowsTheClockTheSpeedAndTheViewersKeys) {
    const struct { const char* name; f64 speed; const char* keys; f64 wall; const char* due; } cases[] = {
        {"at its pace", 1.0, "....", 1.0 / 60.0, "1111"},
        {"a faster display waits", 1.0, "....", 1.0 / 120.0, "0101"},
        {"twice as fast", 2.0, "....", 1.0 / 120.0, "1111"},
        {"half as fast", 0.5, "....", 1.0 / 60.0, "0101"},
        {"paused, then stepped twice, then resumed", 1.0, "S.RRS.", 1.0 / 60.0, "001111"},
        {"a long stall does not burst", 1.0, "....", 5.0, "1111"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReplayPace pace{c.speed};
        std::string due;
        for (const char* key = c.keys; *key != 0; ++key) {
            InputState viewer;
            viewer.pressed[kVirtualKeySpace] = *key == 'S';
            viewer.pressed[kVirtualKeyRight] = *key == 'R';
            due += replayFrameDue(pace, viewer, c.wall, 1.0 / 60.0) ? '1' : '0';
        }
        EXPECT_EQ(due, c.due);
        EXPECT_LE(pace.credit, kMaxFrameSeconds);
    }
}

}  // namespace
}  // namespace kestrune::app
