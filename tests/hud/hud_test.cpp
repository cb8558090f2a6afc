// The HUD: text laid out from a font, the network history, what the cues make it show, and
// where it draws at the smallest and largest windows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "hud/hud.h"
#include "render/device_fixture.h"

namespace kestrune::hud {
namespace {

using render::testing::DeviceFixture;

// Two strikes (10 and 20 pixels) of a few glyphs; 'A' 'V' kern by -2 pixels at 10.
content::FontAtlas testFont() {
    content::FontAtlas font{"test.png", 256, 64, {}};
    for (u16 size : {10, 20}) {
        const i16 k = static_cast<i16>(size / 10);
        content::FontStrike strike{size, static_cast<i16>(8 * k), static_cast<i16>(-2 * k), static_cast<u16>(12 * k), {}, {}};
        strike.glyphs = {{0x20, 4 * 64 * k, 0, 0, 0, 0, 0, 0},
                         {0x3F, 5 * 64 * k, 1, static_cast<i16>(7 * k), static_cast<u16>(4 * k), static_cast<u16>(7 * k), 10, 0},
                         {0x41, 6 * 64 * k, 0, static_cast<i16>(7 * k), static_cast<u16>(6 * k), static_cast<u16>(7 * k), 30, 0},
                         {0x56, 6 * 64 * k, 0, static_cast<i16>(7 * k), static_cast<u16>(6 * k), static_cast<u16>(7 * k), 60, 20}};
        strike.kerning = {{0x41, 0x56, -2 * 64 * k}};
        font.strikes.push_back(strike);
    }
    return font;
}

TEST(ScreenText, PicksAStrikeDecodesUtf8KernsAndFallsBack) {
    const content::FontAtlas font = testFont();
    const TextPainter painter(font);
    struct Sizing { f32 wanted; u16 strike; f32 scale; };
    for (const Sizing& row : {Sizing{10.0f, 10, 1.0f}, Sizing{10.9f, 10, 1.0f}, Sizing{12.0f, 20, 0.6f},
                              Sizing{5.0f, 10, 0.5f}, Sizing{40.0f, 20, 2.0f}}) {
        const TextSizing sized = painter.sizing(row.wanted);
        EXPECT_EQ(sized.strike->pixelSize, row.strike) << row.wanted;
        EXPECT_FLOAT_EQ(sized.scale, row.scale) << row.wanted;
    }
    // "AV": 6 + 6 - 2 kerning; "VA" has no pair; unknown and broken characters are '?' (5).
    EXPECT_FLOAT_EQ(painter.measure("AV", 10.0f), 10.0f);
    EXPECT_FLOAT_EQ(painter.measure("VA", 10.0f), 12.0f);
    EXPECT_FLOAT_EQ(painter.measure("AV", 20.0f), 20.0f);
    EXPECT_FLOAT_EQ(painter.measure("A\xC3\xA9\xFF" "A", 10.0f), 6.0f + 5.0f + 5.0f + 6.0f);

    struct Decoded { std::string_view text; u32 codepoint; std::size_t next; };
    for (const Decoded& row : {Decoded{"A", 0x41, 1}, Decoded{"\xC3\xA9", 0xE9, 2}, Decoded{"\xE2\x80\x93", 0x2013, 3},
                               Decoded{"\xF0\x9F\x98\x80", 0x1F600, 4}, Decoded{"\xC3", 0x3F, 1},
                               Decoded{"\xED\xA0\x80", 0x3F, 1}, Decoded{"\x80" "A", 0x3F, 1}}) {
        std::size_t at = 0;
        EXPECT_EQ(nextCodepoint(row.text, at), row.codepoint) << row.text;
        EXPECT_EQ(at, row.next) << row.text;
    }

    // Laid out unscaled from a whole pixel: bearings, kerning, atlas corners; centred and right.
    QuadBatch batch(2);
    EXPECT_FLOAT_EQ(painter.draw(batch, "AV", 100.4f, 50.6f, 10.0f, TextAlign::left, {1, 1, 1, 1}), 10.0f);
    ASSERT_EQ(batch.quadCount(), 2u);
    const auto quad = [&](u32 i) { return batch.vertices().subspan(std::size_t{i} * 4, 4); };
    EXPECT_EQ(quad(0)[0].position, (render::Vec3{100.0f, 44.0f, 0.0f}));
    EXPECT_EQ(quad(0)[2].position, (render::Vec3{106.0f, 51.0f, 0.0f}));
    EXPECT_EQ(quad(1)[0].position, (render::Vec3{104.0f, 44.0f, 0.0f}));
    EXPECT_EQ(quad(1)[0].uv, (std::array<f32, 2>{60.0f / 256.0f, 20.0f / 64.0f}));
    EXPECT_EQ(quad(1)[2].uv, (std::array<f32, 2>{66.0f / 256.0f, 27.0f / 64.0f}));
    EXPECT_FALSE(batch.add({}, 0, 0, 0, 0, {}));  // full: refused and counted
    EXPECT_EQ(batch.refusedQuads(), 1u);
    EXPECT_EQ(std::vector<u32>(batch.indices().begin(), batch.indices().end()),
              (std::vector<u32>{0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7}));
    for (const TextAlign align : {TextAlign::centre, TextAlign::right}) {
        batch.clear();
        painter.draw(batch, "AV", 100.0f, 50.0f, 10.0f, align, {1, 1, 1, 1});
        EXPECT_EQ(quad(0)[0].position[0], align == TextAlign::centre ? 95.0f : 90.0f);
    }
}

// A session sampled once in the middle of each twentieth of a second for seven seconds (the
// five-second ring wraps): a snapshot each time, a command result every other time taking
// 40 ms plus a millisecond more each time, a playback step 100 ms behind, and corrections in
// the first half second only.
TEST(NetHistory, ReadsTheLastSecondAndTheNewestRoundTripsFromRunningTotals) {
    NetHistory history;
    NetSample sample;
    history.record(0.0, sample);
    EXPECT_FALSE(history.readout().online);
    sample.online = true;
    sample.roundTripP99Ms = 77.0;
    f64 tripTotal = 0.0;
    u32 column = 0;
    const auto run = [&](u32 columns) {
        for (u32 i = 0; i < columns; ++i, ++column) {
            if (column % 2 == 1) {
                ++sample.roundTrips;
                tripTotal += 40.0 + static_cast<f64>(sample.roundTrips);
                sample.roundTripAverageMs = tripTotal / static_cast<f64>(sample.roundTrips);
            }
            if (column < 10 && column % 3 == 0) ++sample.corrections;
            ++sample.snapshots;
            sample.interpolationDelayMsTotal += 100.0;
            ++sample.interpolationSteps;
            history.record((column + 0.5) * kNetColumnSeconds, sample);
        }
    };
    run(5);  // a young session is counted over the time it has had (the first sample is the baseline)
    EXPECT_DOUBLE_EQ(history.readout().snapshotsPerSecond, 4.0 / (5 * kNetColumnSeconds));
    run(5);
    EXPECT_EQ(history.readout().correctionsLastSecond, 3u);
    run(130);
    const NetReadout readout = history.readout();
    EXPECT_TRUE(readout.online && readout.hasRoundTrip);
    EXPECT_NEAR(readout.roundTripNowMs, 40.0 + static_cast<f64>(sample.roundTrips), 1e-6);
    EXPECT_EQ(readout.roundTripP99Ms, 77.0);
    EXPECT_DOUBLE_EQ(readout.snapshotsPerSecond, 20.0);
    EXPECT_NEAR(readout.interpolationDelayMs, 100.0, 1e-9);
    EXPECT_EQ(readout.correctionsLastSecond, 0u);
    // The graph: a trip every other column, the newest in the newest, the slowest the newest.
    EXPECT_FLOAT_EQ(history.roundTripMaxMs(), static_cast<f32>(40.0 + static_cast<f64>(sample.roundTrips)));
    for (u32 age = 0; age < kNetColumns; ++age) EXPECT_EQ(history.column(age).roundTrips, age % 2 == 0 ? 1u : 0u) << age;
    // A new session's totals start the history again.
    sample = {true, 1, 0, 0.0, 0.0, 0, 0.0, 0};
    history.record(8.0, sample);
    EXPECT_FALSE(history.readout().hasRoundTrip);
    EXPECT_EQ(history.roundTripMaxMs(), 0.0f);
}

TEST(Hud, CountsRoundsShowsBannersAndTogglesTheOverlay) {
    for (const u32 localSlot : {0u, 1u}) {
        Hud hud({"Ana", localSlot, false});
        EXPECT_EQ(hud.name(1), localSlot == 0 ? "Templar" : "Warrior");
        const auto traced = [&hud] {
            std::string line;
            hud.appendTrace(line);
            return line;
        };
        EXPECT_EQ(traced(), ",\"hud\":{\"score\":[0,0],\"round\":1,\"banner\":\"Round 1\",\"overlay\":false}");
        InputState keys;
        hud.update(keys, kRoundBannerSeconds - 0.01, {});
        EXPECT_EQ(hud.shown().banner, Banner::round);
        hud.update(keys, 0.02, {});
        EXPECT_EQ(hud.shown().banner, Banner::none);
        // The opponent falls: a round for the local side, "K.O." until the next one starts.
        const scene::SceneCue opponentDown{scene::CueKind::knockedDown, static_cast<u8>(1 - localSlot), 0, 0};
        hud.hear(std::span(&opponentDown, 1));
        hud.update(keys, 10.0, {});
        EXPECT_EQ(traced(), ",\"hud\":{\"score\":[1,0],\"round\":1,\"banner\":\"K.O.\",\"overlay\":false}");
        const scene::SceneCue next[] = {{scene::CueKind::roundStarted, scene::kNoCueSlot, 0, 0},
                                        {scene::CueKind::knockedDown, static_cast<u8>(localSlot), 0, 0},
                                        {scene::CueKind::roundStarted, scene::kNoCueSlot, 0, 0}};
        hud.hear(next);
        keys.keyPressed(kVirtualKeyF3, false);
        hud.update(keys, 0.5, {});
        EXPECT_EQ(traced(), ",\"hud\":{\"score\":[1,1],\"round\":3,\"banner\":\"Round 3\",\"overlay\":true,\"net\":"
                            "{\"online\":false,\"roundTripMs\":null,\"roundTripP99Ms\":0,\"snapshotsPerSecond\":0,"
                            "\"interpolationDelayMs\":0,\"correctionsLastSecond\":0}}");
        keys.beginFrame();  // held, not pressed again
        hud.update(keys, 0.1, {});
        EXPECT_TRUE(hud.shown().overlay);
    }
}

struct Box {
    f32 left, top, right, bottom;
};

// The HUD over a duel seen as the scene's camera sees it at the start: every quad inside the
// window, names readable, nothing over the fighters' bodies (feet to 2 m up, 0.5 m either
// side), text after the panels, on screen-space draw state.
TEST(Hud, DrawsInsideTheWindowAboveTheBodiesAtTheSmallestAndLargestSizes) {
    const render::Camera camera{{-1.25f, 3.15f, -7.25f}, {-1.25f, 1.05f, -0.45f}, {0, 1, 0}, 0.78f, 0.05f, 250.0f};
    std::array<scene::FighterView, 2> fighters{};
    fighters[0] = {false, 0.0, true, {-1.25f, 3.0f, -0.85f}};
    fighters[1] = {false, 0.9, true, {1.25f, 2.35f, 1.35f}};
    for (const auto& [width, height] : {std::pair{640u, 360u}, std::pair{2560u, 1440u}}) {
        DeviceFixture fixture;
        fixture.create();
        fixture.device.Resize(width, height);
        fixture.device.BeginFrame(camera, 0.0f);
        const render::Matrix4 viewProjection =
            render::multiply(fixture.device.viewMatrix(), fixture.device.projectionMatrix());
        const auto toScreen = [&](render::Vec3 p) {
            const render::Matrix4& m = viewProjection;
            const f32 x = p[0] * m[0] + p[1] * m[4] + p[2] * m[8] + m[12];
            const f32 y = p[0] * m[1] + p[1] * m[5] + p[2] * m[9] + m[13];
            const f32 w = p[0] * m[3] + p[1] * m[7] + p[2] * m[11] + m[15];
            return std::pair{(x / w + 1) * 0.5f * static_cast<f32>(width), (1 - y / w) * 0.5f * static_cast<f32>(height)};
        };
        std::vector<Box> bodies;
        for (const scene::FighterView& fighter : fighters) {
            Box box{1e9f, 1e9f, -1e9f, -1e9f};
            for (const f32 dx : {-0.5f, 0.5f}) {
                for (const f32 y : {0.0f, 2.0f}) {
                    const auto [sx, sy] = toScreen({fighter.barCentre[0] + dx, y, fighter.barCentre[2]});
                    box = {std::min(box.left, sx), std::min(box.top, sy), std::max(box.right, sx), std::max(box.bottom, sy)};
                }
            }
            bodies.push_back(box);
        }
        Hud hud({"Ana", 0, true});
        hud.useFont(testFont(), render::TextureHandle{7});
        const scene::SceneCue down{scene::CueKind::knockedDown, 1, 0, 0};
        hud.hear(std::span(&down, 1));
        const std::size_t before = fixture.backend->draws.size();
        hud.draw(fixture.device, camera, fighters);
        const auto& draws = fixture.backend->draws;
        ASSERT_EQ(draws.size(), before + 2) << width;
        const render::Matrix4& toClip = draws.back().constants.worldViewProjection;
        EXPECT_FLOAT_EQ(static_cast<f32>(width) * toClip[0] + toClip[12], 1.0f);
        EXPECT_FLOAT_EQ(static_cast<f32>(height) * toClip[5] + toClip[13], -1.0f);
        f32 smallestGlyph = 1e9f;
        for (std::size_t d = before; d < draws.size(); ++d) {
            EXPECT_EQ(draws[d].state.depth, render::DepthMode::disabled);
            EXPECT_EQ(draws[d].state.blend, render::BlendMode::alpha);
            for (std::size_t q = 0; q + 3 < draws[d].vertices.size(); q += 4) {
                const Box quad{draws[d].vertices[q].position[0], draws[d].vertices[q].position[1],
                               draws[d].vertices[q + 2].position[0], draws[d].vertices[q + 2].position[1]};
                EXPECT_TRUE(quad.left >= 0 && quad.top >= 0 && quad.right <= width && quad.bottom <= height)
                    << width << ": " << quad.left << "," << quad.top << " " << quad.right << "," << quad.bottom;
                for (const Box& body : bodies) {
                    EXPECT_TRUE(quad.right <= body.left || quad.left >= body.right || quad.bottom <= body.top ||
                                quad.top >= body.bottom)
                        << width << ": quad " << quad.left << "," << quad.top << " over a body";
                }
                if (d + 1 == draws.size()) smallestGlyph = std::min(smallestGlyph, quad.bottom - quad.top);
            }
        }
        // The smallest text is a '?' of the 12-pixel size at least: 7/10 of it.
        EXPECT_GE(smallestGlyph, 0.7f * 12.0f - 0.01f) << width;
    }
}

// Seen from the side of either class: each name over its own fighter, a lock's gauge that runs
// out with it and starts full again for the next lock, and the round-trip graph with the newest
// column on the right.
TEST(Hud, NamesItsFightersShowsLockGaugesAndGraphsTheNewestRoundTripsOnTheRight) {
    const render::Camera camera{{-1.25f, 3.15f, -7.25f}, {-1.25f, 1.05f, -0.45f}, {0, 1, 0}, 0.78f, 0.05f, 250.0f};
    DeviceFixture fixture;
    fixture.create();
    fixture.device.Resize(2560, 1440);
    fixture.device.BeginFrame(camera, 0.0f);
    const render::Matrix4 viewProjection = render::multiply(fixture.device.viewMatrix(), fixture.device.projectionMatrix());
    const auto toScreenX = [&](const render::Vec3& p) {
        const render::Matrix4& m = viewProjection;
        return (p[0] * m[0] + p[1] * m[4] + p[2] * m[8] + m[12]) / (p[0] * m[3] + p[1] * m[7] + p[2] * m[11] + m[15]);
    };
    const auto quads = [&](std::size_t draw) {
        std::vector<std::pair<Box, render::Color>> out;
        const auto& v = fixture.backend->draws[draw].vertices;
        for (std::size_t q = 0; q + 3 < v.size(); q += 4) {
            out.push_back({{v[q].position[0], v[q].position[1], v[q + 2].position[0], v[q + 2].position[1]}, v[q].color});
        }
        return out;
    };
    std::array<scene::FighterView, 2> fighters{};
    fighters[0] = {false, 0.0, true, {-1.25f, 3.0f, -0.85f}};
    fighters[1] = {false, 0.0, true, {1.25f, 2.35f, 1.35f}};
    for (const u32 localSlot : {0u, 1u}) {
        Hud hud({"Ana", localSlot, false});
        hud.useFont(testFont(), render::TextureHandle{7});
        hud.draw(fixture.device, camera, fighters);
        // Every character of these names but 'A' is the fallback glyph: a glyph and its shadow each.
        const auto glyphs = quads(fixture.backend->draws.size() - 1);
        for (u32 slot = 0; slot < 2; ++slot) {
            const f32 x = (toScreenX(fighters[slot].barCentre) + 1.0f) * 1280.0f;
            const std::size_t near = std::ranges::count_if(glyphs, [&](const auto& glyph) {
                return std::abs((glyph.first.left + glyph.first.right) * 0.5f - x) < 150.0f && glyph.first.top > 120.0f &&
                       glyph.first.bottom < 1000.0f && glyph.second[0] > 0.5f;
            });
            EXPECT_EQ(near, (slot == localSlot ? std::string_view("Ana") : className(slot)).size()) << localSlot << slot;
        }
    }
    // The templar locked for 0.9 s: a full gauge under its bar, half of it at 0.45 s, none
    // once it ended, a full one again for a shorter lock after it.
    Hud hud({"Ana", 0, false});
    const auto gaugeWidth = [&](f64 lockLeft) {
        fighters[1].lockSecondsLeft = lockLeft;
        hud.draw(fixture.device, camera, fighters);
        f32 width = 0.0f;
        for (const auto& [quad, color] : quads(fixture.backend->draws.size() - 1)) {
            if (color[0] == 0.3f && color[2] == 1.0f) width += quad.right - quad.left;
        }
        return width;
    };
    const f32 full = gaugeWidth(0.9);
    EXPECT_GT(full, 50.0f);
    EXPECT_NEAR(gaugeWidth(0.45), full * 0.5f, 0.01f);
    EXPECT_EQ(gaugeWidth(0.0), 0.0f);
    EXPECT_NEAR(gaugeWidth(0.3), full, 0.01f);
    // A slow round trip half a second in, a fast one at three seconds: the slow one's column is
    // the taller and further left.
    Hud overlay({"Ana", 0, true});
    InputState keys;
    overlay.update(keys, 0.0, {true, 0, 0, 0.0, 0.0, 0, 0.0, 0});
    overlay.update(keys, 0.5, {true, 0, 1, 300.0, 300.0, 0, 0.0, 0});
    overlay.update(keys, 2.5, {true, 0, 2, 165.0, 300.0, 0, 0.0, 0});
    fighters[1].lockSecondsLeft = 0.0;
    overlay.draw(fixture.device, camera, fighters);
    std::vector<Box> columns;
    for (const auto& [quad, color] : quads(fixture.backend->draws.size() - 1)) {
        if (quad.right - quad.left == 4.0f && quad.bottom - quad.top > 1.0f) columns.push_back(quad);
    }
    ASSERT_EQ(columns.size(), 2u);
    std::ranges::sort(columns, {}, &Box::left);
    EXPECT_GT(columns[1].top, columns[0].top);  // the newer, faster one is shorter, on the right
    EXPECT_NEAR(columns[1].left - columns[0].left, 4.0f * 50.0f, 4.0f);  // 2.5 s of 20 columns a second apart
    // The scale leaves room above the slowest: whole 50 ms past 1.2 times it, 400 ms for 300 ms.
    EXPECT_FLOAT_EQ(columns[0].bottom - columns[0].top, 96.0f * 300.0f / 400.0f);
}

}  // namespace
}  // namespace kestrune::hud
