// Writes the glTF importer's fuzz seeds into the directory given as the only argument: the
// tests' skinned triangle as .gltf (buffer in a data URI) and as .glb (buffer in the binary
// chunk), and the triangle with a PNG texture in a buffer view.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gltf_test_support.h"
#include "image.h"
#include "png_encoder.h"

namespace {

using kestrune::u8;
using kestrune::baker::test::GltfDocument;
using kestrune::baker::test::glb;

void write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gltf-fuzz-seeds DIR\n");
        return 1;
    }
    const std::filesystem::path directory = argv[1];
    std::filesystem::create_directories(directory);
    const GltfDocument triangle = kestrune::baker::test::skinnedTriangle();
    write(directory / "triangle.gltf", triangle.text());
    write(directory / "triangle.glb", glb(triangle));

    GltfDocument textured = triangle;
    kestrune::baker::Image picture(2, 2);
    picture.set(1, 1, {1.0, 0.5, 0.0, 1.0});
    const std::vector<std::byte> png = kestrune::baker::encodePng(picture);
    const auto* pngFirst = reinterpret_cast<const u8*>(png.data());
    const int view = static_cast<int>(textured.json["bufferViews"].size());
    textured.accessor(std::vector<u8>(pngFirst, pngFirst + png.size()), 5121, "SCALAR", png.size());
    textured.json["images"] = {{{"bufferView", view}, {"mimeType", "image/png"}}};
    textured.json["textures"] = {{{"source", 0}}};
    textured.json["materials"] = {{{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}}};
    textured.json["meshes"][0]["primitives"][0]["material"] = 0;
    write(directory / "textured.glb", glb(textured));
    return 0;
}
