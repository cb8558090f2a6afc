// Writes the fuzz seeds of the font decoder into the directory given as the only argument:
// the HUD font as the baker makes it (many strikes, glyphs and pairs), and two small fonts,
// one with the least a font holds and one with negative metrics and kerning.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

#include "content/font_atlas.h"
#include "font_baking.h"

using namespace kestrune;
using namespace kestrune::content;

namespace {

FontAtlas smallest() {
    FontAtlas font{.atlasImage = "a.png", .atlasWidth = 1, .atlasHeight = 1};
    font.strikes.push_back({.pixelSize = 1, .glyphs = {{0x20}, {0x3F}}});
    return font;
}

FontAtlas kerned() {
    FontAtlas font{.atlasImage = "hud.png", .atlasWidth = 32, .atlasHeight = 16};
    for (const u16 pixelSize : {8, 9}) {
        font.strikes.push_back({.pixelSize = pixelSize, .ascender = 7, .descender = -2, .lineHeight = 10,
                                .glyphs = {{0x20, 192}, {0x3F, 320, 0, 7, 4, 7, 1, 1}, {0x41, 384, -1, 7, 6, 7, 6, 1},
                                           {0x56, 384, 0, 7, 6, 7, 13, 1}, {0x2026, 512, 1, 1, 6, 1, 20, 8}},
                                .kerning = {{0x41, 0x56, -64}, {0x56, 0x41, -64}, {0x56, 0x2026, -32}}});
    }
    return font;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: font-fuzz-seeds <directory>\n");
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::filesystem::create_directories(directory);
    try {
        std::vector<std::pair<std::string, std::vector<std::byte>>> seeds = {
            {"smallest.kfnt", encodeFontAtlas(smallest())}, {"kerned.kfnt", encodeFontAtlas(kerned())}};
        for (baker::BakedFile& file : baker::bakeHudFont()) {
            if (file.path == kHudFontPath) seeds.emplace_back("hud.kfnt", std::move(file.bytes));
        }
        for (const auto& [name, bytes] : seeds) {
            std::ofstream out(directory / name, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            if (!out) {
                std::fprintf(stderr, "cannot write %s\n", (directory / name).string().c_str());
                return 1;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
