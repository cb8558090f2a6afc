#pragma once
// The HUD's font: glyph bitmaps the baker rasterised into one atlas image, and the layout
// figures it measured (advances, bearings, kerning), at a few pixel sizes ("strikes") so
// text drawn at any window size is scaled little. The ".kfnt" file holds the figures and
// names the atlas PNG beside it (white, coverage in alpha). The decoder refuses anything
// damaged or hostile with a ContentError naming the file and the fault, as the model and
// image decoders do; a file it accepts can be drawn without further checks: every glyph's
// rectangle lies inside the atlas, every strike has the fallback glyph, every list is sorted.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace kestrune::content {

// The content paths of the HUD font, relative to the content directory.
inline constexpr std::string_view kHudFontPath = "fonts/hud.kfnt";
inline constexpr std::string_view kHudFontAtlasPath = "fonts/hud.png";

// Every strike has a glyph for U+003F, drawn for characters the font has none for, and U+0020.
inline constexpr u32 kFallbackCodepoint = 0x3F;

inline constexpr u64 kMaxFontFileBytes = 1024 * 1024;
inline constexpr u32 kMaxFontStrikes = 16;
inline constexpr u32 kMaxStrikeGlyphs = 4096;
inline constexpr u32 kMaxStrikeKerningPairs = 65536;
inline constexpr u32 kMaxFontAtlasSide = 4096;  // what every device takes
inline constexpr u32 kMaxFontPixelSize = 512;
// The atlas image's name: a plain file name ending ".png" of printable ASCII, without '/',
// '\\', ':' or "..", so it can only name a file beside the font's.
inline constexpr std::size_t kMaxFontAtlasNameBytes = 64;

struct FontGlyph {
    u32 codepoint = 0;
    i32 advance64 = 0;  // how far the pen moves, in 1/64 pixel
    i16 bearingX = 0;   // the bitmap's left edge right of the pen, pixels
    i16 bearingY = 0;   // the bitmap's top edge above the baseline, pixels
    u16 width = 0;      // the bitmap, pixels; 0 x 0 for a blank glyph
    u16 height = 0;
    u16 atlasX = 0;     // the bitmap's top-left corner in the atlas
    u16 atlasY = 0;

    friend bool operator==(const FontGlyph&, const FontGlyph&) = default;
};

struct FontKerning {
    u32 left = 0;
    u32 right = 0;
    i32 adjust64 = 0;  // added to the left glyph's advance when `right` follows it, 1/64 pixel

    friend bool operator==(const FontKerning&, const FontKerning&) = default;
};

struct FontStrike {
    u16 pixelSize = 0;   // the em, pixels
    i16 ascender = 0;    // pixels above the baseline
    i16 descender = 0;   // pixels below it, negative
    u16 lineHeight = 0;  // baseline to baseline, pixels
    std::vector<FontGlyph> glyphs;      // ascending, unique codepoints
    std::vector<FontKerning> kerning;   // ascending by (left, right), unique, both present in glyphs

    // The glyph for `codepoint`, or null when the strike has none.
    const FontGlyph* glyph(u32 codepoint) const noexcept;
    // The kerning between two glyphs in 1/64 pixel, 0 when the font names none.
    i32 kerningBetween(u32 left, u32 right) const noexcept;

    friend bool operator==(const FontStrike&, const FontStrike&) = default;
};

struct FontAtlas {
    std::string atlasImage;  // the PNG's file name, in the font file's folder
    u16 atlasWidth = 0;
    u16 atlasHeight = 0;
    std::vector<FontStrike> strikes;  // ascending, unique pixel sizes; at least one

    friend bool operator==(const FontAtlas&, const FontAtlas&) = default;
};

// The font of a whole .kfnt file's bytes. Throws ContentError "<sourceName>: <fault>".
FontAtlas decodeFontAtlas(std::span<const std::byte> bytes, std::string_view sourceName);

// Reads and decodes `path`; ContentError names the file by its narrow path.
FontAtlas loadFontAtlas(const std::filesystem::path& path);

// The file the decoder reads back to `font`; throws std::invalid_argument for a font it
// would refuse.
std::vector<std::byte> encodeFontAtlas(const FontAtlas& font);

}  // namespace kestrune::content
