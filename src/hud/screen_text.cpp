#include "hud/screen_text.h"

#include <cmath>

#include "base/utf8.h"

namespace kestrune::hud {

QuadBatch::QuadBatch(u32 quadCapacity) : vertices_(std::size_t{quadCapacity} * 4), indices_(std::size_t{quadCapacity} * 6) {
    for (u32 quad = 0; quad < quadCapacity; ++quad) {
        const u32 first = quad * 4;
        u32* out = &indices_[std::size_t{quad} * 6];
        out[0] = first;
        out[1] = first + 1;
        out[2] = first + 2;
        out[3] = first;
        out[4] = first + 2;
        out[5] = first + 3;
    }
}

bool QuadBatch::add(const ScreenRect& rect, f32 u0, f32 v0, f32 u1, f32 v1, const render::Color& color) noexcept {
    if (std::size_t{quads_} * 4 >= vertices_.size()) {
        ++refused_;
        return false;
    }
    render::PrimitiveVertex* out = &vertices_[std::size_t{quads_} * 4];
    const f32 right = rect.x + rect.width;
    const f32 bottom = rect.y + rect.height;
    out[0] = {{rect.x, rect.y, 0.0f}, {0.0f, 0.0f, -1.0f}, {u0, v0}, color};
    out[1] = {{right, rect.y, 0.0f}, {0.0f, 0.0f, -1.0f}, {u1, v0}, color};
    out[2] = {{right, bottom, 0.0f}, {0.0f, 0.0f, -1.0f}, {u1, v1}, color};
    out[3] = {{rect.x, bottom, 0.0f}, {0.0f, 0.0f, -1.0f}, {u0, v1}, color};
    ++quads_;
    return true;
}

u32 nextCodepoint(std::string_view text, std::size_t& at) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t length = utf8SequenceLength(bytes, text.size(), at);
    if (length == 0) {
        ++at;
        return content::kFallbackCodepoint;
    }
    u32 codepoint = length == 1 ? bytes[at] : bytes[at] & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        codepoint = (codepoint << 6) | (bytes[at + k] & 0x3Fu);
    }
    at += length;
    return codepoint;
}

namespace {

constexpr f32 kUnscaledTolerance = 0.1f;

const content::FontGlyph& glyphOrFallback(const content::FontStrike& strike, u32& codepoint) noexcept {
    if (const content::FontGlyph* glyph = strike.glyph(codepoint)) {
        return *glyph;
    }
    codepoint = content::kFallbackCodepoint;
    return *strike.glyph(codepoint);
}

// Walks `text` glyph by glyph, handing each with the pen's place before it (the strike's 1/64
// pixels, kerning included); returns the pen's travel over the whole text.
template <class Visit>
i64 layOut(const content::FontStrike& strike, std::string_view text, Visit&& visit) noexcept {
    i64 pen = 0;
    u32 previous = 0;
    for (std::size_t at = 0; at < text.size();) {
        u32 codepoint = nextCodepoint(text, at);
        const content::FontGlyph& glyph = glyphOrFallback(strike, codepoint);
        if (previous != 0) {
            pen += strike.kerningBetween(previous, codepoint);
        }
        visit(glyph, pen);
        pen += glyph.advance64;
        previous = codepoint;
    }
    return pen;
}

i64 advance64(const content::FontStrike& strike, std::string_view text) noexcept {
    return layOut(strike, text, [](const content::FontGlyph&, i64) {});
}

}  // namespace

TextSizing TextPainter::sizing(f32 pixelSize) const noexcept {
    const std::vector<content::FontStrike>& strikes = font_->strikes;
    const content::FontStrike* chosen = &strikes.back();
    for (const content::FontStrike& strike : strikes) {
        const f32 size = strike.pixelSize;
        if (std::fabs(size - pixelSize) <= kUnscaledTolerance * pixelSize) {
            return {&strike, 1.0f};
        }
    }
    for (const content::FontStrike& strike : strikes) {
        if (strike.pixelSize >= pixelSize) {
            chosen = &strike;
            break;
        }
    }
    return {chosen, pixelSize / static_cast<f32>(chosen->pixelSize)};
}

f32 TextPainter::ascent(f32 pixelSize) const noexcept {
    const TextSizing sized = sizing(pixelSize);
    return static_cast<f32>(sized.strike->ascender) * sized.scale;
}

f32 TextPainter::lineHeight(f32 pixelSize) const noexcept {
    const TextSizing sized = sizing(pixelSize);
    return static_cast<f32>(sized.strike->lineHeight) * sized.scale;
}

f32 TextPainter::measure(std::string_view text, f32 pixelSize) const noexcept {
    const TextSizing sized = sizing(pixelSize);
    return static_cast<f32>(advance64(*sized.strike, text)) / 64.0f * sized.scale;
}

f32 TextPainter::draw(QuadBatch& batch, std::string_view text, f32 x, f32 baselineY, f32 pixelSize, TextAlign align,
                      const render::Color& color) const noexcept {
    const TextSizing sized = sizing(pixelSize);
    const content::FontStrike& strike = *sized.strike;
    const f32 scale = sized.scale;
    const f32 width = static_cast<f32>(advance64(strike, text)) / 64.0f * scale;
    f32 left = align == TextAlign::left ? x : align == TextAlign::centre ? x - width * 0.5f : x - width;
    if (scale == 1.0f) {
        // Texels land on pixels only from a whole-pixel origin.
        left = std::round(left);
        baselineY = std::round(baselineY);
    }
    const f32 atlasWidth = font_->atlasWidth;
    const f32 atlasHeight = font_->atlasHeight;
    layOut(strike, text, [&](const content::FontGlyph& glyph, i64 pen) {
        if (glyph.width == 0 || glyph.height == 0) {
            return;
        }
        const f32 penPixels = scale == 1.0f ? std::round(static_cast<f32>(pen) / 64.0f) : static_cast<f32>(pen) / 64.0f;
        const ScreenRect rect{left + (penPixels + glyph.bearingX) * scale, baselineY - glyph.bearingY * scale,
                              glyph.width * scale, glyph.height * scale};
        batch.add(rect, glyph.atlasX / atlasWidth, glyph.atlasY / atlasHeight,
                  (glyph.atlasX + glyph.width) / atlasWidth, (glyph.atlasY + glyph.height) / atlasHeight, color);
    });
    return width;
}

}  // namespace kestrune::hud
