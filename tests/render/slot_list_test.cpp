#include "render/slot_list.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune::render {
namespace {

TEST(SlotList, IdsStartAtOneAndReleasedSlotsAreReused) {
    SlotList<std::string> slots;
    // Braced lists run their calls in order. Nothing of a released value stays behind.
    EXPECT_EQ((std::tuple{slots.add("a"), slots.add("b"), slots.add("c")}), std::tuple(1u, 2u, 3u));
    EXPECT_EQ((std::tuple{slots.release(2), slots.at(2)}), std::tuple("b", ""));
    EXPECT_EQ((std::tuple{slots.add("d"), slots.at(2), slots.at(3), slots.add("e")}), std::tuple(2u, "d", "c", 4u));
    EXPECT_THROW(slots.at(5), std::out_of_range);
    // Clearing forgets the free list too.
    slots.clear();
    EXPECT_EQ((std::tuple{slots.empty(), slots.add("f")}), std::tuple(true, 1u));
}

}  // namespace
}  // namespace kestrune::render
