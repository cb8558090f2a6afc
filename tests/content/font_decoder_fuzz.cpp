// libFuzzer target: decodeFontAtlas over arbitrary bytes must either throw ContentError or
// return a font that can be drawn unchecked (every glyph inside the atlas, the fallback and
// the space in every strike, every pair between glyphs the lookups find), which the encoder
// writes back to exactly the input: the format has one encoding per font.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "content/font_atlas.h"
#include "content/model.h"

using namespace kestrune;
using namespace kestrune::content;

namespace {

bool drawable(const FontAtlas& font) {
    for (const FontStrike& strike : font.strikes) {
        if (strike.glyph(kFallbackCodepoint) == nullptr || strike.glyph(0x20) == nullptr) return false;
        for (const FontGlyph& glyph : strike.glyphs) {
            if (u32{glyph.atlasX} + glyph.width > font.atlasWidth || u32{glyph.atlasY} + glyph.height > font.atlasHeight ||
                strike.glyph(glyph.codepoint) != &glyph) {
                return false;
            }
        }
        for (const FontKerning& pair : strike.kerning) {
            if (strike.glyph(pair.left) == nullptr || strike.glyph(pair.right) == nullptr ||
                strike.kerningBetween(pair.left, pair.right) != pair.adjust64) {
                return false;
            }
        }
    }
    return !font.strikes.empty();
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
