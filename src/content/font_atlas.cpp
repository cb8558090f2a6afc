#include "content/font_atlas.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/byte_reader.h"
#include "base/byte_writer.h"
#include "base/text_format.h"
#include "content/content_file.h"
#include "content/model.h"

// The .kfnt layout, little-endian throughout:
//   "KFNT", u32 version
//   u8 name length, the atlas image's name
//   u16 atlas width, u16 atlas height, u32 strike count
//   per strike: u16 pixel size, i16 ascender, i16 descender, u16 line height,
//               u32 glyph count, u32 kerning count,
//               glyphs  (20 bytes): u32 codepoint, i32 advance64, i16 bearing x, i16 bearing y,
//                                   u16 width, u16 height, u16 atlas x, u16 atlas y
//               kerning (12 bytes): u32 left, u32 right, i32 adjust64
// and nothing after the last strike.

namespace kestrune::content {
namespace {

constexpr std::string_view kMagic = "KFNT";
constexpr u32 kVersion = 1;
constexpr std::size_t kGlyphRecordBytes = 20;
constexpr std::size_t kKerningRecordBytes = 12;
constexpr std::string_view kImageExtension = ".png";
constexpr u32 kLastCodepoint = 0x10FFFF;
constexpr u32 kFirstSurrogate = 0xD800;
constexpr u32 kLastSurrogate = 0xDFFF;
constexpr u32 kSpaceCodepoint = 0x20;
static_assert(kMaxFontAtlasNameBytes <= 0xFF, "the name's length is one byte");
static_assert(kMaxFontAtlasSide <= 0xFFFF && kMaxFontPixelSize <= 0xFFFF, "sides and sizes are u16 fields");

std::string codepointText(u32 codepoint) { return formatText("U+%04X", codepoint); }

// The fault of an atlas image name, or an empty string for a good one. Hostile files put
// any byte there, so the message shows anything but printable ASCII as '?'.
std::string imageNameFault(std::string_view name) {
    if (name.size() > kMaxFontAtlasNameBytes) {
        return "atlas image name of " + std::to_string(name.size()) + " bytes; names hold at most " +
               std::to_string(kMaxFontAtlasNameBytes);
    }
    bool plain = name.size() > kImageExtension.size() && name.ends_with(kImageExtension) &&
                 name.find("..") == std::string_view::npos;
    std::string shown;
    for (const char c : name) {
        const bool printable = c >= 0x20 && c < 0x7F;
        plain = plain && printable && c != '/' && c != '\\' && c != ':';
        shown += printable ? c : '?';
    }
    if (plain) return {};
    return "atlas image name \"" + shown + "\" is not a plain .png file name";
}

class FontDecoder {
public:
    FontDecoder(std::span<const std::byte> bytes, std::string_view sourceName)
        : sourceName_(sourceName), reader_(bytes, TruncationHandler{this}) {}

