#include "hud/hud.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/json_text.h"
#include "content/model.h"
#include "render/camera_math.h"
#include "render/primitive_shapes.h"
#include "render/render_device.h"

namespace kestrune::hud {

namespace {

// Glyphs of the longest frame: names, score, banner, lock and the overlay's lines, with shadows.
constexpr u32 kGlyphQuads = 1024;
// Panels, gauges and the graph's columns.
constexpr u32 kSolidQuads = 256;

constexpr render::Color kTextColor{0.93f, 0.95f, 0.97f, 1.0f};
constexpr render::Color kShadowColor{0.0f, 0.0f, 0.0f, 0.7f};
constexpr render::Color kDownColor{0.55f, 0.57f, 0.6f, 1.0f};
constexpr render::Color kPanelColor{0.01f, 0.015f, 0.03f, 0.62f};
constexpr render::Color kLockColor{0.3f, 0.72f, 1.0f, 1.0f};  // the locked ring's
constexpr render::Color kKnockoutColor{1.0f, 0.32f, 0.18f, 1.0f};
constexpr render::Color kRoundColor{1.0f, 0.82f, 0.3f, 1.0f};
constexpr render::Color kGraphGood{0.35f, 0.85f, 0.45f, 0.95f};
constexpr render::Color kGraphFair{0.95f, 0.8f, 0.25f, 0.95f};
constexpr render::Color kGraphPoor{1.0f, 0.35f, 0.25f, 0.95f};
constexpr render::Color kGraphLine{1.0f, 1.0f, 1.0f, 0.25f};

// Text sizes in units, and the least pixels each is drawn at however small the window.
constexpr f32 kNameUnits = 18.0f;
constexpr f32 kNameMinimumPixels = 12.0f;
constexpr f32 kScoreUnits = 34.0f;
constexpr f32 kScoreMinimumPixels = 16.0f;
constexpr f32 kBannerUnits = 96.0f;
constexpr f32 kBannerMinimumPixels = 36.0f;
constexpr f32 kBannerMaximumPixels = 144.0f;
constexpr f32 kOverlayUnits = 15.0f;
constexpr f32 kOverlayMinimumPixels = 12.0f;
// The banner's middle, as a fraction of the window's height: on the floor in front of the
// fighters (the camera behind the local one has its feet at two thirds of the height), clear
// of their bodies and of the names and bars above them.
constexpr f32 kBannerCentre = 0.84f;
constexpr f32 kGraphUnits = 48.0f;
constexpr f32 kGraphMinimumPixels = 36.0f;
constexpr f64 kGraphFairMs = 100.0;
constexpr f64 kGraphPoorMs = 200.0;

f32 sized(f32 units, f32 unit, f32 minimum) noexcept { return std::max(minimum, std::round(units * unit)); }

struct ScreenPoint {
    f32 x = 0.0f;
    f32 y = 0.0f;
    bool visible = false;
};

ScreenPoint project(const render::Vec3& point, const render::Matrix4& viewProjection, f32 width, f32 height) noexcept {
    const render::Matrix4& m = viewProjection;
    const f32 x = point[0] * m[0] + point[1] * m[4] + point[2] * m[8] + m[12];
    const f32 y = point[0] * m[1] + point[1] * m[5] + point[2] * m[9] + m[13];
    const f32 w = point[0] * m[3] + point[1] * m[7] + point[2] * m[11] + m[15];
    if (w <= 1e-4f) {
        return {};
    }
    return {(x / w + 1.0f) * 0.5f * width, (1.0f - y / w) * 0.5f * height, true};
}

}  // namespace

const char* bannerText(const HudShown& shown, char (&buffer)[kBannerTextBytes]) noexcept {
    switch (shown.banner) {
        case Banner::knockout:
            return "K.O.";
        case Banner::round:
            std::snprintf(buffer, sizeof buffer, "Round %u", shown.round);
            return buffer;
        case Banner::none:
            break;
    }
    return nullptr;
}

std::string_view className(u32 slot) noexcept { return slot == 0 ? "Warrior" : "Templar"; }

Hud::Hud(HudSetup setup)
    : localName_(std::move(setup.localName)),
      opponentName_(className(1 - setup.localSlot)),
      localSlot_(setup.localSlot),
      solids_(kSolidQuads),
      glyphs_(kGlyphQuads) {
    shown_.overlay = setup.overlayShown;
}

void Hud::loadFont(const std::filesystem::path& contentRoot, render::RenderDevice& renderer) {
    const std::filesystem::path fontPath = contentRoot / std::filesystem::path(content::kHudFontPath).make_preferred();
    content::FontAtlas font = content::loadFontAtlas(fontPath);
    const std::filesystem::path atlasPath = fontPath.parent_path() / font.atlasImage;
    const render::TextureHandle atlas = renderer.LoadTexture(atlasPath);
    const render::TextureRecord& record = renderer.Texture(atlas);
    if (record.widthPixels != font.atlasWidth || record.heightPixels != font.atlasHeight) {
        char fault[160];
        std::snprintf(fault, sizeof fault, ": the atlas is %u x %u pixels, the font was laid out on %u x %u",
                      record.widthPixels, record.heightPixels, unsigned{font.atlasWidth}, unsigned{font.atlasHeight});
        const std::u8string named = atlasPath.u8string();
        throw content::ContentError(std::string(named.begin(), named.end()) + fault);
    }
    useFont(std::move(font), atlas);
}

void Hud::useFont(content::FontAtlas font, render::TextureHandle atlas) {
    font_ = std::make_unique<content::FontAtlas>(std::move(font));
    atlas_ = atlas;
}

void Hud::update(const InputState& viewer, f64 seconds, const NetSample& net) noexcept {
    if (viewer.pressed[kVirtualKeyF3]) {
        shown_.overlay = !shown_.overlay;
    }
    if (shown_.banner == Banner::round) {
        bannerSecondsLeft_ -= seconds;
        if (bannerSecondsLeft_ <= 0.0) {
            shown_.banner = Banner::none;
        }
    }
    clockSeconds_ += std::max(0.0, seconds);
    net_.record(clockSeconds_, net);
}

void Hud::hear(std::span<const scene::SceneCue> cues) noexcept {
    for (const scene::SceneCue& cue : cues) {
        if (cue.kind == scene::CueKind::knockedDown && cue.slot < 2) {
            const u32 fallen = cue.slot == localSlot_ ? 0 : 1;
            ++shown_.roundsWon[1 - fallen];
            shown_.banner = Banner::knockout;
        } else if (cue.kind == scene::CueKind::roundStarted) {
            ++shown_.round;
            shown_.banner = Banner::round;
            bannerSecondsLeft_ = kRoundBannerSeconds;
        }
    }
}

void Hud::text(std::string_view line, f32 x, f32 baselineY, f32 size, TextAlign align, const render::Color& color) {
    if (!font_) {
        return;
    }
    const TextPainter painter(*font_);
    const f32 shadow = std::max(1.0f, std::round(size / 16.0f));
    painter.draw(glyphs_, line, x + shadow, baselineY + shadow, size, align, kShadowColor);
    painter.draw(glyphs_, line, x, baselineY, size, align, color);
}

void Hud::draw(render::RenderDevice& renderer, const render::Camera& camera,
               std::span<const scene::FighterView, 2> fighters) {
    const f32 width = static_cast<f32>(renderer.viewportWidthPixels());
    const f32 height = static_cast<f32>(renderer.viewportHeightPixels());
    if (width <= 0.0f || height <= 0.0f) {
        return;
    }
    unit_ = std::min(height / 720.0f, width / 1280.0f);
    solids_.clear();
    glyphs_.clear();
    const render::Matrix4 viewProjection = render::multiply(renderer.viewMatrix(), renderer.projectionMatrix());
    for (u32 slot = 0; slot < 2; ++slot) {
        drawFighter(fighters[slot], slot == localSlot_ ? 0 : 1, camera, viewProjection, width, height);
    }
    drawScore(width);
    drawBanner(width, height);
    if (shown_.overlay) {
        drawOverlay();
    }
    renderer.DrawScreenPrimitives(solids_.vertices(), solids_.indices(), render::kWhiteTexture);
    if (font_) {
        renderer.DrawScreenPrimitives(glyphs_.vertices(), glyphs_.indices(), atlas_);
    }
}

void Hud::drawFighter(const scene::FighterView& fighter, u32 side, const render::Camera& camera,
                      const render::Matrix4& viewProjection, f32 width, f32 height) {
    // A lock's gauge runs from the length it had when first seen.
    if (fighter.lockSecondsLeft <= 0.0) {
        lockSecondsAtStart_[side] = 0.0;
    } else if (fighter.lockSecondsLeft > lockSecondsAtStart_[side]) {
        lockSecondsAtStart_[side] = fighter.lockSecondsLeft;
    }
    if (!fighter.drawn) {
        return;
    }
    // The bar as the renderer drew it: its middle and its right end, seen from the camera.
    const render::CameraBasis basis = render::cameraFacingBasis(camera);
    const render::Vec3& middle = fighter.barCentre;
    const render::Vec3 end{middle[0] + basis.right[0] * render::kStatusBarHalfWidth,
                           middle[1] + basis.right[1] * render::kStatusBarHalfWidth,
                           middle[2] + basis.right[2] * render::kStatusBarHalfWidth};
    const ScreenPoint centre = project(middle, viewProjection, width, height);
    const ScreenPoint right = project(end, viewProjection, width, height);
    if (!centre.visible || !right.visible) {
        return;
    }
    const f32 halfWidth = std::hypot(right.x - centre.x, right.y - centre.y);
    const f32 halfHeight = halfWidth * (render::kStatusBarHighlightedHalfHeight / render::kStatusBarHalfWidth);
    const f32 gap = std::max(2.0f, std::round(4.0f * unit_));
    const f32 nameSize = sized(kNameUnits, unit_, kNameMinimumPixels);
    // A fighter at the picture's edge keeps its name inside the window.
    const f32 nameWidth = measure(name(side), nameSize);
    const f32 nameX = std::clamp(centre.x, gap + nameWidth * 0.5f, std::max(gap, width - gap - nameWidth * 0.5f));
    text(name(side), nameX, centre.y - halfHeight - gap - std::round(0.25f * nameSize), nameSize, TextAlign::centre,
         fighter.down ? kDownColor : kTextColor);
    if (fighter.lockSecondsLeft > 0.0) {
        const f64 length = std::max(lockSecondsAtStart_[side], fighter.lockSecondsLeft);
        const f32 gaugeHeight = std::max(2.0f, std::round(3.0f * unit_));
        const f32 gaugeLeft = std::max(0.0f, centre.x - halfWidth);
        const f32 gaugeRight =
            std::min(width, centre.x - halfWidth + 2.0f * halfWidth * static_cast<f32>(fighter.lockSecondsLeft / length));
        if (gaugeRight > gaugeLeft) {
            solids_.addSolid({gaugeLeft, centre.y + halfHeight + 1.0f, gaugeRight - gaugeLeft, gaugeHeight}, kLockColor);
        }
        char line[32];
        std::snprintf(line, sizeof line, "Locked %.1f s", fighter.lockSecondsLeft);
        const f32 size = sized(kNameUnits * 0.8f, unit_, kNameMinimumPixels);
        const f32 baseline = centre.y + ascent(size) * 0.5f;
        // Right of the bar, or left of it where the window ends first.
        const f32 lineWidth = measure(line, size);
        if (centre.x + halfWidth + gap + lineWidth <= width - gap) {
            text(line, centre.x + halfWidth + gap, baseline, size, TextAlign::left, kLockColor);
        } else {
            text(line, std::max(gap + lineWidth, centre.x - halfWidth - gap), baseline, size, TextAlign::right, kLockColor);
        }
    }
}

f32 Hud::measure(std::string_view line, f32 size) const noexcept {
    return font_ ? TextPainter(*font_).measure(line, size) : 0.0f;
}

f32 Hud::ascent(f32 size) const noexcept { return font_ ? TextPainter(*font_).ascent(size) : size * 0.75f; }

void Hud::drawScore(f32 width) {
    const f32 size = sized(kScoreUnits, unit_, kScoreMinimumPixels);
    const f32 nameSize = sized(kNameUnits, unit_, kNameMinimumPixels);
    const f32 margin = std::max(4.0f, std::round(8.0f * unit_));
    char score[32];
    std::snprintf(score, sizeof score, "%u \xE2\x80\x93 %u", shown_.roundsWon[0], shown_.roundsWon[1]);
    const f32 ascent = this->ascent(size);
    const f32 scoreWidth = measure(score, size);
    const f32 baseline = std::round(margin + ascent);
    const f32 centre = std::round(width * 0.5f);
    // The panel holds the score and the names either side of it.
    const f32 nameWidth = font_ ? std::max(measure(name(0), nameSize), measure(name(1), nameSize)) : nameSize * 6.0f;
    const f32 halfPanel = scoreWidth * 0.5f + 2.0f * margin + nameWidth;
    solids_.addSolid({centre - halfPanel, margin * 0.5f, 2.0f * halfPanel, ascent + size * 0.3f + margin}, kPanelColor);
    text(score, centre, baseline, size, TextAlign::centre, kTextColor);
    text(name(0), centre - scoreWidth * 0.5f - margin, baseline, nameSize, TextAlign::right, kTextColor);
    text(name(1), centre + scoreWidth * 0.5f + margin, baseline, nameSize, TextAlign::left, kTextColor);
}

void Hud::drawBanner(f32 width, f32 height) {
    char buffer[kBannerTextBytes];
    const char* banner = bannerText(shown_, buffer);
    if (banner == nullptr) {
        return;
    }
    const f32 size = std::min(kBannerMaximumPixels, sized(kBannerUnits, unit_, kBannerMinimumPixels));
    text(banner, width * 0.5f, std::round(height * kBannerCentre + ascent(size) * 0.5f), size, TextAlign::centre,
         shown_.banner == Banner::knockout ? kKnockoutColor : kRoundColor);
}

void Hud::drawOverlay() {
    const NetReadout readout = net_.readout();
    const f32 size = sized(kOverlayUnits, unit_, kOverlayMinimumPixels);
    const f32 margin = std::max(4.0f, std::round(8.0f * unit_));
    const f32 lineHeight = font_ ? std::round(TextPainter(*font_).lineHeight(size)) : std::round(size * 1.2f);
    std::array<char[48], 4> lines{};
    u32 lineCount = 0;
    if (!readout.online) {
        std::snprintf(lines[lineCount++], sizeof lines[0], "Offline: no network");
    } else {
        if (readout.hasRoundTrip) {
            std::snprintf(lines[lineCount++], sizeof lines[0], "RTT %.0f ms  p99 %.0f ms", readout.roundTripNowMs,
                          readout.roundTripP99Ms);
        } else {
            std::snprintf(lines[lineCount++], sizeof lines[0], "RTT -  p99 -");
        }
        std::snprintf(lines[lineCount++], sizeof lines[0], "Snapshots %.0f/s", readout.snapshotsPerSecond);
        std::snprintf(lines[lineCount++], sizeof lines[0], "Interp delay %.0f ms", readout.interpolationDelayMs);
        std::snprintf(lines[lineCount++], sizeof lines[0], "Corrections %u/s", readout.correctionsLastSecond);
    }
    f32 textWidth = 0.0f;
    for (u32 i = 0; i < lineCount; ++i) {
        textWidth = std::max(textWidth, font_ ? measure(lines[i], size) : size * 10.0f);
    }
    const f32 columnWidth = std::max(1.0f, std::round(2.0f * unit_));
    const f32 graphWidth = readout.online ? columnWidth * static_cast<f32>(kNetColumns) : 0.0f;
    const f32 graphHeight = readout.online ? sized(kGraphUnits, unit_, kGraphMinimumPixels) : 0.0f;
    const f32 left = margin;
    const f32 top = std::round(margin + sized(kScoreUnits, unit_, kScoreMinimumPixels) * 1.3f + margin);
    const f32 panelWidth = std::max(textWidth, graphWidth) + 2.0f * margin;
    const f32 panelHeight = lineHeight * static_cast<f32>(lineCount) + graphHeight + (readout.online ? 3.0f : 2.0f) * margin;
    solids_.addSolid({left, top, panelWidth, panelHeight}, kPanelColor);
    const f32 ascent = this->ascent(size);
    for (u32 i = 0; i < lineCount; ++i) {
        text(lines[i], left + margin, top + margin + ascent + lineHeight * static_cast<f32>(i), size, TextAlign::left,
             kTextColor);
    }
    if (!readout.online) {
        return;
    }
    // The graph: one column a twentieth of a second, oldest on the left, its height the
    // slowest round trip completed in it, on a scale of whole 50 ms that the slowest fits.
    const f64 scaleMs = std::ceil(std::max(kGraphFairMs, 1.2 * net_.roundTripMaxMs()) / 50.0) * 50.0;
    const f32 graphLeft = left + margin;
    const f32 graphBottom = top + panelHeight - margin;
    solids_.addSolid({graphLeft, graphBottom - graphHeight, graphWidth, 1.0f}, kGraphLine);
    solids_.addSolid({graphLeft, graphBottom, graphWidth, 1.0f}, kGraphLine);
    for (u32 age = 0; age < kNetColumns; ++age) {
        const NetColumn& column = net_.column(age);
        if (column.roundTrips == 0) {
            continue;
        }
        const f64 ms = column.roundTripMaxMs;
        const f32 barHeight = std::max(1.0f, graphHeight * static_cast<f32>(std::min(1.0, ms / scaleMs)));
        solids_.addSolid({graphLeft + columnWidth * static_cast<f32>(kNetColumns - 1 - age), graphBottom - barHeight,
                          columnWidth, barHeight},
                         ms < kGraphFairMs ? kGraphGood : ms < kGraphPoorMs ? kGraphFair : kGraphPoor);
    }
    char label[24];
    std::snprintf(label, sizeof label, "%.0f ms", scaleMs);
    text(label, graphLeft + graphWidth, graphBottom - graphHeight + ascent + 2.0f, size * 0.8f, TextAlign::right,
         kGraphLine);
}

void Hud::appendTrace(std::string& line) const {
    appendJsonKey(line, "hud");
    line.push_back('{');
    appendJsonKey(line, "score", true);
    line.push_back('[');
    appendJsonInteger(line, u64{shown_.roundsWon[0]});
    line.push_back(',');
    appendJsonInteger(line, u64{shown_.roundsWon[1]});
    line.push_back(']');
    appendJsonMember(line, "round", u64{shown_.round});
    char buffer[kBannerTextBytes];
    const char* banner = bannerText(shown_, buffer);
    appendJsonKey(line, "banner");
    if (banner == nullptr) {
        line.append("null");
    } else {
        appendJsonString(line, banner);
    }
    appendJsonMember(line, "overlay", shown_.overlay);
    if (shown_.overlay) {
        // The figures the overlay prints, unrounded; no round trip yet is null.
        const NetReadout readout = net_.readout();
        appendJsonKey(line, "net");
        line.push_back('{');
        appendJsonMember(line, "online", readout.online, true);
        appendJsonKey(line, "roundTripMs");
        if (readout.hasRoundTrip) {
            appendJsonNumber(line, readout.roundTripNowMs);
        } else {
            line.append("null");
        }
        appendJsonMember(line, "roundTripP99Ms", readout.roundTripP99Ms);
        appendJsonMember(line, "snapshotsPerSecond", readout.snapshotsPerSecond);
        appendJsonMember(line, "interpolationDelayMs", readout.interpolationDelayMs);
        appendJsonMember(line, "correctionsLastSecond", u64{readout.correctionsLastSecond});
        line.push_back('}');
    }
    line.push_back('}');
}

}  // namespace kestrune::hud
