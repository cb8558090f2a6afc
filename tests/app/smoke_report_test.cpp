#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "app/smoke_report.h"
#include "app/test_support.h"

namespace kestrune::app {
namespace {

using testing::ScratchDirectory;

std::string golden(const char* name) {
    const auto bytes = testing::readFileBytes(std::string(KESTRUNE_SOURCE_DIR "/tests/app/golden/") + name);
    EXPECT_TRUE(bytes.has_value()) << name;
    return bytes.value_or("");
}

RunSummary successSummary() {
    return {.success = true, .adapter = u"llvmpipe (LLVM 15.0.6, 256 bits)", .driverType = u"warp",
            .featureLevel = u"gl4.5", .shaderProfile = u"glsl330", .renderedFrames = 120, .fixedUpdates = 241,
            .variableUpdates = 120, .elapsedMilliseconds = 2043.8765, .width = 1280, .height = 720,
            .renderer = {.info = {.flipModelEnabled = true, .gpuSkinningEnabled = true, .msaaSampleCount = 4},
                         .statistics = {.presentedFrames = 120, .uploadedModels = 8, .uploadedMeshes = 14,
                                        .uploadedTextures = 13, .drawCalls = 2400, .triangles = 1234567,
                                        .skinnedVertices = 987654, .gpuSkinnedVertices = 987654,
                                        .cpuSkinnedVertices = 0, .skinPaletteUploads = 240, .frameLatencyWaits = 119,
                                        .frameLatencyTimeouts = 1, .antiAliasingResolves = 120,
                                        .renderCpuMillisecondsTotal = 246.0, .renderCpuMillisecondsMaximum = 16.5,
                                        .presentMillisecondsTotal = 148148040.0,
                                        .presentMillisecondsMaximum = 0.000123}},
            .scene = {.charactersLoaded = 2, .effectModelsLoaded = 6, .clipsAvailable = 14, .meshesAvailable = 9,
                      .authoritativeSnapshots = ~u64{0}, .authoritativeEvents = 37, .effectsSpawned = 12},
            .contentReady = true,
            .audioDevice = u"SDL pulseaudio: Built-in \"Audio\"",
            .soundsPlayed = 3,
            .soundStartFrames = {0, 4800, -1},
            .hud = RunSummary::HudSummary{true, {"Zo\xC3\xAB \"Z\"", "Templar"}, {{2, 1}, 4, hud::Banner::knockout, true}}};
}

RunSummary failureSummary() {
    return {.error = u"Unable to create native client log file.", .renderer = {.info = {.msaaSampleCount = 1}}};
}

RunSummary escapingSummary() {
    return {.error = u"line one\r\nline \"two\"\ttabbed", .adapter = u"C:\\GPU\\\"Fast\" \f card \U0001F3AE",
            .driverType = u"warp\xD800",  // unpaired high surrogate
            .featureLevel = std::u16string(u"caf\u00e9 \0\x01\x1f\x7f", 9),  // NUL and DEL too
            .shaderProfile = std::u16string{0xDE00, 0xD83D},  // a pair in the wrong order
            .elapsedMilliseconds = std::nan(""),
            // a render time, but no frame presented
            .renderer = {.statistics = {.renderCpuMillisecondsTotal = 5.0,
                                        .renderCpuMillisecondsMaximum = std::numeric_limits<f64>::infinity()}}};
}

TEST(SmokeReport, MatchesTheGoldenFilesInTextAndOnDisk) {
    const struct { const char* file; RunSummary summary; } cases[] = {
        {"success_report.json", successSummary()}, {"failure_report.json", failureSummary()},
        {"escaping_report.json", escapingSummary()}};
    const ScratchDirectory scratch;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string expected = golden(c.file);
        EXPECT_EQ(formatSmokeReport(c.summary), expected);
        writeSmokeReport(scratch / c.file, c.summary);
        EXPECT_EQ(testing::readFileBytes(scratch / c.file), testing::withTextFileNewlines(expected));
    }
}

TEST(SmokeReport, WritingReplacesFilesCreatesDirectoriesAndNamesItsFailures) {
    const ScratchDirectory scratch;
    const auto report = scratch / "a/b/c/report.json";
    writeSmokeReport(report, successSummary());
    writeSmokeReport(report, failureSummary());  // shorter: nothing of the first may remain
    EXPECT_EQ(testing::readFileBytes(report), testing::withTextFileNewlines(golden("failure_report.json")));

    writeSmokeReport({}, failureSummary());  // no path, no report
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1);

    testing::expectThrowWith<std::runtime_error>([&] { writeSmokeReport(scratch / "a", failureSummary()); },
                                                 "Unable to create smoke report.");
    EXPECT_THROW(writeSmokeReport(scratch / "a/b/c/report.json/inner.json", failureSummary()),
                 std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace kestrune::app
