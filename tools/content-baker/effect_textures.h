#pragma once
// Textures of the skill effects: straight-alpha RGBA, mostly white or pale so the
// catalogue's colours tint them, and drawn additively, so their alpha carries the shape.
// Quads see the whole image centred; the arc models map u across their width and v along
// the sweep (v = 1 at the leading end); the energy spikes map v from base to tip.

#include "image.h"

namespace kestrune::baker {

Image radialBurstTexture();   // wrchargedash01: soft flash with faint rays
Image arcStreakTexture();     // wrchargedash02: broad slash streak
Image arcSparkTexture();      // wrchargedash03: thin bright streak with sparks
Image shockRingTexture();     // wrchargedash04: expanding ring
Image emberOrbTexture();      // preffect011: gathering glow with swirling flares
Image lightFlareTexture();    // partstreetlight01: hot spot, six rays and a halo
Image explosionTexture();     // billcastlemonster01: ragged burst
Image starSlashTexture();     // wrslugger02: four-pointed impact star
Image quakeRingTexture(u32 seed);  // mtearthquake01/02: cracked ground ring
Image energySpikeTexture();   // mtminoattack01: hot streaks, fading toward the tips
Image rockTexture();          // mtminoattack02: opaque cracked stone
Image swirlTexture();         // mtgyration02: spiral swirl

}  // namespace kestrune::baker