    FontAtlas decode() {
        if (reader_.size() > kMaxFontFileBytes) {
            fail(std::to_string(reader_.size()) + " bytes; a font file holds at most " +
                 std::to_string(kMaxFontFileBytes));
        }
        if (!reader_.canRead(kMagic.size()) ||
            !std::equal(kMagic.begin(), kMagic.end(), reader_.take(kMagic.size(), "magic").begin(),
                        [](char c, std::byte b) { return static_cast<std::byte>(c) == b; })) {
            fail("not a Kestrune font (no \"KFNT\" magic)");
        }
        const u32 version = reader_.u32le("version");
        if (version != kVersion) fail(formatText("version %u; this build reads version %u", version, kVersion));

        FontAtlas font;
        const u8 nameBytes = reader_.u8le("atlas image name length");
        const std::span<const std::byte> name = reader_.take(nameBytes, "atlas image name");
        font.atlasImage.assign(reinterpret_cast<const char*>(name.data()), name.size());
        if (const std::string fault = imageNameFault(font.atlasImage); !fault.empty()) fail(fault);
        font.atlasWidth = reader_.u16le("atlas width");
        font.atlasHeight = reader_.u16le("atlas height");
        if (font.atlasWidth == 0 || font.atlasHeight == 0 || font.atlasWidth > kMaxFontAtlasSide ||
            font.atlasHeight > kMaxFontAtlasSide) {
            fail(formatText("atlas of %u x %u pixels; each side must be 1 to %u", font.atlasWidth, font.atlasHeight,
                            kMaxFontAtlasSide));
        }
        const u32 strikeCount = reader_.u32le("strike count");
        if (strikeCount == 0 || strikeCount > kMaxFontStrikes) {
            fail(formatText("%u strikes; a font holds 1 to %u", strikeCount, kMaxFontStrikes));
        }
        font.strikes.resize(strikeCount);
        for (u32 s = 0; s < strikeCount; ++s) {
            decodeStrike(s, font);
        }
        if (!reader_.atEnd()) fail(std::to_string(reader_.remaining()) + " bytes after the last strike");
        return font;
    }

private:
    struct TruncationHandler {
        FontDecoder* decoder;
        [[noreturn]] void operator()(std::size_t offset, std::string_view label) const {
            decoder->fail(decoder->context_ + std::string(label) + " at byte " + std::to_string(offset) +
                          " is truncated");
        }
    };

    [[noreturn]] void fail(const std::string& fault) const {
        throw ContentError(std::string(sourceName_) + ": " + fault);
    }

    // Checks that `count` records of `recordBytes` each follow, so that the records' own
    // reads cannot run short; the count is below its limit, so the product cannot wrap.
    void expectRecords(const std::string& strikeName, u32 count, std::size_t recordBytes, const char* what) {
        const u64 needBytes = u64{count} * recordBytes;
        if (needBytes > reader_.remaining()) {
            fail(formatText("%s: %u %s at byte ", strikeName.c_str(), count, what) + std::to_string(reader_.offset()) +
                 " are truncated: they need " + std::to_string(needBytes) + " bytes, " +
                 std::to_string(reader_.remaining()) + " follow");
        }
    }

    void decodeStrike(u32 index, FontAtlas& font) {
        FontStrike& strike = font.strikes[index];
        const std::string name = "strike " + std::to_string(index);
        context_ = name + " ";
        strike.pixelSize = reader_.u16le("pixel size");
        strike.ascender = static_cast<i16>(reader_.u16le("ascender"));
        strike.descender = static_cast<i16>(reader_.u16le("descender"));
        strike.lineHeight = reader_.u16le("line height");
        const u32 glyphCount = reader_.u32le("glyph count");
        const u32 kerningCount = reader_.u32le("kerning count");
        context_.clear();

        if (strike.pixelSize == 0 || strike.pixelSize > kMaxFontPixelSize) {
            fail(formatText("%s: pixel size %u; sizes run 1 to %u", name.c_str(), strike.pixelSize,
                            kMaxFontPixelSize));
        }
        if (index > 0 && strike.pixelSize <= font.strikes[index - 1].pixelSize) {
            fail(formatText("%s: pixel size %u after %u; strikes ascend without repeats", name.c_str(),
                            strike.pixelSize, font.strikes[index - 1].pixelSize));
        }
        if (glyphCount > kMaxStrikeGlyphs) {
            fail(formatText("%s: %u glyphs; a strike holds at most %u", name.c_str(), glyphCount, kMaxStrikeGlyphs));
        }
        if (kerningCount > kMaxStrikeKerningPairs) {
            fail(formatText("%s: %u kerning pairs; a strike holds at most %u", name.c_str(), kerningCount,
                            kMaxStrikeKerningPairs));
        }

        expectRecords(name, glyphCount, kGlyphRecordBytes, "glyph records");
        strike.glyphs.resize(glyphCount);
        for (u32 g = 0; g < glyphCount; ++g) {
            FontGlyph& glyph = strike.glyphs[g];
            glyph.codepoint = reader_.u32le("glyph codepoint");
            glyph.advance64 = reader_.i32le("glyph advance");
            glyph.bearingX = static_cast<i16>(reader_.u16le("glyph bearing x"));
            glyph.bearingY = static_cast<i16>(reader_.u16le("glyph bearing y"));
            glyph.width = reader_.u16le("glyph width");
            glyph.height = reader_.u16le("glyph height");
            glyph.atlasX = reader_.u16le("glyph atlas x");
            glyph.atlasY = reader_.u16le("glyph atlas y");
            checkGlyph(name, g, strike, font);
        }
        for (const u32 required : {kFallbackCodepoint, kSpaceCodepoint}) {
            if (strike.glyph(required) == nullptr) {
                fail(formatText("%s (%u px) has no glyph for %s", name.c_str(), strike.pixelSize,
                                codepointText(required).c_str()));
            }
        }

        expectRecords(name, kerningCount, kKerningRecordBytes, "kerning records");
        strike.kerning.resize(kerningCount);
        for (u32 k = 0; k < kerningCount; ++k) {
            FontKerning& pair = strike.kerning[k];
            pair.left = reader_.u32le("kerning left");
            pair.right = reader_.u32le("kerning right");
            pair.adjust64 = reader_.i32le("kerning adjustment");
            checkKerning(name, k, strike);
        }
    }

