#pragma once
// The result of one run: what the boot coordinator measured, or the failure that ended it.
// The smoke report is written from it. Texts are UTF-16, as the window and log texts are.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/types.h"
#include "hud/hud.h"
#include "render/render_report.h"
#include "scene/scene_statistics.h"

namespace kestrune::app {

inline constexpr std::size_t kReportedSoundStarts = 256;

struct RunSummary {
    bool success = false;
    std::u16string error;
    std::u16string adapter;
    std::u16string driverType;
    std::u16string featureLevel;
    std::u16string shaderProfile;
    u64 renderedFrames = 0;
    u64 fixedUpdates = 0;
    u64 variableUpdates = 0;
    f64 elapsedMilliseconds = 0.0;
    u32 width = 0;
    u32 height = 0;
    render::RenderReport renderer;
    scene::SceneStatistics scene;
    bool contentReady = false;
    std::u16string audioDevice;  // empty: none (muted, no device, or no content)
    u64 soundsPlayed = 0;
    // The output frame (of 48 kHz) at which each of the run's first sounds began, -1 for one
    // not played on a device.
    std::vector<i64> soundStartFrames;

    // What the HUD showed last; absent without the content scene.
    struct HudSummary {
        bool text = false;                 // drawn from the font (false: panels and gauges alone)
        std::array<std::string, 2> names;  // UTF-8: the local player, the opponent
        hud::HudShown shown;
    };
    std::optional<HudSummary> hud;
};

}  // namespace kestrune::app
