#pragma once
// Surface textures of the characters. Ring surfaces map u around and v along, so most of
// these tile in u; the ones with trims (cloth hems, robe borders) put the trim at the v
// where the surfaces using them end. Sizes are small: the renderer samples without
// mipmaps, so fine detail would only shimmer.

#include "image.h"

namespace kestrune::baker {

Image steelPlateTexture();   // brushed steel with a seam and rivets near v = 0 and v = 1
Image chainmailTexture();    // dark riveted rings
Image clothTexture(Colour cloth, Colour trim);  // heavy weave, trim band at the hem (v near 1)
Image leatherTexture(Colour leather);          // grain with stitched edges along v = 0 and 1
Image goldTexture();         // polished gold with soft streaks
Image shieldFaceTexture();   // heraldic face in polar form: u the angle, v the radius
Image glowTexture(Colour core);  // soft glowing band, brightest along v = 0.5, alpha fading out
Image skinTexture(Colour skin);
Image robeTexture();         // ivory robe with a gold and blue border at the hem
Image woodTexture();         // grain running along v

}  // namespace kestrune::baker
