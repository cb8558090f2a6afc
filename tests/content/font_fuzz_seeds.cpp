// Writes the fuzz seeds of the font decoder into the directory given as the only argument:
// the HUD font as the baker makes it, and the least a font holds, without and with kerning.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "content/font_atlas.h"
#include "font_baking.h"

using namespace kestrune::content;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: font-fuzz-seeds <directory>\n");
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::filesystem::create_directories(directory);
    const std::vector<kestrune::baker::BakedFile> baked = kestrune::baker::bakeHudFont();
    const FontAtlas least{.atlasImage = "a.png", .atlasWidth = 1, .atlasHeight = 1,
                          .strikes = {{.pixelSize = 1, .glyphs = {{0x20}, {0x3F}}}}};
    FontAtlas kerned = least;
    kerned.strikes[0].kerning = {{0x20, 0x3F, -64}};
    const std::pair<const char*, std::vector<std::byte>> seeds[] = {
        {"hud.kfnt", baked.at(0).bytes}, {"least.kfnt", encodeFontAtlas(least)},
        {"kerned.kfnt", encodeFontAtlas(kerned)}};
    for (const auto& [name, bytes] : seeds) {
        std::ofstream out(directory / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + (directory / name).string());
    }
    return 0;
}
