// The content directory this build baked, read back the way the program reads it: models
// through loadModelFile, textures through loadPngImage (libspng on Linux, WIC on Windows),
// sounds through loadWav, the HUD font through loadFontAtlas, each pinned to the digest its
// MANIFEST line gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "content/content_file.h"
#include "content/font_atlas.h"
#include "content/kmdl_reader.h"
#include "content/png.h"
#include "content/sha256.h"
#include "content/sound_catalogue.h"
#include "content/wav.h"
#include "effects/effect_catalogue.h"

namespace kestrune::content {
namespace {

const std::filesystem::path kContent = KESTRUNE_CONTENT_DIR;

struct ManifestEntry { std::string path; u64 sizeBytes = 0; std::string sha256; };

std::vector<ManifestEntry> readManifest() {
    std::ifstream in(kContent / "MANIFEST");
    std::vector<ManifestEntry> entries;
    // One line per file: path, size in bytes, SHA-256.
    for (ManifestEntry entry; in >> entry.path >> entry.sizeBytes >> entry.sha256;) entries.push_back(entry);
    return entries;
}

TEST(BakedContent, HoldsBothCharactersAndExactlyTheEffectFilesSoundsAndFontTheCataloguesName) {
    std::set<std::string> expected{"warrior/character.kmdl", "templar/character.kmdl", std::string(kHudFontPath),
                                   std::string(kHudFontAtlasPath)};
    for (const effects::ComponentTemplate& t : effects::componentTemplates()) {
        if (!t.modelPath.empty()) expected.insert("effects/" + std::string(t.modelPath));
        expected.insert("effects/" + std::string(t.texturePath));
    }
    for (const std::string_view path : kSoundPaths) expected.insert(std::string(path));
    ASSERT_EQ(expected.size(), 2u + 6u + 13u + kSoundCount + 2u);

    std::set<std::string> baked;
    for (const ManifestEntry& entry : readManifest()) {
        const bool character = entry.path.starts_with("warrior/") || entry.path.starts_with("templar/");
        if (!character || entry.path.ends_with(".kmdl")) baked.insert(entry.path);
    }
    EXPECT_EQ(baked, expected);
}

// Each file is loaded pinned to its MANIFEST digest, so the digest and size are checked too.
TEST(BakedContent, ManifestListsEveryFileSortedAndEachLoadsThroughTheRuntimeDecoders) {
    const std::vector<ManifestEntry> entries = readManifest();
    ASSERT_FALSE(entries.empty()) << "no MANIFEST in " << kContent.string();
    std::set<std::string> onDisk;
    for (const auto& item : std::filesystem::recursive_directory_iterator(kContent)) {
        if (item.is_regular_file()) onDisk.insert(std::filesystem::relative(item.path(), kContent).generic_string());
    }
    onDisk.erase("MANIFEST");
    std::set<std::string> listed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ManifestEntry& entry = entries[i];
        SCOPED_TRACE(entry.path);
        listed.insert(entry.path);
        if (i > 0) EXPECT_LT(entries[i - 1].path, entry.path);
        const std::filesystem::path path = kContent / entry.path;
        EXPECT_EQ(std::filesystem::file_size(path), entry.sizeBytes);
        EXPECT_EQ(entry.sha256.find_first_not_of("0123456789ABCDEF"), std::string::npos);  // upper-case hex
        if (entry.path.ends_with(".png")) {
            const DecodedImage image = loadPngImage(path, {.expectedSha256 = entry.sha256});
            EXPECT_GT(image.width, 0u);
            EXPECT_EQ(image.pixels.size(), std::size_t{image.stride} * image.height);
            continue;
        }
        if (entry.path.ends_with(".wav")) {
            // loadWav takes no digest: the bytes are hashed here, and decode as the file does.
            const std::vector<std::byte> bytes = readWholeFile(path, kMaxSoundFileBytes, ContentFileKind::Wav);
            EXPECT_EQ(toHexUpper(sha256Digest(bytes)), entry.sha256);
            const std::vector<i16> samples = loadWav(path);
            EXPECT_FALSE(samples.empty());
            EXPECT_EQ(samples, decodeWav(bytes, entry.path));
            continue;
        }
        if (entry.path.ends_with(".kfnt")) {  // hashed here too; the font suite below decodes it
            const std::vector<std::byte> bytes = readWholeFile(path, kMaxFontFileBytes, ContentFileKind::Font);
            EXPECT_EQ(toHexUpper(sha256Digest(bytes)), entry.sha256);
            continue;
        }
        ASSERT_TRUE(entry.path.ends_with(".kmdl"));
        const Model model = loadModelFile(path, {.expectedSha256 = entry.sha256});
        EXPECT_FALSE(model.meshes.empty());
        // Textures named by materials lie beside the model and decode too.
        for (const Material& material : model.materials) {
            if (material.texture.empty()) continue;
            EXPECT_GT(loadPngImage(path.parent_path() / material.texture, ImageLimits{}).width, 0u) << material.texture;
        }
    }
    EXPECT_EQ(listed, onDisk);
}

// Every character the HUD may print, at every size, alone in its rectangle of the atlas.
TEST(BakedFont, HasEveryCharacterAtEverySizeEachAloneInTheAtlas) {
    const FontAtlas font = loadFontAtlas(kContent / kHudFontPath);
    const DecodedImage atlas = loadPngImage((kContent / kHudFontPath).parent_path() / font.atlasImage, ImageLimits{});
    ASSERT_EQ(std::pair(atlas.width, atlas.height), std::pair(u32{font.atlasWidth}, u32{font.atlasHeight}));
    EXPECT_TRUE((atlas.width == 1024 || atlas.width == 2048) && std::has_single_bit(atlas.height) &&
                atlas.height <= 2048) << atlas.width << " x " << atlas.height;
    std::vector<u32> characters{0x2013, 0x2026};
    for (u32 c = 0x20; c <= 0xFF; ++c) if (c <= 0x7E || c >= 0xA0) characters.push_back(c);

    // The coverage summed over part of a glyph's rectangle, from (x0, y0) to before (x1, y1).
    const auto ink = [&](const FontGlyph& g, u32 x0, u32 y0, u32 x1, u32 y1) {
        u32 sum = 0;
        for (u32 y = g.atlasY + y0; y < g.atlasY + y1; ++y) {
            for (u32 x = g.atlasX + x0; x < g.atlasX + x1; ++x) sum += atlas.pixels[(y * atlas.width + x) * 4 + 3];
        }
        return sum;
    };
    // A glyph's rectangle and the column right of it and row below it meet no other glyph's: with
    // a free first row and column, each has a pixel of space all round. Other pixels are clear.
    std::vector<u8> owners(std::size_t{atlas.width} * atlas.height, 0);
    for (std::size_t s = 0; s < font.strikes.size(); ++s) {
        const FontStrike& strike = font.strikes[s];
        SCOPED_TRACE(strike.pixelSize);
        EXPECT_TRUE(strike.ascender > 0 && strike.descender < 0) << strike.ascender << " " << strike.descender;
        EXPECT_NEAR(strike.lineHeight, strike.ascender - strike.descender, 1);  // each rounded on its own
        if (strike.pixelSize >= 16) EXPECT_LT(strike.kerningBetween('A', 'V'), 0);
        for (const u32 c : characters) {
            const FontGlyph* glyph = strike.glyph(c);
            ASSERT_NE(glyph, nullptr) << c;
            // Hinted advances are whole pixels, between a fifth of the em (the space) and one and a half.
            EXPECT_TRUE(glyph->advance64 % 64 == 0 && glyph->advance64 >= 64 * strike.pixelSize / 5 &&
                        glyph->advance64 <= 96 * strike.pixelSize) << c << ": " << glyph->advance64;
            if (s > 0) EXPECT_GT(glyph->advance64, font.strikes[s - 1].glyph(c)->advance64) << c;
            EXPECT_EQ(glyph->width == 0, c == 0x20 || c == 0xA0) << c;
            EXPECT_EQ(ink(*glyph, 0, 0, glyph->width, glyph->height) > 0, glyph->width > 0) << c;
            if (glyph->width == 0) continue;
            const u32 right = u32{glyph->atlasX} + glyph->width, bottom = u32{glyph->atlasY} + glyph->height;
            ASSERT_TRUE(glyph->atlasX >= 1 && glyph->atlasY >= 1 && right < atlas.width && bottom < atlas.height) << c;
            for (u32 y = glyph->atlasY; y <= bottom; ++y) {
                for (u32 x = glyph->atlasX; x <= right; ++x) {
                    ASSERT_EQ(owners[std::size_t{y} * atlas.width + x], 0) << c << " at " << x << ", " << y;
                    owners[std::size_t{y} * atlas.width + x] = x < right && y < bottom ? 2 : 1;
                }
            }
        }
        // Bitmaps stand upright, unmirrored: T's ink is mostly in its upper half, L's in its left.
        const FontGlyph& t = *strike.glyph('T');
        const FontGlyph& l = *strike.glyph('L');
        EXPECT_GT(ink(t, 0, 0, t.width, t.height / 2u), ink(t, 0, (t.height + 1u) / 2u, t.width, t.height));
        EXPECT_GT(ink(l, 0, 0, l.width / 2u, l.height), ink(l, (l.width + 1u) / 2u, 0, l.width, l.height));
    }
    for (std::size_t i = 0; i < owners.size(); ++i) {
        ASSERT_EQ(atlas.pixels[i * 4] & atlas.pixels[i * 4 + 1] & atlas.pixels[i * 4 + 2], 255) << i;
        if (owners[i] != 2) ASSERT_EQ(atlas.pixels[i * 4 + 3], 0) << "pixel " << i;
    }
}

}  // namespace
}  // namespace kestrune::content
