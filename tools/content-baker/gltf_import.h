#pragma once
// kestrune-bake import: a skinned glTF 2.0 character (.gltf with its buffers and images, or
// .glb) into a Kestrune Model the runtime loads, with its base-colour textures beside it as
// PNG. The glTF is read by tinygltf; everything the runtime's decoder would refuse is refused
// here first with an ImportError naming the glTF element, and what the runtime cannot show
// (morph targets, more than four influences, a second UV set, cameras, lights, unknown
// extensions) is dropped with a warning.
//
// With a class, the model is turned, lifted and optionally scaled so that the scene's draw
// constants stand it on the ground facing its yaw, and its clips are named for the class's
// presentation table. Offline code; allocates freely.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "bake.h"
#include "characters.h"
#include "content/model.h"
#include "gltf_accessors.h"

namespace kestrune::baker {

inline constexpr f32 kDefaultImportSampleRate = 30.0f;  // frames per second
// The largest glTF or GLB file, or external buffer or image, the importer reads.
inline constexpr u64 kMaxSourceFileBytes = u64{512} << 20;
inline constexpr const char* kImportedModelName = "character.kmdl";
// A character imported without --height that stands outside these heights is warned about:
// its file is most likely authored in other units (centimetres, inches) than metres.
inline constexpr f64 kPlausibleHeightMinMetres = 0.5;
inline constexpr f64 kPlausibleHeightMaxMetres = 4.0;

// A clip of the output and the glTF animation it comes from: the animation's name, or "#N"
// for the N-th animation of the file (from 0).
struct ClipMapping {
    std::string clip;
    std::string source;
};

struct ImportOptions {
    const ClassDrawConstants* characterClass = nullptr;  // kWarriorDraw, kTemplarDraw, or none
    std::vector<ClipMapping> clips;
    f32 sampleRate = kDefaultImportSampleRate;
    std::optional<f64> heightMetres;  // with a class: the idle pose's height; none keeps the size
    bool readExternalFiles = true;    // buffers and images named by relative URIs
};

struct ImportedCharacter {
    content::Model model;           // the written model as the runtime decodes it
    std::vector<BakedFile> files;   // character.kmdl, then the textures it names
    std::vector<std::string> warnings;
    std::optional<f64> standingHeightMetres;  // with a class: the idle pose's height as placed
};

// `file` holds the .gltf or .glb bytes; `directory` is where relative URIs point; `sourceName`
// opens every message. Throws ImportError.
ImportedCharacter importGltf(std::span<const std::byte> file, const std::filesystem::path& directory,
                             const std::string& sourceName, const ImportOptions& options);

// The whole file, refused with ImportError when it cannot be read or is above kMaxSourceFileBytes.
std::vector<std::byte> readSourceFile(const std::filesystem::path& path);

// Reads `path`, imports it and writes the files below `outDirectory` (a character directory
// that can replace content/warrior or content/templar), reporting warnings and files on
// `progress`. Throws ImportError, and std::runtime_error when a file cannot be read or written.
void importCharacterFile(const std::filesystem::path& path, const std::filesystem::path& outDirectory,
                         const ImportOptions& options, std::ostream& progress);

}  // namespace kestrune::baker
