#include "content/font_atlas.h"

#include <functional>
#include <stdexcept>

#include "base/byte_writer.h"
#include "content_test_support.h"

namespace kestrune::content {
namespace {

using namespace test;

constexpr const char* kSource = "fonts/f.kfnt";

// Field by field, unchecked and apart from the encoder: its layout is compared with this, and hostile files are made.
std::vector<std::byte> rawFile(const FontAtlas& f, u32 version = 1) {
    ByteWriter b;
    b.append("KFNT");
    b.u32le(version);
    b.u8le(static_cast<u8>(f.atlasImage.size()));
    b.append(f.atlasImage);
    const auto u16s = [&](std::initializer_list<i32> values) { for (i32 v : values) b.u16le(static_cast<u16>(v)); };
    u16s({f.atlasWidth, f.atlasHeight});
    b.u32le(static_cast<u32>(f.strikes.size()));
    for (const FontStrike& s : f.strikes) {
        u16s({s.pixelSize, s.ascender, s.descender, s.lineHeight});
        for (const std::size_t count : {s.glyphs.size(), s.kerning.size()}) b.u32le(static_cast<u32>(count));
        for (const FontGlyph& g : s.glyphs) {
            for (const u32 v : {g.codepoint, static_cast<u32>(g.advance64)}) b.u32le(v);
            u16s({g.bearingX, g.bearingY, g.width, g.height, g.atlasX, g.atlasY});
        }
        for (const FontKerning& k : s.kerning) {
            for (const u32 v : {k.left, k.right, static_cast<u32>(k.adjust64)}) b.u32le(v);
        }
    }
    return b.release();
}

FontStrike strike(u16 h) {
    return {.pixelSize = h, .ascender = static_cast<i16>(h - 2), .descender = -3, .lineHeight = static_cast<u16>(h + 3),
            .glyphs = {{0x20, h * 20}, {0x3F, h * 40, 1, 9, 5, 9, 1, 1}, {0x41, h * 44, -1, 9, 8, 9, 7, 1},
                       {0x56, h * 44, 0, 9, 8, 9, 16, 1}, {0xE9, h * 42, 0, 12, 7, 12, 25, 1}},
            .kerning = {{0x41, 0x56, -64}, {0x56, 0x41, -32}, {0x56, 0xE9, -16}}};
}

FontAtlas sampleFont() {
    return {.atlasImage = "hud.png", .atlasWidth = 64, .atlasHeight = 32, .strikes = {strike(12), strike(24)}};
}

std::string fault(std::string_view text) { return std::string(kSource) + ": " + std::string(text); }
FontAtlas decode(std::span<const std::byte> bytes) { return decodeFontAtlas(bytes, kSource); }

TEST(FontAtlasCodec, RoundTripsFontsAtTheEdgesOfEveryLimit) {
    FontAtlas edges = sampleFont();
    edges.atlasImage = std::string(kMaxFontAtlasNameBytes - 4, 'n') + ".png";
    edges.atlasWidth = edges.atlasHeight = kMaxFontAtlasSide;
    FontStrike& last = edges.strikes.emplace_back(strike(kMaxFontPixelSize));
    last.glyphs.push_back({0xE000, 0, 0, 0, 0, 0, kMaxFontAtlasSide, kMaxFontAtlasSide});  // blank, at the corner
    last.glyphs.push_back({0x10FFFF, -7, -32768, 32767, 4095, 1, 1, kMaxFontAtlasSide - 1});
    edges.strikes.front().pixelSize = 1;
    FontStrike full{.pixelSize = 13, .glyphs = std::vector<FontGlyph>(256)};  // the most a strike holds
    for (u32 i = 0; i < 65536; ++i) {
        full.glyphs[i % 256].codepoint = 0x20 + i % 256;
        full.kerning.push_back({0x20 + i / 256, 0x20 + i % 256, static_cast<i32>(i) - 99});  // every pair
    }
    edges.strikes.insert(edges.strikes.begin() + 1, full);

    for (const FontAtlas& font : {sampleFont(), edges}) {
        const std::vector<std::byte> file = encodeFontAtlas(font);
        EXPECT_EQ(file, rawFile(font));
        EXPECT_EQ(decode(file), font);
    }
}

std::vector<std::byte> paddedTo(std::size_t sizeBytes) {
    std::vector<std::byte> file = rawFile(sampleFont());
    file.resize(sizeBytes, std::byte{0});
    return file;
}

using Edit = std::function<void(FontAtlas&)>;
FontGlyph& glyphOf(FontAtlas& f, std::size_t s, std::size_t g) { return f.strikes[s].glyphs[g]; }
Edit codepoint(std::size_t s, std::size_t g, u32 c) { return [=](FontAtlas& f) { glyphOf(f, s, g).codepoint = c; }; }
Edit pair(std::size_t s, std::size_t k, u32 l, u32 r) {
    return [=](FontAtlas& f) { f.strikes[s].kerning[k] = {l, r, 1}; };
}

// Every rule the decoder holds, each with the fonts just outside it. Rows of edits also go
// to the encoder, which must refuse the same font with the decoder's words.
TEST(FontAtlasDecoder, RefusesDamagedHostileAndCutFilesAndTheEncoderRefusesTheSameFonts) {
    const std::vector<std::byte> good = rawFile(sampleFont());
    const auto bytes = [&](std::size_t cut) { return std::vector(good.begin(), good.begin() + std::ptrdiff_t(cut)); };
    const struct { const char* name; std::vector<std::byte> file; std::string message; } files[] = {
        {"empty", {}, "not a Kestrune font (no \"KFNT\" magic)"},
        {"other magic", bytesOf("KFNU"), "not a Kestrune font (no \"KFNT\" magic)"},
        {"version 2", rawFile(sampleFont(), 2), "version 2; this build reads version 1"},
        {"at the size limit", paddedTo(kMaxFontFileBytes),
         std::to_string(kMaxFontFileBytes - good.size()) + " bytes after the last strike"},
        {"a byte over it", paddedTo(kMaxFontFileBytes + 1), "1048577 bytes; a font file holds at most 1048576"},
        {"trailing bytes", paddedTo(good.size() + 2), "2 bytes after the last strike"},
        {"cut in a strike header", bytes(24 + 3), "strike 0 ascender at byte 26 is truncated"},
        {"glyph records cut", bytes(24 + 16 + 99),
         "strike 0: 5 glyph records at byte 40 are truncated: they need 100 bytes, 99 follow"},
    };
    for (const auto& c : files) expectError([&] { decode(c.file); }, fault(c.message), c.name);
    // Every prefix is refused as cut short, naming the field or the records it cuts.
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        const char* cutShort = cut < 4 ? "no \"KFNT\" magic" : " truncated";
        EXPECT_THAT([&] { decode(bytes(cut)); },
                    ::testing::ThrowsMessage<ContentError>(::testing::HasSubstr(cutShort))) << cut;
    }

