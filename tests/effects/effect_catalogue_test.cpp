#include <gtest/gtest.h>

#include "effects/effect_catalogue.h"

namespace kestrune::effects {
namespace {

// The sheets give alpha and colour separately; a key stores them packed as ARGB.
TEST(EffectCatalogue, KeysPackAlphaAboveTheColour) {
    const struct {
        std::size_t key;
        u32 colour;
    } cases[] = {
        {2, 0x90FFFFFF},   // track 0 at 0.1
        {33, 0xAAFF6D50},  // track 6 at 0.3
        {56, 0xFFFF7145},  // track 13 at 0.1
        {57, 0x80FF312A},  // track 13 at 0.5: the colour changes within the track
        {67, 0x00CC1F1F},  // track 16 at 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(keyframes()[c.key].colour, c.colour);
    }
}

}  // namespace
}  // namespace kestrune::effects
