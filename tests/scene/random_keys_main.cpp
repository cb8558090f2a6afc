// kestrune-random-keys SEED FRAMES: the random player's keys for the real program, as the value
// of its --keys= option, for frames 1 to FRAMES: the scripts of seeds SEED, SEED + 1, ... one
// after another, as a player who keeps on mashing.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "random_player.h"

int main(int argc, char** argv) {
    using namespace kestrune::scene::testing;
    char* end = nullptr;
    const unsigned long long seed = argc == 3 ? std::strtoull(argv[1], &end, 10) : 0;
    const unsigned long long frames = argc == 3 && *end == '\0' ? std::strtoull(argv[2], &end, 10) : 0;
    if (argc != 3 || *end != '\0' || frames == 0) {
        std::fprintf(stderr, "usage: kestrune-random-keys SEED FRAMES\n");
        return 2;
    }
    std::string keys;
    for (unsigned long long offset = 0, next = seed; offset < frames; ++next) {
        RandomDuel duel = randomDuel(next, false);
        for (ScriptKey& key : duel.keys) key.frame += static_cast<kestrune::u32>(offset);
        std::erase_if(duel.keys, [frames](const ScriptKey& key) { return key.frame > frames; });
        const std::string part = keysArgument(duel);
        keys += (keys.empty() || part.empty() ? "" : ",") + part;
        offset += duel.frames();
    }
    std::printf("%s\n", keys.c_str());
    return 0;
}
