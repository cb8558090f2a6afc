// The content directory this build baked, read back the way the program reads it: models
// through loadModelFile, textures through loadPngImage (libspng on Linux, WIC on Windows),
// sounds through loadWav, each pinned to the digest its MANIFEST line gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "content/content_file.h"
#include "content/kmdl_reader.h"
#include "content/png.h"
#include "content/sha256.h"
#include "content/sound_catalogue.h"
#include "content/wav.h"
#include "effects/effect_catalogue.h"

namespace kestrune::content {
namespace {

const std::filesystem::path kContent = KESTRUNE_CONTENT_DIR;

struct ManifestEntry { std::string path; u64 sizeBytes = 0; std::string sha256; };

std::vector<ManifestEntry> readManifest() {
    std::ifstream in(kContent / "MANIFEST");
    std::vector<ManifestEntry> entries;
    // One line per file: path, size in bytes, SHA-256.
    for (ManifestEntry entry; in >> entry.path >> entry.sizeBytes >> entry.sha256;) entries.push_back(entry);
    return entries;
}

TEST(BakedContent, HoldsBothCharactersAndExactlyTheEffectFilesAndSoundsTheCataloguesName) {
    std::set<std::string> expected{"warrior/character.kmdl", "templar/character.kmdl"};
    for (const effects::ComponentTemplate& t : effects::componentTemplates()) {
        if (!t.modelPath.empty()) expected.insert("effects/" + std::string(t.modelPath));
        expected.insert("effects/" + std::string(t.texturePath));
    }
    for (const std::string_view path : kSoundPaths) expected.insert(std::string(path));
    ASSERT_EQ(expected.size(), 2u + 6u + 13u + kSoundCount);

    std::set<std::string> baked;
    for (const ManifestEntry& entry : readManifest()) {
        const bool character = entry.path.starts_with("warrior/") || entry.path.starts_with("templar/");
        if (!character || entry.path.ends_with(".kmdl")) baked.insert(entry.path);
    }
    EXPECT_EQ(baked, expected);
}

// Each file is loaded pinned to its MANIFEST digest, so the digest and size are checked too.
TEST(BakedContent, ManifestListsEveryFileSortedAndEachLoadsThroughTheRuntimeDecoders) {
    const std::vector<ManifestEntry> entries = readManifest();
    ASSERT_FALSE(entries.empty()) << "no MANIFEST in " << kContent.string();
    std::set<std::string> onDisk;
    for (const auto& item : std::filesystem::recursive_directory_iterator(kContent)) {
        if (item.is_regular_file()) onDisk.insert(std::filesystem::relative(item.path(), kContent).generic_string());
    }
    onDisk.erase("MANIFEST");
    std::set<std::string> listed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ManifestEntry& entry = entries[i];
        SCOPED_TRACE(entry.path);
        listed.insert(entry.path);
        if (i > 0) EXPECT_LT(entries[i - 1].path, entry.path);
        const std::filesystem::path path = kContent / entry.path;
        EXPECT_EQ(std::filesystem::file_size(path), entry.sizeBytes);
        EXPECT_EQ(entry.sha256.find_first_not_of("0123456789ABCDEF"), std::string::npos);  // upper-case hex
        if (entry.path.ends_with(".png")) {
            const DecodedImage image = loadPngImage(path, {.expectedSha256 = entry.sha256});
            EXPECT_GT(image.width, 0u);
            EXPECT_EQ(image.pixels.size(), std::size_t{image.stride} * image.height);
            continue;
        }
        if (entry.path.ends_with(".wav")) {
            // loadWav takes no digest: the bytes are hashed here, and decode as the file does.
            const std::vector<std::byte> bytes = readWholeFile(path, kMaxSoundFileBytes, ContentFileKind::Wav);
            EXPECT_EQ(toHexUpper(sha256Digest(bytes)), entry.sha256);
            const std::vector<i16> samples = loadWav(path);
            EXPECT_FALSE(samples.empty());
            EXPECT_EQ(samples, decodeWav(bytes, entry.path));
            continue;
        }
        ASSERT_TRUE(entry.path.ends_with(".kmdl"));
        const Model model = loadModelFile(path, {.expectedSha256 = entry.sha256});
        EXPECT_FALSE(model.meshes.empty());
        // Textures named by materials lie beside the model and decode too.
        for (const Material& material : model.materials) {
            if (material.texture.empty()) continue;
            EXPECT_GT(loadPngImage(path.parent_path() / material.texture, ImageLimits{}).width, 0u) << material.texture;
        }
    }
    EXPECT_EQ(listed, onDisk);
}

}  // namespace
}  // namespace kestrune::content
