#include "content/font_atlas.h"

#include <functional>
#include <stdexcept>

#include "base/byte_writer.h"
#include "content_test_support.h"

namespace kestrune::content {
namespace {

using namespace test;

constexpr const char* kSource = "fonts/f.kfnt";

// Files are written here field by field without any check, independently of the encoder,
// so the encoder's layout is compared with the format and hostile values can be written.
std::vector<std::byte> rawFile(const FontAtlas& f, u32 version = 1) {
    ByteWriter b;
    b.append("KFNT");
    b.u32le(version);
    b.u8le(static_cast<u8>(f.atlasImage.size()));
    b.append(f.atlasImage);
    for (const u16 v : {f.atlasWidth, f.atlasHeight}) b.u16le(v);
    b.u32le(static_cast<u32>(f.strikes.size()));
    for (const FontStrike& s : f.strikes) {
        for (const i32 v : std::initializer_list<i32>{s.pixelSize, s.ascender, s.descender, s.lineHeight}) b.u16le(static_cast<u16>(v));
        b.u32le(static_cast<u32>(s.glyphs.size()));
        b.u32le(static_cast<u32>(s.kerning.size()));
        for (const FontGlyph& g : s.glyphs) {
            b.u32le(g.codepoint);
            b.i32le(g.advance64);
            for (const i32 v : std::initializer_list<i32>{g.bearingX, g.bearingY, g.width, g.height, g.atlasX, g.atlasY}) {
                b.u16le(static_cast<u16>(v));
            }
        }
        for (const FontKerning& k : s.kerning) {
            b.u32le(k.left);
            b.u32le(k.right);
            b.i32le(k.adjust64);
        }
    }
    return b.release();
}

FontStrike strike(u16 pixelSize) {
    const u16 h = pixelSize;
    return {.pixelSize = pixelSize, .ascender = static_cast<i16>(h - 2), .descender = -3,
            .lineHeight = static_cast<u16>(h + 3),
            .glyphs = {{0x20, h * 20}, {0x3F, h * 40, 1, 9, 5, 9, 1, 1}, {0x41, h * 44, -1, 9, 8, 9, 7, 1},
                       {0x56, h * 44, 0, 9, 8, 9, 16, 1}, {0xE9, h * 42, 0, 12, 7, 12, 25, 1}},
            .kerning = {{0x41, 0x56, -64}, {0x56, 0x41, -32}, {0x56, 0xE9, -16}}};
}

FontAtlas sampleFont() { return {.atlasImage = "hud.png", .atlasWidth = 64, .atlasHeight = 32,
                                 .strikes = {strike(12), strike(24)}}; }

std::string fault(std::string_view text) { return std::string(kSource) + ": " + std::string(text); }
FontAtlas decode(std::span<const std::byte> bytes) { return decodeFontAtlas(bytes, kSource); }

TEST(FontAtlasCodec, RoundTripsFontsAtTheEdgesOfEveryLimit) {
    FontAtlas edges = sampleFont();
    edges.atlasImage = std::string(kMaxFontAtlasNameBytes - 4, 'n') + ".png";
    edges.atlasWidth = edges.atlasHeight = kMaxFontAtlasSide;
    FontStrike& last = edges.strikes.emplace_back(strike(kMaxFontPixelSize));
    last.glyphs.push_back({0x10FFFF, -7, -32768, 32767, 4095, 1, 1, kMaxFontAtlasSide - 1});
    last.glyphs.push_back({0xE000, 0, 0, 0, 0, 0, kMaxFontAtlasSide, kMaxFontAtlasSide});  // blank, at the corner
    std::swap(last.glyphs[5], last.glyphs[6]);
    edges.strikes.front().pixelSize = 1;
    // The most of everything a strike holds: 256 glyphs and every pair of them.
    FontStrike full = strike(kMaxFontPixelSize);
    full.pixelSize = 13;
    full.glyphs.resize(256);
    for (u32 i = 0; i < 256; ++i) full.glyphs[i].codepoint = 0x20 + i;
    full.kerning.clear();
    for (u32 i = 0; i < 65536; ++i) full.kerning.push_back({0x20 + i / 256, 0x20 + i % 256, static_cast<i32>(i) - 99});
    FontAtlas largest = sampleFont();
    largest.strikes.insert(largest.strikes.begin() + 1, full);

    for (const FontAtlas& font : {sampleFont(), edges, largest}) {
        SCOPED_TRACE(font.atlasImage);
        const std::vector<std::byte> file = encodeFontAtlas(font);
        EXPECT_EQ(file, rawFile(font));
        EXPECT_EQ(decode(file), font);
    }
}

// A file exactly at the size limit is read and refused for its content, one byte more
// for its size.
std::vector<std::byte> paddedTo(std::size_t sizeBytes) {
    std::vector<std::byte> file = rawFile(sampleFont());
    file.resize(sizeBytes, std::byte{0});
    return file;
}

using Edit = std::function<void(FontAtlas&)>;
FontGlyph& glyphOf(FontAtlas& f, std::size_t s, std::size_t g) { return f.strikes[s].glyphs[g]; }

// Every rule the decoder holds, each with the fonts just outside it. Rows of edits also go
// to the encoder, which must refuse the same font with the decoder's words.
TEST(FontAtlasDecoder, RefusesDamagedAndHostileFilesAndTheEncoderRefusesTheSameFonts) {
    const std::vector<std::byte> good = rawFile(sampleFont());
    const auto bytes = [&](std::size_t cut, std::string_view replaced = {}, std::size_t at = 0) {
        std::vector<std::byte> file(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        for (std::size_t i = 0; i < replaced.size(); ++i) file[at + i] = static_cast<std::byte>(replaced[i]);
        return file;
    };
    const struct { const char* name; std::vector<std::byte> file; std::string message; } files[] = {
        {"empty", {}, "not a Kestrune font (no \"KFNT\" magic)"},
        {"other magic", bytes(good.size(), "KFNU"), "not a Kestrune font (no \"KFNT\" magic)"},
        {"version 2", rawFile(sampleFont(), 2), "version 2; this build reads version 1"},
        {"at the size limit", paddedTo(kMaxFontFileBytes),
         std::to_string(kMaxFontFileBytes - good.size()) + " bytes after the last strike"},
        {"a byte over it", paddedTo(kMaxFontFileBytes + 1), "1048577 bytes; a font file holds at most 1048576"},
        {"trailing bytes", paddedTo(good.size() + 2), "2 bytes after the last strike"},
        {"cut in the name", bytes(12), "atlas image name at byte 9 is truncated"},
        {"cut in a strike header", bytes(24 + 3), "strike 0 ascender at byte 26 is truncated"},
        {"glyph records cut", bytes(24 + 16 + 99),
         "strike 0: 5 glyph records at byte 40 are truncated: they need 100 bytes, 99 follow"},
        {"kerning records cut", bytes(24 + 16 + 100 + 35),
         "strike 0: 3 kerning records at byte 140 are truncated: they need 36 bytes, 35 follow"},
    };
    for (const auto& c : files) {
        SCOPED_TRACE(c.name);
        expectError([&] { decode(c.file); }, fault(c.message));
    }

    const auto name = [](std::string text) { return Edit([=](FontAtlas& f) { f.atlasImage = text; }); };
    const struct { const char* name; Edit edit; const char* message; } edits[] = {
        {"name in a folder", name("fonts/hud.png"), "atlas image name \"fonts/hud.png\" is not a plain .png file name"},
        {"name with a backslash", name("a\\b.png"), "atlas image name \"a\\b.png\" is not a plain .png file name"},
        {"drive", name("C:hud.png"), "atlas image name \"C:hud.png\" is not a plain .png file name"},
        {"dots", name("a..png"), "atlas image name \"a..png\" is not a plain .png file name"},
        {"not .png", name("hud.bmp"), "atlas image name \"hud.bmp\" is not a plain .png file name"},
        {"extension alone", name(".png"), "atlas image name \".png\" is not a plain .png file name"},
        {"control byte", name("h\x01\x7F.png"), "atlas image name \"h??.png\" is not a plain .png file name"},
        {"name too long", name(std::string(61, 'n') + ".png"), "atlas image name of 65 bytes; names hold at most 64"},
        {"atlas width 0", [](FontAtlas& f) { f.atlasWidth = 0; }, "atlas of 0 x 32 pixels; each side must be 1 to 4096"},
        {"atlas height 4097", [](FontAtlas& f) { f.atlasHeight = 4097; },
         "atlas of 64 x 4097 pixels; each side must be 1 to 4096"},
        {"no strikes", [](FontAtlas& f) { f.strikes.clear(); }, "0 strikes; a font holds 1 to 16"},
        {"17 strikes", [](FontAtlas& f) { f.strikes.resize(17); }, "17 strikes; a font holds 1 to 16"},
        {"pixel size 0", [](FontAtlas& f) { f.strikes[0].pixelSize = 0; }, "strike 0: pixel size 0; sizes run 1 to 512"},
        {"pixel size 513", [](FontAtlas& f) { f.strikes[1].pixelSize = 513; },
         "strike 1: pixel size 513; sizes run 1 to 512"},
        {"strikes repeat", [](FontAtlas& f) { f.strikes[1].pixelSize = 12; },
         "strike 1: pixel size 12 after 12; strikes ascend without repeats"},
        {"strikes descend", [](FontAtlas& f) { f.strikes[1].pixelSize = 11; },
         "strike 1: pixel size 11 after 12; strikes ascend without repeats"},
        {"4097 glyphs", [](FontAtlas& f) { f.strikes[1].glyphs.resize(4097); },
         "strike 1: 4097 glyphs; a strike holds at most 4096"},
        {"65537 pairs", [](FontAtlas& f) { f.strikes[0].kerning.resize(65537); },
         "strike 0: 65537 kerning pairs; a strike holds at most 65536"},
        {"above U+10FFFF", [](FontAtlas& f) { glyphOf(f, 1, 4).codepoint = 0x110000; },
         "strike 1 glyph 4: U+110000 is not a Unicode scalar value"},
        {"first surrogate", [](FontAtlas& f) { glyphOf(f, 0, 4).codepoint = 0xD800; },
         "strike 0 glyph 4: U+D800 is not a Unicode scalar value"},
        {"last surrogate", [](FontAtlas& f) { glyphOf(f, 0, 4).codepoint = 0xDFFF; },
         "strike 0 glyph 4: U+DFFF is not a Unicode scalar value"},
        {"glyph repeated", [](FontAtlas& f) { glyphOf(f, 0, 3).codepoint = 0x41; },
         "strike 0 glyph 3: U+0041 after U+0041; glyphs ascend without repeats"},
        {"glyphs descend", [](FontAtlas& f) { glyphOf(f, 0, 1).codepoint = 0x1F; },
         "strike 0 glyph 1: U+001F after U+0020; glyphs ascend without repeats"},
        {"a pixel past the right edge", [](FontAtlas& f) { glyphOf(f, 1, 2).atlasX = 57; },
         "strike 1 glyph 2 (U+0041): 8 x 9 pixels at (57, 1) run outside the 64 x 32 atlas"},
        {"a pixel past the bottom", [](FontAtlas& f) { glyphOf(f, 0, 4).atlasY = 21; },
         "strike 0 glyph 4 (U+00E9): 7 x 12 pixels at (25, 21) run outside the 64 x 32 atlas"},
        {"an end that wraps 16 bits to 1", [](FontAtlas& f) { glyphOf(f, 0, 0) = {0x20, 0, 0, 0, 2, 1, 65535, 0}; },
         "strike 0 glyph 0 (U+0020): 2 x 1 pixels at (65535, 0) run outside the 64 x 32 atlas"},
        {"no fallback glyph", [](FontAtlas& f) { glyphOf(f, 1, 1).codepoint = 0x40; },
         "strike 1 (24 px) has no glyph for U+003F"},
        {"no space", [](FontAtlas& f) { glyphOf(f, 0, 0).codepoint = 0x21; }, "strike 0 (12 px) has no glyph for U+0020"},
        {"pairs descend", [](FontAtlas& f) { std::swap(f.strikes[0].kerning[0], f.strikes[0].kerning[1]); },
         "strike 0 kerning pair 1: (U+0041, U+0056) after (U+0056, U+0041); pairs ascend without repeats"},
        {"pair repeated", [](FontAtlas& f) { f.strikes[1].kerning[2].right = 0x41; },
         "strike 1 kerning pair 2: (U+0056, U+0041) after (U+0056, U+0041); pairs ascend without repeats"},
        {"unknown left", [](FontAtlas& f) { f.strikes[0].kerning[2].left = 0x57; },
         "strike 0 kerning pair 2 names U+0057, which the strike has no glyph for"},
        {"unknown right", [](FontAtlas& f) { f.strikes[0].kerning[2].right = 0xEA; },
         "strike 0 kerning pair 2 names U+00EA, which the strike has no glyph for"},
    };
    for (const auto& c : edits) {
        SCOPED_TRACE(c.name);
        FontAtlas font = sampleFont();
        c.edit(font);
        expectError([&] { decode(rawFile(font)); }, fault(c.message));
        expectError<std::invalid_argument>([&] { encodeFontAtlas(font); }, std::string("font encoding: ") + c.message);
    }
    FontAtlas unwritable = sampleFont();
    unwritable.atlasImage = std::string(300, 'n') + ".png";
    expectError<std::invalid_argument>([&] { encodeFontAtlas(unwritable); },
                                       "font encoding: atlas image name of 304 bytes; names hold at most 64");
}

// Every prefix is refused as cut short, naming the field or the records it cuts.
TEST(FontAtlasDecoder, RefusesEveryTruncationNamingWhatWasCut) {
    const std::vector<std::byte> file = rawFile(sampleFont());
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        SCOPED_TRACE(cut);
        const std::vector<std::byte> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        if (cut < 4) {
            expectError([&] { decode(prefix); }, fault("not a Kestrune font (no \"KFNT\" magic)"));
            continue;
        }
        EXPECT_THAT([&] { decode(prefix); }, ::testing::ThrowsMessage<ContentError>(::testing::AllOf(
                                                 ::testing::StartsWith(fault("")), ::testing::HasSubstr(" truncated"))));
    }
}

TEST(FontStrikeLookup, FindsPresentGlyphsAndPairsOnlyInTheirOwnOrder) {
    const FontStrike s = strike(16);
    for (const FontGlyph& g : s.glyphs) EXPECT_EQ(s.glyph(g.codepoint), &g);
    for (const u32 absent : {0x0u, 0x1Fu, 0x21u, 0x42u, 0xE8u, 0xEAu, 0x10FFFFu}) EXPECT_EQ(s.glyph(absent), nullptr);
    const struct { u32 left, right; i32 adjust64; } pairs[] = {
        {0x41, 0x56, -64}, {0x56, 0x41, -32}, {0x56, 0xE9, -16}, {0xE9, 0x56, 0}, {0x41, 0x41, 0},
        {0x41, 0xE9, 0}, {0x20, 0x20, 0}, {0xE9, 0xE9, 0}, {0x56, 0x57, 0}};
    for (const auto& p : pairs) EXPECT_EQ(s.kerningBetween(p.left, p.right), p.adjust64) << p.left << " " << p.right;
    EXPECT_EQ(FontStrike{}.glyph(0x20), nullptr);
    EXPECT_EQ(FontStrike{}.kerningBetween(0x41, 0x56), 0);
}

TEST(FontAtlasFile, LoadsWithinTheSizeLimitAndNamesThePathInEveryFault) {
    const ScratchDirectory scratch;
    EXPECT_EQ(loadFontAtlas(scratch.write("good.kfnt", encodeFontAtlas(sampleFont()))), sampleFont());
    const std::filesystem::path damaged = scratch.write("damaged.kfnt", rawFile(sampleFont(), 0));
    expectError([&] { loadFontAtlas(damaged); }, damaged.string() + ": version 0; this build reads version 1");
    const std::filesystem::path missing = scratch.file("missing.kfnt");
    expectError([&] { loadFontAtlas(missing); }, "cannot open font: " + missing.string());
    const std::filesystem::path big = scratch.write("big.kfnt", paddedTo(kMaxFontFileBytes + 1));
    expectError([&] { loadFontAtlas(big); }, "font exceeds configured file-size limit: " + big.string());
}

}  // namespace
}  // namespace kestrune::content
