#pragma once
// Procedural images: an RGBA8 canvas with straight alpha, colours as sRGB-encoded values in
// [0, 1] (the renderer decodes texture bytes as sRGB), and tileable value noise for
// surface detail. Everything is a pure function of its arguments.

#include <cstddef>
#include <vector>

#include "bake_math.h"

namespace kestrune::baker {

struct Colour {
    f64 r = 0.0;
    f64 g = 0.0;
    f64 b = 0.0;
    f64 a = 1.0;

    friend Colour operator*(Colour c, f64 s) noexcept { return {c.r * s, c.g * s, c.b * s, c.a}; }
};

// Component-wise mix, alpha included.
Colour mix(Colour a, Colour b, f64 t) noexcept;
Colour withAlpha(Colour c, f64 alpha) noexcept;

class Image {
public:
    Image(u32 widthPixels, u32 heightPixels);
    // Takes decoded pixels: width x height x 4 bytes, rows top to bottom.
    Image(u32 widthPixels, u32 heightPixels, std::vector<u8> rgba);

    u32 width() const noexcept { return width_; }
    u32 height() const noexcept { return height_; }
    const std::vector<u8>& pixels() const noexcept { return pixels_; }

    // Each channel clamped to [0, 1] and rounded to the nearest byte.
    void set(u32 x, u32 y, Colour colour) noexcept;

    // Calls shade(u, v) for every pixel, u and v at pixel centres in (0, 1), v growing
    // downwards (row 0 is the top, as in the file).
    template <class Shade>
    void fill(Shade shade) {
        for (u32 y = 0; y < height_; ++y) {
            for (u32 x = 0; x < width_; ++x) {
                set(x, y, shade((x + 0.5) / width_, (y + 0.5) / height_));
            }
        }
    }

private:
    u32 width_;
    u32 height_;
    std::vector<u8> pixels_;
};

// Value noise in [0, 1] with smooth interpolation, tiling every `periodX` lattice cells
// across and `periodY` down; `seed` picks an independent field.
f64 valueNoise(f64 x, f64 y, u32 periodX, u32 periodY, u32 seed) noexcept;

// Sum of `octaves` noise layers, each twice the frequency and half the amplitude of the one
// before, normalised to [0, 1]; tiles over [0, 1) x [0, 1) with the first layer's
// `cellsX` x `cellsY` cells (unequal counts stretch the grain).
f64 fractalNoise(f64 u, f64 v, u32 cellsX, u32 cellsY, u32 octaves, u32 seed) noexcept;

// Distance from (u, v) to the nearest feature point of a tiling cellular field with
// `cells` x `cells` cells, and to the second nearest (for cracks: where both are close).
struct CellDistances {
    f64 nearest = 0.0;
    f64 second = 0.0;
};
CellDistances cellularNoise(f64 u, f64 v, u32 cells, u32 seed) noexcept;

}  // namespace kestrune::baker
