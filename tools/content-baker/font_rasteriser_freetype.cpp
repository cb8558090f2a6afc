// FreeType rasterises the fonts of the Linux build: FT_LOAD_RENDER in the normal (8-bit
// grey) mode with the font's own hinting, advances and kerning grid-fitted as FreeType
// gives them.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_DRIVER_H
#include FT_MODULE_H

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/text_format.h"
#include "font_rasteriser.h"

namespace kestrune::baker {
namespace {

struct LibraryDone {
    void operator()(FT_Library library) const noexcept { FT_Done_FreeType(library); }
};
struct FaceDone {
    void operator()(FT_Face face) const noexcept { FT_Done_Face(face); }
};
using Library = std::unique_ptr<FT_LibraryRec_, LibraryDone>;
using Face = std::unique_ptr<FT_FaceRec_, FaceDone>;

class Rasteriser {
public:
    explicit Rasteriser(const FontSource& font) : file_(font.file.string()) {
        if (!std::filesystem::is_regular_file(font.file)) {
            throw std::runtime_error("The font " + file_ + " is missing; it comes with the package " +
                                     std::string(font.package) + " (scripts/bootstrap installs it).");
        }
        FT_Library library = nullptr;
        check(FT_Init_FreeType(&library), "FT_Init_FreeType");
        library_.reset(library);
        // FT_Init_FreeType takes driver properties from FREETYPE_PROPERTIES; fixing the
        // TrueType interpreter here keeps the hinting, and so the bytes, independent of it.
        FT_UInt interpreter = TT_INTERPRETER_VERSION_40;
        check(FT_Property_Set(library_.get(), "truetype", "interpreter-version", &interpreter),
              "FT_Property_Set(truetype interpreter-version)");
        FT_Face face = nullptr;
        check(FT_New_Face(library_.get(), file_.c_str(), 0, &face), "FT_New_Face");
        face_.reset(face);
    }

    RasterisedStrike strike(std::span<const u32> codepoints, u16 pixelSize) {
        check(FT_Set_Pixel_Sizes(face_.get(), 0, pixelSize), "FT_Set_Pixel_Sizes");
        const FT_Size_Metrics& metrics = face_->size->metrics;
        RasterisedStrike out;
        content::FontStrike& strike = out.strike;
        strike.pixelSize = pixelSize;
        strike.ascender = narrow<i16>(pixels(metrics.ascender), "ascender");
        strike.descender = narrow<i16>(pixels(metrics.descender), "descender");
        strike.lineHeight = narrow<u16>(pixels(metrics.height), "line height");

        std::vector<FT_UInt> indices;
        for (const u32 codepoint : codepoints) {
            const FT_UInt index = FT_Get_Char_Index(face_.get(), codepoint);
            if (index == 0) throw std::runtime_error(file_ + formatText(" has no glyph for U+%04X", codepoint));
            indices.push_back(index);
            check(FT_Load_Glyph(face_.get(), index, FT_LOAD_RENDER), "FT_Load_Glyph");
            const FT_GlyphSlot slot = face_->glyph;
            const FT_Bitmap& bitmap = slot->bitmap;
            const bool blank = bitmap.width == 0 || bitmap.rows == 0;
            if (!blank && (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.num_grays != 256 || bitmap.pitch < 0)) {
                throw std::runtime_error(file_ + formatText(": U+%04X did not render to 8-bit grey rows", codepoint));
            }
            content::FontGlyph& glyph = strike.glyphs.emplace_back();
            glyph.codepoint = codepoint;
            glyph.advance64 = narrow<i32>(slot->advance.x, "advance");
            glyph.bearingX = narrow<i16>(slot->bitmap_left, "bearing x");
            glyph.bearingY = narrow<i16>(slot->bitmap_top, "bearing y");
            glyph.width = blank ? 0 : narrow<u16>(bitmap.width, "width");
            glyph.height = blank ? 0 : narrow<u16>(bitmap.rows, "height");
            std::vector<u8>& coverage = out.coverage.emplace_back(std::size_t{glyph.width} * glyph.height);
            for (std::size_t y = 0; y < glyph.height; ++y) {
                const u8* row = bitmap.buffer + y * static_cast<std::size_t>(bitmap.pitch);
                std::copy(row, row + glyph.width, coverage.begin() + static_cast<std::ptrdiff_t>(y * glyph.width));
            }
        }

        // FT_Get_Kerning reads the 'kern' table only; pairs come out in (left, right) order.
        if (FT_HAS_KERNING(face_.get())) {
            for (std::size_t l = 0; l < codepoints.size(); ++l) {
                for (std::size_t r = 0; r < codepoints.size(); ++r) {
                    FT_Vector kerning{};
                    check(FT_Get_Kerning(face_.get(), indices[l], indices[r], FT_KERNING_DEFAULT, &kerning),
                          "FT_Get_Kerning");
                    if (kerning.x != 0) {
                        strike.kerning.push_back({codepoints[l], codepoints[r], narrow<i32>(kerning.x, "kerning")});
                    }
                }
            }
        }
        return out;
    }

private:
    void check(FT_Error error, const char* operation) const {
        if (error != 0) {
            throw std::runtime_error(file_ + ": " + operation + formatText(" failed with FreeType error 0x%02X", error));
        }
    }

    // 26.6 fixed point to whole pixels, halves rounded up; the shift is arithmetic for negatives.
    static FT_Pos pixels(FT_Pos value64) noexcept { return (value64 + 32) >> 6; }

    template <class T, class V>
    T narrow(V value, const char* what) const {
        if (!std::in_range<T>(value)) {
            throw std::runtime_error(file_ + ": " + what + " " + std::to_string(value) + " does not fit the font file");
        }
        return static_cast<T>(value);
    }

    std::string file_;
    Library library_;
    Face face_;
};

}  // namespace

bool fontRasteriserAvailable() noexcept { return true; }

std::vector<RasterisedStrike> rasteriseFont(const FontSource& font, std::span<const u32> codepoints,
                                            std::span<const u16> pixelSizes) {
    Rasteriser rasteriser(font);
    std::vector<RasterisedStrike> strikes;
    for (const u16 pixelSize : pixelSizes) strikes.push_back(rasteriser.strike(codepoints, pixelSize));
    return strikes;
}

}  // namespace kestrune::baker