    void checkGlyph(const std::string& strikeName, u32 index, const FontStrike& strike, const FontAtlas& font) const {
        const FontGlyph& glyph = strike.glyphs[index];
        const std::string name = formatText("%s glyph %u", strikeName.c_str(), index);
        if (glyph.codepoint > kLastCodepoint ||
            (glyph.codepoint >= kFirstSurrogate && glyph.codepoint <= kLastSurrogate)) {
            fail(name + ": " + codepointText(glyph.codepoint) + " is not a Unicode scalar value");
        }
        if (index > 0 && glyph.codepoint <= strike.glyphs[index - 1].codepoint) {
            fail(name + ": " + codepointText(glyph.codepoint) + " after " +
                 codepointText(strike.glyphs[index - 1].codepoint) + "; glyphs ascend without repeats");
        }
        // In 32 bits a corner near 65535 plus a size near 65535 cannot wrap.
        const u32 right = u32{glyph.atlasX} + glyph.width;
        const u32 bottom = u32{glyph.atlasY} + glyph.height;
        if (right > font.atlasWidth || bottom > font.atlasHeight) {
            fail(formatText("%s (%s): %u x %u pixels at (%u, %u) run outside the %u x %u atlas", name.c_str(),
                            codepointText(glyph.codepoint).c_str(), glyph.width, glyph.height, glyph.atlasX,
                            glyph.atlasY, font.atlasWidth, font.atlasHeight));
        }
    }

    void checkKerning(const std::string& strikeName, u32 index, const FontStrike& strike) const {
        const FontKerning& pair = strike.kerning[index];
        const std::string name = formatText("%s kerning pair %u", strikeName.c_str(), index);
        const auto pairText = [](const FontKerning& k) { return formatText("(U+%04X, U+%04X)", k.left, k.right); };
        if (index > 0) {
            const FontKerning& previous = strike.kerning[index - 1];
            if (std::pair(pair.left, pair.right) <= std::pair(previous.left, previous.right)) {
                fail(name + ": " + pairText(pair) + " after " + pairText(previous) + "; pairs ascend without repeats");
            }
        }
        for (const u32 codepoint : {pair.left, pair.right}) {
            if (strike.glyph(codepoint) == nullptr) {
                fail(name + " names " + codepointText(codepoint) + ", which the strike has no glyph for");
            }
        }
    }

