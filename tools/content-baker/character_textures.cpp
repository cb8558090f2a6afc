#include "character_textures.h"

#include <cmath>

namespace kestrune::baker {
namespace {

f64 fract(f64 v) noexcept { return v - std::floor(v); }

// 1 inside a band of `width` around `centre`, fading over `soft` on both sides.
f64 band(f64 v, f64 centre, f64 width, f64 soft) noexcept {
    const f64 d = std::fabs(v - centre) - width * 0.5;
    return 1.0 - smoothstep(d / soft);
}

}  // namespace

Image steelPlateTexture() {
    Image image(128, 128);
    image.fill([](f64 u, f64 v) {
        const f64 brushed = fractalNoise(u, v, 2, 48, 3, 11);
        const f64 mottled = fractalNoise(u, v, 4, 4, 3, 12);
        f64 shade = 0.80 + 0.16 * brushed + 0.14 * mottled;
        // Each piece's edges: a dark seam, then a bright bevel just inside it.
        const f64 edge = std::fmin(v, 1.0 - v);
        shade *= edge < 0.025 ? 0.55 : (edge < 0.06 ? 1.12 : 1.0);
        // Rivets along the upper edge.
        const f64 du = (fract(u * 8.0) - 0.5) / 8.0;
        const f64 dv = v - 0.1;
        const f64 r = std::sqrt(du * du + dv * dv);
        if (r < 0.022) {
            shade = 1.25 - 10.0 * (du + dv);
        } else if (r < 0.03) {
            shade *= 0.6;
        }
        return Colour{0.58 * shade, 0.60 * shade, 0.64 * shade, 1.0};
    });
    return image;
}

Image chainmailTexture() {
    Image image(64, 64);
    image.fill([](f64 u, f64 v) {
        const f64 row = std::floor(v * 16.0);
        const f64 x = fract(u * 16.0 + (std::fmod(row, 2.0) == 0.0 ? 0.0 : 0.5)) - 0.5;
        const f64 y = fract(v * 16.0) - 0.5;
        const f64 d = std::sqrt(x * x + y * y);
        const f64 ring = band(d, 0.32, 0.12, 0.05);
        const f64 lit = 0.6 + 0.8 * (0.5 - y) * ring;
        const f64 shade = 0.10 + 0.42 * ring * lit;
        return Colour{shade, shade * 1.02, shade * 1.08, 1.0};
    });
    return image;
}

Image clothTexture(Colour cloth, Colour trim) {
    Image image(128, 128);
    image.fill([cloth, trim](f64 u, f64 v) {
        const f64 threads = 0.5 + 0.5 * sinRadians(u * kTwoPi * 48.0) * sinRadians(v * kTwoPi * 48.0);
        const f64 grime = fractalNoise(u, v, 4, 4, 4, 21);
        Colour c = cloth * (0.78 + 0.12 * threads + 0.2 * grime);
        if (v > 0.84 && v < 0.955) {
            // Trim band with a row of diamonds.
            const f64 x = std::fabs(fract(u * 12.0) - 0.5) * 2.0;
            const f64 y = std::fabs((v - 0.8975) / 0.0575);
            const f64 diamond = x + y < 0.7 ? 0.75 : 1.0;
            c = trim * ((0.85 + 0.15 * threads) * diamond);
        } else if (v >= 0.955) {
            c = cloth * 0.55;
        } else if (v > 0.815 && v < 0.83) {
            c = trim * 0.9;
        }
        return withAlpha(c, 1.0);
    });
    return image;
}

Image leatherTexture(Colour leather) {
    Image image(64, 64);
    image.fill([leather](f64 u, f64 v) {
        const f64 grain = fractalNoise(u, v, 8, 8, 3, 31);
        const f64 crease = 1.0 - 0.35 * band(fractalNoise(u, v, 3, 3, 2, 32), 0.5, 0.03, 0.02);
        Colour c = leather * ((0.72 + 0.36 * grain) * crease);
        const bool stitchRow = std::fabs(v - 0.07) < 0.012 || std::fabs(v - 0.93) < 0.012;
        if (stitchRow && fract(u * 16.0) < 0.55) {
            c = Colour{0.78, 0.70, 0.52, 1.0};
        }
        return withAlpha(c, 1.0);
    });
    return image;
}

Image goldTexture() {
    Image image(64, 64);
    image.fill([](f64 u, f64 v) {
        const f64 streaks = fractalNoise(u, v, 2, 16, 3, 41);
        const f64 shade = 0.8 + 0.35 * streaks;
        return Colour{0.86 * shade, 0.66 * shade, 0.27 * shade, 1.0};
    });
    return image;
}

Image shieldFaceTexture() {
    Image image(128, 128);
    image.fill([](f64 u, f64 v) {
        const Colour field{0.56, 0.05, 0.06, 1.0};
        const Colour gold{0.90, 0.70, 0.28, 1.0};
        const Colour steel{0.66, 0.68, 0.72, 1.0};
        const f64 wear = 0.85 + 0.2 * fractalNoise(u, v, 8, 4, 3, 51);
        if (v > 0.9) {
            return steel * (v > 0.97 ? 0.55 : wear);
        }
        if (v < 0.13) {
            return gold * (1.1 - v * 2.0);  // the boss
        }
        // A cross whose arms widen toward the rim; its arms point up, down and to the sides.
        const f64 angleFromArm = std::fabs(fract(u * 4.0 + 0.5) - 0.5) / 4.0;
        const f64 armHalfWidth = 0.012 + 0.05 * v;
        if (angleFromArm < armHalfWidth && v < 0.84) {
            return gold * wear;
        }
        return field * wear;
    });
    return image;
}

Image glowTexture(Colour core) {
    Image image(64, 64);
    image.fill([core](f64 u, f64 v) {
        const f64 across = 1.0 - std::fabs(v - 0.5) * 2.0;
        const f64 flicker = 0.7 + 0.3 * fractalNoise(u, v, 8, 2, 2, 61);
        const f64 alpha = across * std::sqrt(across) * flicker;
        const f64 hot = across * across;
        return withAlpha(mix(core, Colour{1.0, 1.0, 1.0, 1.0}, hot * 0.7), alpha);
    });
    return image;
}

Image skinTexture(Colour skin) {
    Image image(64, 64);
    image.fill([skin](f64 u, f64 v) { return withAlpha(skin * (0.9 + 0.14 * fractalNoise(u, v, 4, 4, 3, 71)), 1.0); });
    return image;
}

Image robeTexture() {
    Image image(128, 256);
    image.fill([](f64 u, f64 v) {
        const Colour ivory{0.86, 0.82, 0.72, 1.0};
        const Colour gold{0.84, 0.64, 0.24, 1.0};
        const Colour blue{0.16, 0.24, 0.55, 1.0};
        const f64 weave = 0.5 + 0.5 * sinRadians(u * kTwoPi * 64.0) * sinRadians(v * kTwoPi * 128.0);
        const f64 folds = 0.92 + 0.08 * sinRadians(u * kTwoPi * 8.0 + 2.0 * fractalNoise(u, v, 4, 2, 2, 81));
        const f64 grime = 0.9 + 0.14 * fractalNoise(u, v, 4, 8, 3, 82);
        if (v > 0.875 && v < 0.965) {
            // Gold border with crosses.
            const f64 x = std::fabs(fract(u * 10.0) - 0.5);
            const f64 y = std::fabs(v - 0.92);
            const bool cross = (x < 0.06 && y < 0.03) || (y < 0.008 && x < 0.2);
            return (cross ? blue : gold) * (folds * (0.9 + 0.1 * weave));
        }
        if ((v > 0.855 && v < 0.875) || v >= 0.965) {
            return blue * folds;
        }
        return ivory * (folds * grime * (0.92 + 0.08 * weave));
    });
    return image;
}

Image woodTexture() {
    Image image(64, 128);
    image.fill([](f64 u, f64 v) {
        const f64 warp = fractalNoise(u, v, 2, 8, 3, 91);
        const f64 rings = 0.5 + 0.5 * sinRadians((u * 6.0 + warp * 1.5) * kTwoPi);
        const f64 shade = 0.7 + 0.3 * rings + 0.1 * fractalNoise(u, v, 8, 32, 2, 92);
        return Colour{0.40 * shade, 0.25 * shade, 0.13 * shade, 1.0};
    });
    return image;
}

}  // namespace kestrune::baker
