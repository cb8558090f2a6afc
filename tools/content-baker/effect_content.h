#pragma once
// The effect content: one model folder per model path and one texture per texture path
// that the effect catalogue names, so the scene's lookups by catalogue key always hit.
// Paths of the files are those keys below "effects/".

#include <string>
#include <vector>

#include "bake.h"

namespace kestrune::baker {

inline constexpr const char* kEffectsFolder = "effects/";

// The distinct model and texture paths of the catalogue's templates, in catalogue order.
std::vector<std::string> catalogueModelPaths();
std::vector<std::string> catalogueTexturePaths();

// Every effect file; throws std::logic_error naming a catalogue path the baker has no
// generator for.
std::vector<BakedFile> bakeEffects();

}  // namespace kestrune::baker
