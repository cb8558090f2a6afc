#include "render/slot_list.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune::render {
namespace {

TEST(SlotList, IdsStartAtOneAndReleasedSlotsAreReused) {
    SlotList<std::string> slots;
    EXPECT_EQ(slots.add("a"), 1u);
    EXPECT_EQ(slots.add("b"), 2u);
    EXPECT_EQ(slots.add("c"), 3u);
    EXPECT_EQ(slots.release(2), "b");
    EXPECT_EQ(slots.at(2), "");  // nothing of the released value stays behind
    EXPECT_EQ(slots.add("d"), 2u);
    EXPECT_EQ(slots.at(2), "d");
    EXPECT_EQ(slots.at(3), "c");
    EXPECT_EQ(slots.add("e"), 4u);
    EXPECT_THROW(slots.at(5), std::out_of_range);
    slots.clear();
    EXPECT_TRUE(slots.empty());
    EXPECT_EQ(slots.add("f"), 1u);  // clearing forgets the free list too
}

}  // namespace
}  // namespace kestrune::render
