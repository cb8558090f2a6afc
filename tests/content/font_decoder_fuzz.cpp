// libFuzzer target: decodeFontAtlas over any bytes throws ContentError or returns a font drawable unchecked (glyphs
// inside the atlas and found, the fallback and space in every strike, pairs found) that encodes back to the input.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "content/font_atlas.h"
#include "content/model.h"

using namespace kestrune;
using namespace kestrune::content;

namespace {

bool drawable(const FontAtlas& font) {
    bool ok = !font.strikes.empty();
    for (const FontStrike& s : font.strikes) {
        ok = ok && s.glyph(kFallbackCodepoint) && s.glyph(0x20);
        for (const FontGlyph& g : s.glyphs) {
            ok = ok && g.atlasX + g.width <= font.atlasWidth && g.atlasY + g.height <= font.atlasHeight &&
                 s.glyph(g.codepoint) == &g;
        }
        for (const FontKerning& k : s.kerning) {
            ok = ok && s.kerningBetween(k.left, k.right) == k.adjust64 && s.glyph(k.left) && s.glyph(k.right);
        }
    }
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    FontAtlas font;
    try {
        font = decodeFontAtlas(bytes, "fuzz.kfnt");
    } catch (const ContentError&) {
        return 0;
    }
    if (!drawable(font)) {
        std::fprintf(stderr, "decoded font breaks a promise of the decoder\n");
        std::abort();
    }
    const std::vector<std::byte> rewritten = encodeFontAtlas(font);
    if (!std::equal(rewritten.begin(), rewritten.end(), bytes.begin(), bytes.end())) {
        std::fprintf(stderr, "decoded font does not encode back to its %zu bytes\n", size);
        std::abort();
    }
    return 0;
}
