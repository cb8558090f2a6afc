// The Windows build links no FreeType: its content, fonts included, is baked by a Linux
// host build of kestrune-bake, and a player's own bake leaves the fonts out (bakeContent).
#include <stdexcept>

#include "font_rasteriser.h"

namespace kestrune::baker {

bool fontRasteriserAvailable() noexcept { return false; }

std::vector<RasterisedStrike> rasteriseFont(const FontSource&, std::span<const u32>, std::span<const u16>) {
    throw std::runtime_error(
        "Fonts are rasterised by the Linux build of kestrune-bake (FreeType); copy fonts/ from a packaged content "
        "folder.");
}

}  // namespace kestrune::baker
