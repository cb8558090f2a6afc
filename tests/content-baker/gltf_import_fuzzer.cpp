// libFuzzer target: any bytes as a .gltf or .glb. The importer either returns a model the
// runtime's decoder accepted or throws ImportError; any other exception, crash or sanitizer
// report is a bug. The input's length picks no class, the warrior or the templar, so the
// placement path runs too. External files are never read.

#include <cstddef>
#include <cstdint>
#include <span>

#include "characters.h"
#include "gltf_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrune::baker;
    const ClassDrawConstants* classes[] = {nullptr, &kWarriorDraw, &kTemplarDraw};
    ImportOptions options{.characterClass = classes[size % 3], .readExternalFiles = false};
    // Whatever the file's first animation is called, it is the idle.
    if (options.characterClass != nullptr) options.clips = {{options.characterClass->clipNames.front(), "#0"}};
    try {
        importGltf(std::span(reinterpret_cast<const std::byte*>(data), size), "/nonexistent", "fuzz.gltf", options);
    } catch (const ImportError&) {
    }
    return 0;
}
