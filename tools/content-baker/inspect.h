#pragma once
// A readable summary of one content file, loaded through the runtime's own decoders: a
// model through loadModelFile (nodes, skins, meshes, materials, clips), an image through
// loadPngImage. The file's failures are the decoders' ContentErrors, unchanged.

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace kestrune::baker {

// Files ending in ".png" (any case) are images; everything else is read as a model.
void inspectFile(const std::filesystem::path& path, const std::optional<std::string>& expectedSha256,
                 std::ostream& out);

}  // namespace kestrune::baker
