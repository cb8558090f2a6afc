#pragma once
// The HUD: what a player reads at a glance over the duel. Each fighter's name above its
// status bar (the opponent by its class), the rounds each side won ("2 – 1") at the top, a
// "K.O." banner from a knockdown to the next round and "Round N" as one starts, the time a
// lock has left beside the locked fighter's bar, and on F3 (or the controller's Back button)
// a network overlay: round trip now and at the 99th percentile, snapshots per second, the
// remote playback's delay, corrections in the last second and a graph of the last five
// seconds of round trips. Everything is sized to the window (a unit of 1/720 of its height,
// or 1/1280 of its width when that is less) and kept off the fighters' bodies.
//
// It hears the scene's cues and reads its fighters, and never feeds back. What it shows is
// decided with or without a font, so the trace and the report say the same everywhere; the
// text needs the baked font, and without it the HUD draws its panels and bars alone. Main
// thread only; after construction nothing allocates.

#include <array>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/input_state.h"
#include "base/types.h"
#include "content/font_atlas.h"
#include "hud/net_history.h"
#include "hud/screen_text.h"
#include "render/render_types.h"
#include "scene/frame_scene.h"
#include "scene/scene_cues.h"

namespace kestrune::render {
class RenderDevice;
}

namespace kestrune::hud {

inline constexpr f64 kRoundBannerSeconds = 2.0;

enum class Banner : u8 { none, knockout, round };

// What the HUD shows, for the trace, the report and tests. Sides: 0 the local player, 1 the opponent.
struct HudShown {
    std::array<u32, 2> roundsWon{};
    u32 round = 1;
    Banner banner = Banner::round;
    bool overlay = false;
};

// The banner's words ("K.O.", "Round 2"), written into `buffer` when they need it; null
// when no banner shows.
inline constexpr std::size_t kBannerTextBytes = 32;
const char* bannerText(const HudShown& shown, char (&buffer)[kBannerTextBytes]) noexcept;

struct HudSetup {
    std::string localName;     // the player's name (--name= or the launcher's)
    u32 localSlot = 0;         // 0 warrior, 1 templar
    bool overlayShown = false; // --net-overlay
};

// The name a fighter of `slot` goes by when nobody named it: its class.
std::string_view className(u32 slot) noexcept;

class Hud {
public:
    explicit Hud(HudSetup setup);

    // Loads the font of `contentRoot` and its atlas texture. Throws ContentError (or the
    // renderer's error) and keeps drawing without text.
    void loadFont(const std::filesystem::path& contentRoot, render::RenderDevice& renderer);
    bool hasText() const noexcept { return font_ != nullptr; }

    // A frame: the viewer's keys (F3 toggles the overlay), the seconds it lasted and the
    // session's totals; then what the scene showed happen in it.
    void update(const InputState& viewer, f64 seconds, const NetSample& net) noexcept;
    void hear(std::span<const scene::SceneCue> cues) noexcept;
    // Over the scene's picture, before it is presented: the fighters as the scene drew them
    // (by slot) from its camera.
    void draw(render::RenderDevice& renderer, const render::Camera& camera,
              std::span<const scene::FighterView, 2> fighters);
    // A font already loaded, with its atlas texture (loadFont's second half).
    void useFont(content::FontAtlas font, render::TextureHandle atlas);

    const HudShown& shown() const noexcept { return shown_; }
    std::string_view name(u32 side) const noexcept { return side == 0 ? localName_ : opponentName_; }
    const NetHistory& netHistory() const noexcept { return net_; }
    // ",\"hud\":{...}": score, round, banner, overlay, and while the overlay shows, its figures.
    void appendTrace(std::string& line) const;

private:
    void drawFighter(const scene::FighterView& fighter, u32 side, const render::Camera& camera,
                     const render::Matrix4& viewProjection, f32 width, f32 height);
    void drawScore(f32 width);
    void drawBanner(f32 width, f32 height);
    void drawOverlay();
    f32 measure(std::string_view line, f32 size) const noexcept;  // 0 without a font
    f32 ascent(f32 size) const noexcept;
    void text(std::string_view line, f32 x, f32 baselineY, f32 size, TextAlign align, const render::Color& color);

    std::string localName_;
    std::string opponentName_;
    u32 localSlot_ = 0;
    HudShown shown_;
    f64 bannerSecondsLeft_ = kRoundBannerSeconds;
    std::array<f64, 2> lockSecondsAtStart_{};  // per side: the lock's length as it began, for its gauge
    NetHistory net_;
    f64 clockSeconds_ = 0.0;  // the frames' seconds so far, the network history's time

    std::unique_ptr<content::FontAtlas> font_;
    render::TextureHandle atlas_ = render::kNoTexture;
    QuadBatch solids_;
    QuadBatch glyphs_;
    f32 unit_ = 1.0f;  // this frame's size unit, pixels
};

}  // namespace kestrune::hud
