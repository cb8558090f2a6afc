#include "effect_textures.h"

#include <cmath>

namespace kestrune::baker {
namespace {

constexpr u32 kEffectTexturePixels = 128;
const Colour kWhite{1.0, 1.0, 1.0, 1.0};

// Polar position of a pixel in a centred quad: r 0 at the centre, 1 at the edge's middle.
struct Polar {
    f64 x;
    f64 y;
    f64 r;
    f64 angle;  // radians
};

Polar polar(f64 u, f64 v) noexcept {
    const f64 x = u * 2.0 - 1.0;
    const f64 y = v * 2.0 - 1.0;
    return {x, y, std::sqrt(x * x + y * y), atan2Radians(y, x)};
}

// 1 at the centre falling to 0 at r = 1, with the given sharpness (a whole power).
f64 falloff(f64 r, int power) noexcept {
    const f64 base = clamp01(1.0 - r);
    f64 out = 1.0;
    for (int k = 0; k < power; ++k) out *= base;
    return out;
}

// A bump of half width `halfWidth` around `centre`, 1 at the centre, 0 beyond.
f64 bump(f64 value, f64 centre, f64 halfWidth) noexcept {
    const f64 t = clamp01(1.0 - std::fabs(value - centre) / halfWidth);
    return t * t * (3.0 - 2.0 * t);
}

// Noise around the circle: tiles once per turn.
f64 angularNoise(f64 angle, f64 r, u32 cells, u32 seed) noexcept {
    return fractalNoise(angle / kTwoPi + 0.5, clamp01(r) * 0.999, cells, 2, 3, seed);
}

Image radialImage(Colour (*shade)(const Polar&)) {
    Image image(kEffectTexturePixels, kEffectTexturePixels);
    image.fill([shade](f64 u, f64 v) { return shade(polar(u, v)); });
    return image;
}

}  // namespace

Image radialBurstTexture() {
    return radialImage([](const Polar& p) {
        const f64 rays = 0.7 + 0.3 * angularNoise(p.angle, p.r, 24, 101);
        const f64 alpha = falloff(p.r, 2) * rays;
        return withAlpha(mix(kWhite, {0.72, 0.9, 1.0, 1.0}, clamp01(p.r * 1.4)), alpha);
    });
}

Image arcStreakTexture() {
    Image image(kEffectTexturePixels, kEffectTexturePixels);
    image.fill([](f64 u, f64 v) {
        const f64 across = bump(u, 0.68, 0.42);
        const f64 edge = bump(u, 0.86, 0.1);
        const f64 along = v * v * (1.0 - smoothstep((v - 0.93) / 0.07));
        const f64 streaks = 0.55 + 0.45 * fractalNoise(u, v, 16, 2, 3, 111);
        const f64 alpha = clamp01((across * streaks + edge * 0.6) * along * 1.2);
        return withAlpha(mix({0.75, 0.9, 1.0, 1.0}, kWhite, edge + across * 0.3), alpha);
    });
    return image;
}

Image arcSparkTexture() {
    Image image(kEffectTexturePixels, kEffectTexturePixels);
    image.fill([](f64 u, f64 v) {
        const f64 line = bump(u, 0.5, 0.22) * (0.35 + 0.65 * v);
        const CellDistances cells = cellularNoise(u, v, 10, 121);
        const bool lit = hashUnit(static_cast<u32>(u * 10.0), static_cast<u32>(v * 10.0)) > 0.4;
        const f64 spark = lit ? bump(cells.nearest, 0.0, 0.12) : 0.0;
        const f64 alpha = clamp01(line * (0.7 + 0.3 * fractalNoise(u, v, 12, 2, 2, 122)) + spark);
        return withAlpha(mix({1.0, 0.86, 0.55, 1.0}, kWhite, line), alpha);
    });
    return image;
}

Image shockRingTexture() {
    return radialImage([](const Polar& p) {
        const f64 ring = bump(p.r, 0.76, 0.16);
        const f64 crest = bump(p.r, 0.8, 0.05);
        const f64 fill = 0.18 * falloff(p.r, 1) * (p.r < 0.8 ? 1.0 : 0.0);
        const f64 breakup = 0.65 + 0.35 * angularNoise(p.angle, p.r, 16, 131);
        return withAlpha(mix({0.75, 0.9, 1.0, 1.0}, kWhite, crest), clamp01((ring + crest * 0.5) * breakup + fill));
    });
}

Image emberOrbTexture() {
    return radialImage([](const Polar& p) {
        const f64 core = falloff(p.r * 1.3, 2);
        const f64 arms = 0.5 + 0.5 * cosRadians(3.0 * p.angle + 7.0 * p.r);
        const f64 flares = arms * arms * falloff(p.r, 1) * (0.6 + 0.4 * angularNoise(p.angle, p.r, 12, 141));
        return withAlpha(mix({1.0, 0.8, 0.55, 1.0}, kWhite, core), clamp01(core + flares * 0.7));
    });
}

Image lightFlareTexture() {
    return radialImage([](const Polar& p) {
        const f64 hot = falloff(p.r * 1.6, 4);
        const f64 glow = falloff(p.r, 2) * 0.45;
        f64 ray = std::fabs(cosRadians(3.0 * p.angle));
        for (int k = 0; k < 5; ++k) ray *= ray;  // cos^32: thin spokes
        const f64 rays = ray * falloff(p.r, 1);
        const f64 halo = bump(p.r, 0.62, 0.06) * 0.35;
        return withAlpha(mix({1.0, 0.85, 0.65, 1.0}, kWhite, hot), clamp01(hot + glow + rays + halo));
    });
}

Image explosionTexture() {
    return radialImage([](const Polar& p) {
        const f64 edge = 0.5 + 0.4 * angularNoise(p.angle, 0.5, 10, 151);
        const f64 inside = smoothstep((edge - p.r) / 0.18);
        const f64 boil = 0.55 + 0.45 * fractalNoise(p.x * 0.5 + 0.5, p.y * 0.5 + 0.5, 6, 6, 3, 152);
        const f64 core = falloff(p.r * 1.5, 2);
        const Colour rim{1.0, 0.62, 0.3, 1.0};
        const Colour middle{1.0, 0.9, 0.6, 1.0};
        return withAlpha(mix(mix(rim, middle, inside), kWhite, core), clamp01(inside * boil + core));
    });
}

Image starSlashTexture() {
    return radialImage([](const Polar& p) {
        const auto spike = [](f64 along, f64 across, f64 width) {
            const f64 reach = clamp01(1.0 - std::fabs(along));
            return reach * reach * clamp01(1.0 - std::fabs(across) / (width * reach + 0.004));
        };
        const f64 d1 = (p.x + p.y) * 0.70710678;
        const f64 d2 = (p.x - p.y) * 0.70710678;
        const f64 main = std::fmax(spike(p.x, p.y, 0.07), spike(p.y, p.x, 0.07));
        const f64 diagonal = 0.45 * std::fmax(spike(d1 * 1.4, d2, 0.04), spike(d2 * 1.4, d1, 0.04));
        const f64 core = falloff(p.r * 2.2, 2);
        return withAlpha(kWhite, clamp01(main + diagonal + core));
    });
}

Image quakeRingTexture(u32 seed) {
    Image image(kEffectTexturePixels, kEffectTexturePixels);
    image.fill([seed](f64 u, f64 v) {
        const Polar p = polar(u, v);
        const CellDistances cells = cellularNoise(u, v, 7, seed);
        const f64 crack = bump(cells.second - cells.nearest, 0.0, 0.09);
        f64 radial = std::fabs(cosRadians(5.0 * p.angle + 2.0 * angularNoise(p.angle, p.r, 4, seed + 1)));
        for (int k = 0; k < 4; ++k) radial *= radial;
        const f64 ring = bump(p.r, 0.62, 0.38);
        const f64 glow = clamp01(crack + radial * 0.8) * ring;
        const f64 dust = 0.25 * ring * fractalNoise(u, v, 6, 6, 3, seed + 2);
        return withAlpha(mix({0.45, 0.3, 0.2, 1.0}, {1.0, 0.7, 0.35, 1.0}, glow), clamp01(glow + dust));
    });
    return image;
}

Image energySpikeTexture() {
    Image image(kEffectTexturePixels, kEffectTexturePixels);
    image.fill([](f64 u, f64 v) {
        const f64 toTip = clamp01(1.0 - v);
        const f64 streaks = 0.5 + 0.5 * fractalNoise(u, v, 12, 2, 3, 161);
        const f64 alpha = clamp01(toTip * std::sqrt(toTip) * (0.5 + 0.7 * streaks));
        return withAlpha(mix({1.0, 0.72, 0.62, 1.0}, kWhite, toTip * toTip), alpha);
    });
    return image;
}

Image rockTexture() {
    Image image(kEffectTexturePixels, kEffectTexturePixels);
    image.fill([](f64 u, f64 v) {
        const f64 grain = fractalNoise(u, v, 8, 8, 4, 171);
        const CellDistances cells = cellularNoise(u, v, 6, 172);
        const f64 crack = bump(cells.second - cells.nearest, 0.0, 0.07);
        const f64 shade = (0.55 + 0.45 * grain) * (1.0 - 0.65 * crack);
        return Colour{0.5 * shade, 0.44 * shade, 0.38 * shade, 1.0};
    });
    return image;
}

Image swirlTexture() {
    return radialImage([](const Polar& p) {
        const f64 arms = 0.5 + 0.5 * cosRadians(2.0 * (p.angle - 5.0 * p.r));
        const f64 shaped = arms * arms * arms;
        const f64 alpha = shaped * falloff(p.r, 1) * smoothstep(p.r / 0.25) + falloff(p.r * 2.5, 2) * 0.5;
        return withAlpha(mix({1.0, 0.8, 0.7, 1.0}, kWhite, shaped), clamp01(alpha));
    });
}

}  // namespace kestrune::baker
