#include <gtest/gtest.h>

#include <vector>

#include "effects/effect_catalogue.h"

namespace kestrune::effects {
namespace {

std::vector<u32> definitionIdsOf(const SpawnRule& rule) {
    std::vector<u32> ids;
    for (u8 i = 0; i < rule.definitionCount; ++i) ids.push_back(effectDefinitions()[rule.definitions[i]].id);
    return ids;
}

TEST(EffectCatalogue, SpawnRuleCoversEverySkillAndKind) {
    const struct {
        u32 skill;
        u8 kind;
        std::vector<u32> definitions;  // empty: no rule
        bool followsTarget;
        u64 components;
    } cases[] = {
        {1001, 1, {194}, false, 4},
        {1001, 2, {195}, true, 4},
        {1001, 3, {195}, true, 4},
        {1002, 1, {221, 222}, false, 7},
        {1002, 2, {232}, false, 28},
        {1002, 3, {}, false, 0},
        {1001, 0, {}, false, 0},
        {1001, 4, {}, false, 0},
        {1002, 7, {}, false, 0},
        {1, 1, {}, false, 0},
        {1, 2, {}, false, 0},
        {2001, 1, {}, false, 0},
        {2001, 3, {}, false, 0},
        {2002, 1, {}, false, 0},
        {2002, 2, {}, false, 0},
        {1000, 1, {}, false, 0},
        {1003, 2, {}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "skill " << c.skill << " kind " << int{c.kind});
        const SpawnRule* rule = findSpawnRule(c.skill, c.kind);
        if (c.definitions.empty()) {
            EXPECT_EQ(rule, nullptr);
            continue;
        }
        ASSERT_NE(rule, nullptr);
        EXPECT_EQ(definitionIdsOf(*rule), c.definitions);
        EXPECT_EQ(rule->followsTarget, c.followsTarget);
        EXPECT_EQ(rule->componentCount, c.components);
    }
}

TEST(EffectCatalogue, FindsDefinitionsByIdOnly) {
    const EffectDefinition* charge = findEffectDefinition(195);
    ASSERT_NE(charge, nullptr);
    EXPECT_EQ(charge->durationSeconds, 2.0);
    EXPECT_EQ(charge->firstReference, 3);
    EXPECT_EQ(charge->lastReference, 5);
    for (const u32 absent : {0u, 1u, 193u, 196u, 233u}) {
        SCOPED_TRACE(absent);
        EXPECT_EQ(findEffectDefinition(absent), nullptr);
    }
}

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

TEST(EffectCatalogue, TrackKeysAreTheTracksOwnRun) {
    const auto tracks = keyframeTracks();
    const auto first = trackKeys(tracks.front());
    ASSERT_EQ(first.size(), 6u);
    EXPECT_EQ(first[0].time, 0.0f);
    EXPECT_EQ(first[1].time, 0.0f);  // listed twice at time 0
    EXPECT_EQ(first[2].time, 0.1f);

    const auto last = trackKeys(tracks.back());
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(&last.back(), &keyframes().back());
    EXPECT_EQ(last[1].b[1], 1.2f);
}

}  // namespace
}  // namespace kestrune::effects
