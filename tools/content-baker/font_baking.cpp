#include "font_baking.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>

#include "content/font_atlas.h"
#include "content/png_writer.h"

namespace kestrune::baker {
namespace {

// Empty pixels between glyphs and along the atlas's edges: a bilinear sample at a glyph's
// border reads nothing of its neighbour.
constexpr u32 kPaddingPixels = 1;
constexpr std::array<u32, 2> kAtlasWidths{1024, 2048};
constexpr u32 kMaxAtlasHeight = 2048;
constexpr u8 kWhite = 255;
constexpr std::size_t kRgbaBytes = 4;
static_assert(kAtlasWidths.back() <= content::kMaxFontAtlasSide && kMaxAtlasHeight <= content::kMaxFontAtlasSide,
              "every atlas the baker makes is one the decoder takes");

constexpr std::string_view folderOf(std::string_view path) { return path.substr(0, path.rfind('/')); }
static_assert(folderOf(content::kHudFontPath) == folderOf(content::kHudFontAtlasPath),
              "the font file names its atlas as a file beside it");

struct Slot {
    std::size_t strike = 0;
    std::size_t glyph = 0;
    u32 width = 0;
    u32 height = 0;
};

struct Packing {
    u32 width = 0;
    u32 height = 0;                  // a power of two; above kMaxAtlasHeight when it does not fit
    std::vector<std::array<u32, 2>> corners;  // per slot, top-left
};

// Shelves (rows) filled left to right with the slots in their order, tallest first, so a
// shelf is as high as its first glyph.
Packing packShelves(std::span<const Slot> slots, u32 widthPixels) {
    Packing packing{.width = widthPixels, .height = 0, .corners = {}};
    u32 x = kPaddingPixels;
    u32 shelfTop = kPaddingPixels;
    u32 shelfHeight = 0;
    for (const Slot& slot : slots) {
        if (slot.width + 2 * kPaddingPixels > widthPixels) return {.width = widthPixels, .height = ~0u, .corners = {}};
        if (x + slot.width + kPaddingPixels > widthPixels) {
            shelfTop += shelfHeight + kPaddingPixels;
            x = kPaddingPixels;
            shelfHeight = 0;
        }
        packing.corners.push_back({x, shelfTop});
        x += slot.width + kPaddingPixels;
        shelfHeight = std::max(shelfHeight, slot.height);
    }
    packing.height = std::bit_ceil(shelfTop + shelfHeight + kPaddingPixels);
    return packing;
}

// Places every glyph with pixels (blank ones keep the corner 0, 0) in the smaller of the
// atlases that fit, and draws them: white everywhere, coverage in alpha.
std::vector<u8> packAtlas(const std::vector<RasterisedStrike>& rasterised, content::FontAtlas& font) {
    std::vector<Slot> slots;
    for (std::size_t s = 0; s < rasterised.size(); ++s) {
        const std::vector<content::FontGlyph>& glyphs = rasterised[s].strike.glyphs;
        for (std::size_t g = 0; g < glyphs.size(); ++g) {
            if (glyphs[g].width > 0 && glyphs[g].height > 0) slots.push_back({s, g, glyphs[g].width, glyphs[g].height});
        }
    }
    // Every key is distinct, so the order, and with it the atlas, is the same on every run.
    std::sort(slots.begin(), slots.end(), [](const Slot& a, const Slot& b) {
        return std::tuple(b.height, b.width, a.strike, a.glyph) < std::tuple(a.height, a.width, b.strike, b.glyph);
    });
    std::optional<Packing> best;
    for (const u32 width : kAtlasWidths) {
        Packing packing = packShelves(slots, width);
        if (packing.height > kMaxAtlasHeight) continue;
        if (!best || u64{packing.width} * packing.height < u64{best->width} * best->height) best = std::move(packing);
    }
    if (!best) throw std::runtime_error("The font's glyphs fit no atlas of at most 2048 x 2048 pixels.");

    font.atlasWidth = static_cast<u16>(best->width);
    font.atlasHeight = static_cast<u16>(best->height);
    std::vector<u8> rgba(std::size_t{best->width} * best->height * kRgbaBytes, kWhite);
    for (std::size_t i = 3; i < rgba.size(); i += kRgbaBytes) rgba[i] = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const Slot& slot = slots[i];
        const auto [x, y] = best->corners[i];
        content::FontGlyph& glyph = font.strikes[slot.strike].glyphs[slot.glyph];
        glyph.atlasX = static_cast<u16>(x);
        glyph.atlasY = static_cast<u16>(y);
        const std::vector<u8>& coverage = rasterised[slot.strike].coverage[slot.glyph];
        for (u32 row = 0; row < slot.height; ++row) {
            for (u32 column = 0; column < slot.width; ++column) {
                const std::size_t pixel = std::size_t{y + row} * best->width + x + column;
                rgba[pixel * kRgbaBytes + 3] = coverage[std::size_t{row} * slot.width + column];
            }
        }
    }
    return rgba;
}

}  // namespace

std::vector<u32> hudCharacters() {
    std::vector<u32> characters;
    for (u32 c = 0x20; c <= 0x7E; ++c) characters.push_back(c);
    for (u32 c = 0xA0; c <= 0xFF; ++c) characters.push_back(c);
    characters.push_back(0x2013);  // en dash
    characters.push_back(0x2026);  // horizontal ellipsis
    return characters;
}

std::vector<BakedFile> bakeFont(const FontSource& source) {
    const std::vector<RasterisedStrike> rasterised = rasteriseFont(source, hudCharacters(), kHudPixelSizes);
    const std::string_view atlasPath = content::kHudFontAtlasPath;
    content::FontAtlas font;
    font.atlasImage = std::string(atlasPath.substr(atlasPath.rfind('/') + 1));
    for (const RasterisedStrike& r : rasterised) font.strikes.push_back(r.strike);
    const std::vector<u8> rgba = packAtlas(rasterised, font);
    return {{std::string(content::kHudFontPath), content::encodeFontAtlas(font)},
            {std::string(atlasPath),
             content::encodePng(font.atlasWidth, font.atlasHeight, content::PngPixels::rgba8, rgba)}};
}

std::vector<BakedFile> bakeHudFont() { return bakeFont({kHudFontFile, kHudFontPackage}); }

}  // namespace kestrune::baker
