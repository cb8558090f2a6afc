// Writes the fuzz seeds of the WAV decoder into the directory given as the only argument:
// the encoder's plain file and two with the chunks other writers add (LIST, odd-sized
// chunks and their pad bytes, a longer fmt chunk), so mutations start from every path.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "base/byte_writer.h"
#include "content/wav.h"

using namespace kestrune;
using namespace kestrune::content;

namespace {

std::vector<i16> ramp() {
    std::vector<i16> samples(64);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<i16>(i * 1031 - 32000);
    return samples;
}

void chunk(ByteWriter& out, std::string_view id, std::span<const std::byte> body) {
    out.append(id);
    out.u32le(static_cast<u32>(body.size()));
    out.append(body);
    if (body.size() % 2 != 0) out.u8le(0);
}

// The plain file's fmt and data chunks with others around them; `fmtExtra` zero bytes
// lengthen the fmt chunk.
std::vector<std::byte> decorated(std::span<const std::byte> plain, std::size_t fmtExtra) {
    ByteWriter out;
    out.append(plain.subspan(0, 12));
    const std::vector<std::byte> info(9, std::byte{'k'});
    chunk(out, "LIST", info);
    std::vector<std::byte> fmt(plain.begin() + 20, plain.begin() + 36);
    fmt.resize(fmt.size() + fmtExtra);
    chunk(out, "fmt ", fmt);
    chunk(out, "junk", std::vector<std::byte>(3));
    chunk(out, "data", plain.subspan(44));
    chunk(out, "cue ", std::vector<std::byte>(4));
    out.patchU32le(4, static_cast<u32>(out.size() - 8));
    return out.release();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wav-fuzz-seeds <directory>\n");
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::filesystem::create_directories(directory);
    const std::vector<std::byte> plain = encodeWav(ramp());
    const std::pair<const char*, std::vector<std::byte>> seeds[] = {
        {"plain.wav", plain}, {"chunks.wav", decorated(plain, 0)}, {"fmt-extension.wav", decorated(plain, 2)}};
    for (const auto& [name, bytes] : seeds) {
        std::ofstream out(directory / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", (directory / name).string().c_str());
            return 1;
        }
    }
    return 0;
}
