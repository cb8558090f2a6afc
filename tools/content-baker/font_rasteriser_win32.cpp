// The Windows build links no FreeType: its content, fonts included, is baked by a Linux
// host build of kestrune-bake, and a player's own bake copies the fonts from a package.
#include <stdexcept>

#include "font_rasteriser.h"

namespace kestrune::baker {

std::vector<RasterisedStrike> rasteriseFont(const FontSource&, std::span<const u32>, std::span<const u16>) {
    throw std::runtime_error(
        "Fonts are rasterised by the Linux build of kestrune-bake (FreeType); copy fonts/ from a packaged content "
        "folder.");
}

}  // namespace kestrune::baker
