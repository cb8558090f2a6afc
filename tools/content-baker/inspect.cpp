#include "inspect.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/text_format.h"
#include "content/content_file.h"
#include "content/kmdl_reader.h"
#include "content/png.h"
#include "content/sha256.h"

namespace kestrune::baker {
namespace {

const char* alphaModeName(u32 mode) noexcept {
    switch (mode) {
    case content::kAlphaOpaque: return "opaque";
    case content::kAlphaTested: return "alpha-tested";
    default: return "blended";
    }
}

bool isPngPath(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".png";
}

void inspectModel(const std::filesystem::path& path, const std::optional<std::string>& expectedSha256,
                  std::ostream& out) {
    content::ModelLimits limits;
    limits.expectedSha256 = expectedSha256;
    const content::Model model = content::loadModelFile(path, limits);

    std::size_t roots = 0;
    for (const content::Node& node : model.nodes) roots += node.parent < 0 ? 1 : 0;
    out << path.string() << ": Kestrune Model\n";
    out << "  SHA-256 " << content::toHexUpper(model.sha256) << '\n';
    out << "  nodes " << model.nodes.size() << " (" << roots << (roots == 1 ? " root)\n" : " roots)\n");
    out << "  skins " << model.skins.size() << '\n';
    for (const content::Skin& skin : model.skins) {
        out << "    " << skin.name << ": " << skin.joints.size() << " joints\n";
    }
    out << "  meshes " << model.meshes.size() << '\n';
    for (const content::Mesh& mesh : model.meshes) {
        const std::string material =
            mesh.material >= 0 ? model.materials[static_cast<std::size_t>(mesh.material)].name : std::string("none");
        out << "    " << mesh.name << ": " << mesh.vertices.size() << " vertices, " << mesh.indices.size() / 3
            << " triangles, material " << material << (mesh.skin >= 0 ? ", skinned\n" : ", rigid\n");
    }
    out << "  materials " << model.materials.size() << '\n';
    for (const content::Material& material : model.materials) {
        out << "    " << material.name << ": "
            << (material.texture.empty() ? std::string("no texture") : "texture " + material.texture) << ", "
            << alphaModeName(material.alphaMode) << (material.doubleSided ? ", double-sided\n" : "\n");
    }
    out << "  clips " << model.clips.size() << '\n';
    for (const content::AnimationClip& clip : model.clips) {
        out << "    " << clip.name << ": "
            << formatText("%.3f s at %g Hz, %u frames\n", static_cast<f64>(clip.duration),
                          static_cast<f64>(clip.sampleRate), clip.frameCount);
    }
}

void inspectImage(const std::filesystem::path& path, const std::optional<std::string>& expectedSha256,
                  std::ostream& out) {
    content::ImageLimits limits;
    limits.expectedSha256 = expectedSha256;
    const content::DecodedImage image = content::loadPngImage(path, limits);
    const std::vector<std::byte> bytes =
        content::readWholeFile(path, limits.maxFileBytes, content::ContentFileKind::Png);
    out << path.string() << ": PNG\n";
    out << "  SHA-256 " << content::toHexUpper(content::sha256Digest(bytes)) << '\n';
    out << "  " << image.width << " x " << image.height << " pixels, RGBA8, " << bytes.size() << " bytes\n";
}

}  // namespace

void inspectFile(const std::filesystem::path& path, const std::optional<std::string>& expectedSha256,
                 std::ostream& out) {
    if (isPngPath(path)) {
        inspectImage(path, expectedSha256, out);
    } else {
        inspectModel(path, expectedSha256, out);
    }
}

}  // namespace kestrune::baker
