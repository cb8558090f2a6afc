#pragma once
// Glyph bitmaps and layout figures of an outline font at given pixel sizes. The Linux build
// rasterises with FreeType (8-bit anti-aliased coverage, the font's own hinting); the
// Windows build has no rasteriser and throws std::runtime_error saying where baked fonts
// come from. Failures name the font file.

#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "content/font_atlas.h"

namespace kestrune::baker {

struct FontSource {
    std::filesystem::path file;
    std::string_view package;  // the system package that installs the file, named when it is missing
};

struct RasterisedStrike {
    content::FontStrike strike;              // glyphs in the codepoints' order, atlas corners left at 0
    std::vector<std::vector<u8>> coverage;   // per glyph: width x height bytes, rows top to bottom
};

// Whether this build rasterises fonts; rasteriseFont throws std::runtime_error when it does not.
bool fontRasteriserAvailable() noexcept;

// One strike per pixel size, each with a glyph for every codepoint and the font's non-zero
// kerning between them (none when the font has no kerning table). Throws std::runtime_error
// when the file is missing or unreadable, or lacks a glyph for one of `codepoints`.
std::vector<RasterisedStrike> rasteriseFont(const FontSource& font, std::span<const u32> codepoints,
                                            std::span<const u16> pixelSizes);

}  // namespace kestrune::baker
