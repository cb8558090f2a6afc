#pragma once
// Writes PNG files of one colour and any size, for textures larger than the shared test
// data holds: RGBA8, unfiltered rows in stored (uncompressed) deflate blocks.

#include <array>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace kestrune::render::testing {

namespace png_file_detail {

inline u32 crc32(std::string_view type, const std::vector<u8>& data) {
    u32 crc = 0xFFFF'FFFFu;
    const auto add = [&crc](u8 byte) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB8'8320u & (0u - (crc & 1u)));
        }
    };
    for (const char c : type) add(static_cast<u8>(c));
    for (const u8 byte : data) add(byte);
    return crc ^ 0xFFFF'FFFFu;
}

inline void putBigEndian(std::vector<u8>& out, u32 value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<u8>(value >> shift));
}

inline void putChunk(std::vector<u8>& file, std::string_view type, const std::vector<u8>& data) {
    putBigEndian(file, static_cast<u32>(data.size()));
    file.insert(file.end(), type.begin(), type.end());
    file.insert(file.end(), data.begin(), data.end());
    putBigEndian(file, crc32(type, data));
}

}  // namespace png_file_detail

inline void writeSolidPng(const std::filesystem::path& path, u32 widthPixels, u32 heightPixels,
                          const std::array<u8, 4>& rgba) {
    using namespace png_file_detail;
    std::vector<u8> raw;
    for (u32 y = 0; y < heightPixels; ++y) {
        raw.push_back(0);  // filter: none
        for (u32 x = 0; x < widthPixels; ++x) raw.insert(raw.end(), rgba.begin(), rgba.end());
    }
    std::vector<u8> zlib{0x78, 0x01};
    constexpr std::size_t kStoredBlockBytes = 65'535;
    for (std::size_t at = 0; at < raw.size(); at += kStoredBlockBytes) {
        const std::size_t size = std::min(kStoredBlockBytes, raw.size() - at);
        zlib.push_back(at + size == raw.size() ? 1 : 0);  // final flag, stored block
        zlib.push_back(static_cast<u8>(size));
        zlib.push_back(static_cast<u8>(size >> 8));
        zlib.push_back(static_cast<u8>(~size));
        zlib.push_back(static_cast<u8>(~size >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    u32 a = 1, b = 0;  // Adler-32 of the uncompressed data
    for (const u8 byte : raw) {
        a = (a + byte) % 65'521;
        b = (b + a) % 65'521;
    }
    putBigEndian(zlib, (b << 16) | a);

    std::vector<u8> header;
    putBigEndian(header, widthPixels);
    putBigEndian(header, heightPixels);
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive filters, no interlace
    std::vector<u8> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(file, "IHDR", header);
    putChunk(file, "IDAT", zlib);
    putChunk(file, "IEND", {});
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

}  // namespace kestrune::render::testing
