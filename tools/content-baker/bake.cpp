#include "bake.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "characters.h"
#include "content/sha256.h"
#include "effect_content.h"

namespace kestrune::baker {

std::vector<BakedFile> bakeContent() {
    std::vector<BakedFile> files;
    for (auto part : {bakeWarrior, bakeTemplar, bakeEffects}) {
        std::vector<BakedFile> baked = part();
        for (BakedFile& file : baked) files.push_back(std::move(file));
    }
    return files;
}

std::string manifestText(std::span<const BakedFile> files) {
    std::vector<const BakedFile*> sorted;
    for (const BakedFile& file : files) sorted.push_back(&file);
    std::sort(sorted.begin(), sorted.end(), [](const BakedFile* a, const BakedFile* b) { return a->path < b->path; });
    std::ostringstream text;
    for (const BakedFile* file : sorted) {
        text << file->path << ' ' << file->bytes.size() << ' '
             << content::toHexUpper(content::sha256Digest(file->bytes)) << '\n';
    }
    return text.str();
}

namespace {

void writeFile(const std::filesystem::path& path, std::span<const std::byte> bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("Unable to write " + path.string() + ".");
    }
}

}  // namespace

void writeContentDirectory(const std::filesystem::path& directory, std::span<const BakedFile> files,
                           std::ostream& progress) {
    for (const BakedFile& file : files) {
        writeFile(directory / file.path, file.bytes);
        progress << file.path << " (" << file.bytes.size() << " bytes)\n";
    }
    const std::string manifest = manifestText(files);
    writeFile(directory / kManifestName,
              std::span(reinterpret_cast<const std::byte*>(manifest.data()), manifest.size()));
    progress << kManifestName << " (" << manifest.size() << " bytes)\n";
}

}  // namespace kestrune::baker
