#pragma once
// Counters of the duel scene that the smoke report prints; all zero without a scene.

#include "base/types.h"

namespace kestrune::scene {

struct SceneStatistics {
    u32 charactersLoaded = 0;
    u32 effectModelsLoaded = 0;
    u32 clipsAvailable = 0;
    u32 meshesAvailable = 0;
    u64 authoritativeSnapshots = 0;
    u64 authoritativeEvents = 0;
    u64 effectsSpawned = 0;
};

}  // namespace kestrune::scene
