#include "gltf_import.h"

#include "base/text_format.h"

namespace kestrune::baker {

void importCharacterFile(const std::filesystem::path& path, const std::filesystem::path& outDirectory,
                         const ImportOptions& options, std::ostream& progress) {
    const std::vector<std::byte> bytes = readSourceFile(path);
    const ImportedCharacter imported = importGltf(bytes, path.parent_path(), path.filename().string(), options);
    for (const std::string& warning : imported.warnings) progress << "warning: " << warning << '\n';
    if (imported.standingHeightMetres) {
        progress << formatText("standing height %.2f m (the idle pose)\n", *imported.standingHeightMetres);
    }
    writeContentDirectory(outDirectory, imported.files, progress);
}

}  // namespace kestrune::baker