    const auto name = [](std::string text) { return Edit([=](FontAtlas& f) { f.atlasImage = text; }); };
    const auto notPlain = [](std::string t) { return "atlas image name \"" + t + "\" is not a plain .png file name"; };
    const struct { const char* name; Edit edit; std::string message; } edits[] = {
        {"folder", name("f/hud.png"), notPlain("f/hud.png")}, {"backslash", name("a\\b.png"), notPlain("a\\b.png")},
        {"drive", name("C:hud.png"), notPlain("C:hud.png")}, {"dots", name("a..png"), notPlain("a..png")},
        {"not .png", name("hud.bmp"), notPlain("hud.bmp")}, {"extension alone", name(".png"), notPlain(".png")},
        {"control bytes", name("h\x01\x7F.png"), notPlain("h??.png")},
        {"name too long", name(std::string(61, 'n') + ".png"), "atlas image name of 65 bytes; names hold at most 64"},
        {"atlas width 0", [](auto& f) { f.atlasWidth = 0; }, "atlas of 0 x 32 pixels; each side must be 1 to 4096"},
        {"4097 high", [](auto& f) { f.atlasHeight = 4097; }, "atlas of 64 x 4097 pixels; each side must be 1 to 4096"},
        {"no strikes", [](auto& f) { f.strikes.clear(); }, "0 strikes; a font holds 1 to 16"},
        {"17 strikes", [](auto& f) { f.strikes.resize(17); }, "17 strikes; a font holds 1 to 16"},
        {"pixel size 0", [](auto& f) { f.strikes[0].pixelSize = 0; }, "strike 0: pixel size 0; sizes run 1 to 512"},
        {"size 513", [](auto& f) { f.strikes[1].pixelSize = 513; }, "strike 1: pixel size 513; sizes run 1 to 512"},
        {"strikes repeat", [](auto& f) { f.strikes[1].pixelSize = 12; },
         "strike 1: pixel size 12 after 12; strikes ascend without repeats"},
        {"4097 glyphs", [](auto& f) { f.strikes[1].glyphs.resize(4097); },
         "strike 1: 4097 glyphs; a strike holds at most 4096"},
        {"65537 pairs", [](auto& f) { f.strikes[0].kerning.resize(65537); },
         "strike 0: 65537 kerning pairs; a strike holds at most 65536"},
        {"above U+10FFFF", codepoint(1, 4, 0x110000), "strike 1 glyph 4: U+110000 is not a Unicode scalar value"},
        {"first surrogate", codepoint(0, 4, 0xD800), "strike 0 glyph 4: U+D800 is not a Unicode scalar value"},
        {"glyph again", codepoint(0, 3, 0x41), "strike 0 glyph 3: U+0041 after U+0041; glyphs ascend without repeats"},
        {"a pixel past the right edge", [](auto& f) { glyphOf(f, 1, 2).atlasX = 57; },
         "strike 1 glyph 2 (U+0041): 8 x 9 pixels at (57, 1) run outside the 64 x 32 atlas"},
        {"a pixel past the bottom", [](auto& f) { glyphOf(f, 0, 4).atlasY = 21; },
         "strike 0 glyph 4 (U+00E9): 7 x 12 pixels at (25, 21) run outside the 64 x 32 atlas"},
        {"an end that wraps 16 bits to 1", [](auto& f) { glyphOf(f, 0, 0) = {0x20, 0, 0, 0, 2, 1, 65535, 0}; },
         "strike 0 glyph 0 (U+0020): 2 x 1 pixels at (65535, 0) run outside the 64 x 32 atlas"},
        {"no fallback", codepoint(1, 1, 0x40), "strike 1 (24 px) has no glyph for U+003F"},
        {"no space", codepoint(0, 0, 0x21), "strike 0 (12 px) has no glyph for U+0020"},
        {"pair repeated", pair(1, 2, 0x56, 0x41),
         "strike 1 kerning pair 2: (U+0056, U+0041) after (U+0056, U+0041); pairs ascend without repeats"},
        {"no left", pair(0, 2, 0x57, 0xE9), "strike 0 kerning pair 2 names U+0057, which the strike has no glyph for"},
        {"no right", pair(0, 2, 0x56, 0xEA), "strike 0 kerning pair 2 names U+00EA, which the strike has no glyph for"},
    };
    for (const auto& c : edits) {
        SCOPED_TRACE(c.name);
        FontAtlas font = sampleFont();
        c.edit(font);
        expectError([&] { decode(rawFile(font)); }, fault(c.message));
        expectError<std::invalid_argument>([&] { encodeFontAtlas(font); }, std::string("font encoding: ") + c.message);
    }
    expectError<std::invalid_argument>([] { encodeFontAtlas({.atlasImage = std::string(300, 'n') + ".png"}); },
                                       "font encoding: atlas image name of 304 bytes; names hold at most 64");
}

TEST(FontStrikeLookup, FindsPresentGlyphsAndPairsOnlyInTheirOwnOrder) {
    const FontStrike s = strike(16);
    for (const u32 absent : {0x0u, 0x1Fu, 0x21u, 0x42u, 0xE8u, 0xEAu, 0x10FFFFu}) EXPECT_EQ(s.glyph(absent), nullptr);
    const struct { u32 left, right; i32 adjust64; } pairs[] = {{0x41, 0x56, -64}, {0x56, 0x41, -32}, {0x56, 0xE9, -16},
        {0xE9, 0x56, 0}, {0x41, 0x41, 0}, {0x41, 0xE9, 0}, {0x20, 0x20, 0}, {0xE9, 0xE9, 0}, {0x56, 0x57, 0}};
    for (const auto& p : pairs) EXPECT_EQ(s.kerningBetween(p.left, p.right), p.adjust64) << p.left << " " << p.right;
}

TEST(FontAtlasFile, NamesThePathInEveryFaultAndRefusesFilesOverTheLimitUnread) {
    const ScratchDirectory scratch;
    const std::filesystem::path damaged = scratch.write("damaged.kfnt", rawFile(sampleFont(), 0));
    expectError([&] { loadFontAtlas(damaged); }, damaged.string() + ": version 0; this build reads version 1");
    const std::filesystem::path big = scratch.write("big.kfnt", paddedTo(kMaxFontFileBytes + 1));
    expectError([&] { loadFontAtlas(big); }, "font exceeds configured file-size limit: " + big.string());
}

}  // namespace
}  // namespace kestrune::content
