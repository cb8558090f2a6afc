#include "bake.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "characters.h"
#include "content/sha256.h"
#include "effect_content.h"
#include "font_baking.h"
#include "sound_synthesis.h"

namespace kestrune::baker {

std::vector<BakedFile> bakeContent() {
    std::vector<BakedFile> files;
    for (auto part : {bakeWarrior, bakeTemplar, bakeEffects, bakeSounds}) {
        std::vector<BakedFile> baked = part();
        for (BakedFile& file : baked) files.push_back(std::move(file));
    }
    if (fontRasteriserAvailable()) {
        for (BakedFile& file : bakeHudFont()) files.push_back(std::move(file));
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

// Regular files below the bake's top folders ("warrior", "effects", ...) that it does not
// produce, in path order.
std::vector<std::string> staleFiles(const std::filesystem::path& directory, std::span<const BakedFile> files) {
    std::set<std::string> produced;
    std::set<std::string> folders;
    for (const BakedFile& file : files) {
        produced.insert(file.path);
        folders.insert(file.path.substr(0, file.path.find('/')));
    }
    std::vector<std::string> stale;
    for (const std::string& folder : folders) {
        if (!std::filesystem::is_directory(directory / folder)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(directory / folder)) {
            const std::string path = std::filesystem::relative(entry.path(), directory).generic_string();
            if (entry.is_regular_file() && !produced.contains(path)) stale.push_back(path);
        }
    }
    std::sort(stale.begin(), stale.end());
    return stale;
}

}  // namespace

void writeContentDirectory(const std::filesystem::path& directory, std::span<const BakedFile> files,
                           std::ostream& progress) {
    for (const std::string& path : staleFiles(directory, files)) {
        std::filesystem::remove(directory / path);
        progress << "removed " << path << '\n';
    }
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
