#include "image.h"

#include <cmath>

namespace kestrune::baker {
namespace {

u8 toByte(f64 v) noexcept { return static_cast<u8>(std::floor(clamp01(v) * 255.0 + 0.5)); }

f64 lattice(i64 x, i64 y, u32 periodX, u32 periodY, u32 seed) noexcept {
    const auto wrap = [](i64 c, u32 period) { return static_cast<u32>(((c % period) + period) % period); };
    return hashUnit(wrap(x, periodX), wrap(y, periodY), seed);
}

}  // namespace

Colour mix(Colour a, Colour b, f64 t) noexcept {
    return {lerp(a.r, b.r, t), lerp(a.g, b.g, t), lerp(a.b, b.b, t), lerp(a.a, b.a, t)};
}

Colour withAlpha(Colour c, f64 alpha) noexcept { return {c.r, c.g, c.b, alpha}; }

Image::Image(u32 widthPixels, u32 heightPixels)
    : width_(widthPixels), height_(heightPixels), pixels_(std::size_t{widthPixels} * heightPixels * 4, 0) {}

Image::Image(u32 widthPixels, u32 heightPixels, std::vector<u8> rgba)
    : width_(widthPixels), height_(heightPixels), pixels_(std::move(rgba)) {
    pixels_.resize(std::size_t{widthPixels} * heightPixels * 4, 0);
}

void Image::set(u32 x, u32 y, Colour colour) noexcept {
    u8* p = pixels_.data() + (std::size_t{y} * width_ + x) * 4;
    p[0] = toByte(colour.r);
    p[1] = toByte(colour.g);
    p[2] = toByte(colour.b);
    p[3] = toByte(colour.a);
}

f64 valueNoise(f64 x, f64 y, u32 periodX, u32 periodY, u32 seed) noexcept {
    const f64 fx = std::floor(x);
    const f64 fy = std::floor(y);
    const auto ix = static_cast<i64>(fx);
    const auto iy = static_cast<i64>(fy);
    const f64 tx = smoothstep(x - fx);
    const f64 ty = smoothstep(y - fy);
    const auto at = [&](i64 dx, i64 dy) { return lattice(ix + dx, iy + dy, periodX, periodY, seed); };
    return lerp(lerp(at(0, 0), at(1, 0), tx), lerp(at(0, 1), at(1, 1), tx), ty);
}

f64 fractalNoise(f64 u, f64 v, u32 cellsX, u32 cellsY, u32 octaves, u32 seed) noexcept {
    f64 sum = 0.0;
    f64 amplitude = 1.0;
    f64 total = 0.0;
    for (u32 octave = 0; octave < octaves; ++octave) {
        sum += amplitude * valueNoise(u * cellsX, v * cellsY, cellsX, cellsY, seed + octave * 7919u);
        total += amplitude;
        amplitude *= 0.5;
        cellsX *= 2;
        cellsY *= 2;
    }
    return sum / total;
}

CellDistances cellularNoise(f64 u, f64 v, u32 cells, u32 seed) noexcept {
    const f64 x = u * cells;
    const f64 y = v * cells;
    const auto cx = static_cast<i64>(std::floor(x));
    const auto cy = static_cast<i64>(std::floor(y));
    CellDistances out{1e9, 1e9};
    for (i64 dy = -1; dy <= 1; ++dy) {
        for (i64 dx = -1; dx <= 1; ++dx) {
            const i64 gx = cx + dx;
            const i64 gy = cy + dy;
            const auto wx = static_cast<u32>(((gx % cells) + cells) % cells);
            const auto wy = static_cast<u32>(((gy % cells) + cells) % cells);
            const f64 px = static_cast<f64>(gx) + hashUnit(wx, wy, seed);
            const f64 py = static_cast<f64>(gy) + hashUnit(wx, wy, seed + 1);
            const f64 d = std::sqrt((px - x) * (px - x) + (py - y) * (py - y));
            if (d < out.nearest) {
                out.second = out.nearest;
                out.nearest = d;
            } else if (d < out.second) {
                out.second = d;
            }
        }
    }
    return out;
}

}  // namespace kestrune::baker
