#pragma once
// The runtime content directory as the baker produces it: every file's path (relative,
// '/'-separated) and bytes, in one fixed order, and the directory written to disk with its
// MANIFEST. The same code gives the same bytes on every run: no clocks, no unordered
// containers in the output path, no uninitialised bytes.

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace kestrune::baker {

struct BakedFile {
    std::string path;
    std::vector<std::byte> bytes;
};

inline constexpr const char* kManifestName = "MANIFEST";

// Everything: both characters with their textures, the effect models and textures, the sounds,
// the HUD's font and its atlas (the font only where this build rasterises fonts: not on Windows).
std::vector<BakedFile> bakeContent();

// One line per file, sorted by path: "<path> <bytes> <SHA-256 in upper-case hex>".
std::string manifestText(std::span<const BakedFile> files);

// Writes every file below `directory` (creating folders), reporting "<path> (<n> bytes)" on
// `progress` as each one is written, and the MANIFEST last. Files in the folders the bake
// owns (those its paths start with) that it no longer produces are removed first and
// reported as "removed <path>", so a renamed texture leaves nothing stale for the scene to
// load; nothing else in `directory` is touched. Throws std::runtime_error "Unable to write
// <path>." when a file cannot be written.
void writeContentDirectory(const std::filesystem::path& directory, std::span<const BakedFile> files,
                           std::ostream& progress);

}  // namespace kestrune::baker
