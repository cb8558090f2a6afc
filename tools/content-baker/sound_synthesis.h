#pragma once
// The duel's sounds, synthesised from code: noise, oscillators, simple filters and
// envelopes, each sound normalised to its peak level, starting at its first sample and
// fading to an exact zero at its last. Arithmetic is + - * / and sqrt on doubles and the
// noise is a fixed-seed integer generator, so the samples are the same on every platform.

#include <vector>

#include "bake.h"
#include "base/types.h"
#include "content/sound_catalogue.h"

namespace kestrune::baker {

// The 48 kHz mono samples of one sound.
std::vector<i16> synthesizeSound(content::Sound sound);

// One WAV file per content::kSoundPaths entry, in catalogue order.
std::vector<BakedFile> bakeSounds();

}  // namespace kestrune::baker
