#include "app/boot_coordinator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "host/fake_host.h"

namespace kestrune::app {
namespace {

using testing::FakeHost;

TEST(BootCoordinator, SmokeRunStartsInOrderAndSummarisesTheRun) {
    FakeHost fake({.smokeTest = true, .frames = 3, .width = 640, .height = 360});
    fake.window->onPump = [&](NativeClient&) {
        fake.clock->advanceSeconds(0.1);  // six fixed steps per frame
        return true;
    };
    const RunSummary summary = BootCoordinator(*fake.host).run();

    // drawCalls: the renderer's figures reach the summary
    EXPECT_EQ(std::tuple(summary.success, summary.renderedFrames, summary.variableUpdates, summary.fixedUpdates,
                         summary.width, summary.height, summary.contentReady, summary.renderer.statistics.drawCalls),
              std::tuple(true, u64{3}, u64{3}, u64{18}, u32{640}, u32{360}, false, 3u));
    EXPECT_NEAR(summary.elapsedMilliseconds, 300.0, 1e-6);
    EXPECT_EQ(std::tuple(summary.adapter, summary.driverType, summary.featureLevel, summary.shaderProfile),
              std::tuple(u"Recording Adapter", u"hardware", u"11_0", u"recording"));

    EXPECT_EQ(fake.lines(), (std::vector<std::string>{
                                "[INFO] BootCoordinator start", "[INFO] Init Render Device",
                                "[INFO] Render Device ready: Recording Adapter / feature level 11_0 / hardware",
                                "[INFO] VertexShader HW Accel Enabled", "[INFO] Init Input Manager",
                                "[INFO] Shutdown cleanly after 3 rendered frames and 18 fixed updates"}));
}

// Shown outside smoke runs, and in smoke runs with --show.
TEST(BootCoordinator, WindowIsShownOutsideSmokeRunsAndWithShow) {
    for (const auto& [smoke, show, shows] : {std::tuple{false, false, 1u}, {true, false, 0u}, {true, true, 1u}}) {
        SCOPED_TRACE(std::to_string(smoke) + std::to_string(show));
        FakeHost fake({.smokeTest = smoke, .showWindow = show, .frames = 1});
        fake.window->onPump = [&](NativeClient&) { return fake.window->pumps < 2; };  // the window closes in frame 2
        const RunSummary summary = BootCoordinator(*fake.host).run();
        EXPECT_EQ(std::tuple(fake.window->shows, summary.renderedFrames), std::tuple(shows, u64{1}));
    }
}

// The baked content through the recording renderer: the scene is loaded after the input
// line, drawn every frame, counted in the summary, and traced frame by frame.
TEST(BootCoordinator, ContentRunLoadsTracesAndReportsTheScene) {
    const std::filesystem::path content = KESTRUNE_CONTENT_DIR;
    const std::filesystem::path trace = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output/boot/trace.jsonl";
    FakeHost fake({.smokeTest = true, .contentSmoke = true, .frames = 2, .contentDirectory = content, .fixedFps = 60,
                   .tracePath = trace, .volumePercent = 40});
    // A device that takes the mixer and never pulls from it: the sounds are asked for, not begun.
    struct SilentOutput final : audio::AudioOutput {
        std::string name = "test device";
        const std::string& deviceName() const noexcept override { return name; }
    };
    fake.host->openAudio = [](audio::Mixer&, std::string&) { return std::make_unique<SilentOutput>(); };
    const RunSummary summary = BootCoordinator(*fake.host).run();

    // The scene's own tests and the smoke run count its clips and meshes against the files; here
    // the log line and the summary agree on them.
    const scene::SceneStatistics& scene = summary.scene;
    EXPECT_EQ(std::tuple(summary.contentReady, scene.charactersLoaded, scene.effectModelsLoaded,
                         summary.renderer.statistics.uploadedModels, fake.clock->sleeps.empty()),
              std::tuple(true, 2u, 6u, 8u, true));
    EXPECT_GT(scene.effectsSpawned, 0u);  // the smoke run's skill

    // The smoke skill's cast is heard, on the device the opener gave, at the volume asked for.
    EXPECT_EQ(summary.audioDevice, u"test device");
    EXPECT_GT(summary.soundsPlayed, 0u);
    EXPECT_EQ(summary.soundStartFrames, std::vector<i64>(summary.soundsPlayed, -1));
    const std::vector<std::string> lines = fake.lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[7], "[INFO] Sound on test device at volume 40: 17 sounds");
    // The HUD reads the baked font and says what it shows, in the summary and each trace line.
    EXPECT_EQ(lines[8], "[INFO] HUD text ready");
    ASSERT_TRUE(summary.hud.has_value());
    EXPECT_EQ(std::tuple(summary.hud->text, summary.hud->names[0], summary.hud->names[1], summary.hud->shown.banner),
              std::tuple(true, "NativeFighter", "Templar", hud::Banner::round));
    EXPECT_EQ(lines[5], "[INFO] Load KMDL content chunk");
    EXPECT_EQ(lines[6], "[INFO] Content scene ready: " + std::to_string(scene.meshesAvailable) + " character meshes, " +
                            std::to_string(scene.clipsAvailable) + " clips, 6 effect models");
    const std::string traced = testing::readText(trace);
    EXPECT_EQ(std::count(traced.begin(), traced.end(), '\n'), 2);
    EXPECT_NE(traced.find("}\n{\"frame\":2,\"time\":0.0333333333,\"steps\":1,\"alpha\":0,\"dropped\":0,\"controlledSlot\":0,"),
              std::string::npos);
}

// A failed start ends before the first frame; the log's last line names how far it got.
TEST(BootCoordinator, StartFailuresEndBeforeAnyFrame) {
    // failingDeviceAttempts of 2: hardware and the software retry
    const struct {
        const char* name; u32 failingDeviceAttempts; const char* serverHost; const char* lastLine; bool rendererReady;
    } cases[] = {
        {"renderer", 2, "", "[INFO] Init Render Device", false},
        // discard port: nothing listens there on a test machine; no "Network connected" line
        {"unreachable server", 0, "127.0.0.1", "[INFO] Init Input Manager", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost fake({.smokeTest = true, .serverHost = c.serverHost, .serverPort = 9});
        fake.backend->failingDeviceAttempts = c.failingDeviceAttempts;
        EXPECT_THROW(BootCoordinator(*fake.host).run(), std::runtime_error);
        EXPECT_EQ(std::tuple(fake.host->rendererReady, fake.window->pumps, fake.backend->presents),
                  std::tuple(c.rendererReady, 0u, 0u));
        const std::vector<std::string> lines = fake.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.lastLine);
    }
}

}  // namespace
}  // namespace kestrune::app
