#pragma once
// The HUD's font: DejaVu Sans Bold rasterised at a few pixel sizes into content::kHudFontPath
// and its atlas content::kHudFontAtlasPath (white, coverage in alpha). The glyphs are packed
// in shelves with a pixel of empty space around each, in an atlas 1024 or 2048 wide and a
// power of two high. The same font file and FreeType give the same bytes on every run.

#include <array>
#include <vector>

#include "bake.h"
#include "base/types.h"
#include "font_rasteriser.h"

namespace kestrune::baker {

inline constexpr const char* kHudFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
inline constexpr const char* kHudFontPackage = "fonts-dejavu-core";  // Debian's, which installs kHudFontFile
inline constexpr std::array<u16, 8> kHudPixelSizes{12, 16, 22, 30, 40, 54, 72, 96};

// Printable ASCII, the upper half of Latin-1, the en dash and the ellipsis, ascending.
std::vector<u32> hudCharacters();

// The font file and its atlas from `source`, at kHudPixelSizes. Throws std::runtime_error
// when the font cannot be rasterised (see rasteriseFont) or its glyphs fit no atlas of at
// most 2048 x 2048.
std::vector<BakedFile> bakeFont(const FontSource& source);

// bakeFont of kHudFontFile.
std::vector<BakedFile> bakeHudFont();

}  // namespace kestrune::baker