    std::string_view sourceName_;
    ByteReader<TruncationHandler> reader_;
    std::string context_;  // the strike whose header is being read, for truncation messages
};

}  // namespace

const FontGlyph* FontStrike::glyph(u32 codepoint) const noexcept {
    // A font's glyphs run without gaps from its first one through printable ASCII: text of
    // those letters finds its glyph at once, the rest by halves.
    if (!glyphs.empty() && codepoint >= glyphs.front().codepoint) {
        const u64 guess = u64{codepoint} - glyphs.front().codepoint;
        if (guess < glyphs.size() && glyphs[guess].codepoint == codepoint) {
            return &glyphs[guess];
        }
    }
    const auto found = std::lower_bound(glyphs.begin(), glyphs.end(), codepoint,
                                        [](const FontGlyph& g, u32 c) { return g.codepoint < c; });
    return found != glyphs.end() && found->codepoint == codepoint ? &*found : nullptr;
}

i32 FontStrike::kerningBetween(u32 left, u32 right) const noexcept {
    const auto key = std::pair(left, right);
    const auto found = std::lower_bound(kerning.begin(), kerning.end(), key, [](const FontKerning& k, const auto& p) {
        return std::pair(k.left, k.right) < p;
    });
    return found != kerning.end() && found->left == left && found->right == right ? found->adjust64 : 0;
}

FontAtlas decodeFontAtlas(std::span<const std::byte> bytes, std::string_view sourceName) {
    return FontDecoder(bytes, sourceName).decode();
}

FontAtlas loadFontAtlas(const std::filesystem::path& path) {
    const std::vector<std::byte> bytes = readWholeFile(path, kMaxFontFileBytes, ContentFileKind::Font);
    return decodeFontAtlas(bytes, path.string());
}

std::vector<std::byte> encodeFontAtlas(const FontAtlas& font) {
    constexpr const char* kSource = "font encoding";
    // The one fault the file's fields could not carry to the decoder: a name too long for its
    // length byte. Counts are checked by the decoder against limits far below 32 bits.
    if (const std::string fault = imageNameFault(font.atlasImage); !fault.empty()) {
        throw std::invalid_argument(std::string(kSource) + ": " + fault);
    }
    ByteWriter out;
    out.append(kMagic);
    out.u32le(kVersion);
    out.u8le(static_cast<u8>(font.atlasImage.size()));
    out.append(font.atlasImage);
    out.u16le(font.atlasWidth);
    out.u16le(font.atlasHeight);
    out.u32le(static_cast<u32>(font.strikes.size()));
    for (const FontStrike& strike : font.strikes) {
        out.u16le(strike.pixelSize);
        out.u16le(static_cast<u16>(strike.ascender));
        out.u16le(static_cast<u16>(strike.descender));
        out.u16le(strike.lineHeight);
        out.u32le(static_cast<u32>(strike.glyphs.size()));
        out.u32le(static_cast<u32>(strike.kerning.size()));
        for (const FontGlyph& glyph : strike.glyphs) {
            out.u32le(glyph.codepoint);
            out.i32le(glyph.advance64);
            out.u16le(static_cast<u16>(glyph.bearingX));
            out.u16le(static_cast<u16>(glyph.bearingY));
            out.u16le(glyph.width);
            out.u16le(glyph.height);
            out.u16le(glyph.atlasX);
            out.u16le(glyph.atlasY);
        }
        for (const FontKerning& pair : strike.kerning) {
            out.u32le(pair.left);
            out.u32le(pair.right);
            out.i32le(pair.adjust64);
        }
    }
    // The decoder holds every rule; a font it refuses is the caller's mistake, so its fault
    // comes back as std::invalid_argument with the decoder's words.
    try {
        decodeFontAtlas(out.bytes(), kSource);
    } catch (const ContentError& error) {
        throw std::invalid_argument(error.what());
    }
    return out.release();
}

}  // namespace kestrune::content
