#include "content/kmdl_writer.h"

#include <gtest/gtest.h>

#include "content/kmdl_reader.h"
#include "content_test_support.h"
#include "kmdl_test_support.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

TEST(KmdlWriter, StoresEachStringOnceWithTheEmptyStringFirst) {
    Model model = richModel();
    model.meshes[1].name = "body";  // also a skin's and a mesh's name already
    model.materials[1].texture = "textures/body.png";
    const std::vector<std::byte> bytes = writeModel(model);
    const std::string expectedTable = std::string("\0root\0hips\0spine-\xC3\x9F\0prop\0second root\0body\0skin\0"
                                                  "textures/body.png\0glow\0idle\0walk\0Idle\0",
                                                  85);
    ASSERT_EQ(layoutOf(model, bytes).tableBytes, expectedTable.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 44, expectedTable.size()), expectedTable);
    EXPECT_EQ(parse(bytes).meshes[1].name, "body");
}

TEST(KmdlWriter, WritesFieldsLittleEndianAtTheirOffsets) {
    Model model = richModel();
    const std::vector<std::byte> bytes = writeModel(model);
    const KmdlLayout l = layoutOf(model, bytes);
    // Node, skin, mesh, material and clip counts.
    const std::pair<std::size_t, u32> counts[] = {{16, 5}, {20, 1}, {24, 2}, {28, 2}, {32, 3}};
    for (const auto& [offset, count] : counts) EXPECT_EQ(loadU32le(bytes.data() + offset), count) << offset;
    EXPECT_EQ(bytes[12], std::byte{0x04});  // endian marker 0x01020304
    EXPECT_EQ(loadI32le(bytes.data() + l.nodes + 56 * 3 + 4), 0);            // prop's parent
    EXPECT_EQ(loadF32le(bytes.data() + l.nodes + 56 * 3 + 8), 0.3f);         // prop's translation.x
    EXPECT_EQ(loadU32le(bytes.data() + l.skins[0] + 8), 2u);                 // joint count
    EXPECT_EQ(loadF32le(bytes.data() + l.skins[0] + 20 + 13 * 4), -1.0f);    // first inverse bind, element 13
    EXPECT_EQ(loadU32le(bytes.data() + l.materials + 32 + 28), 1u);          // glow is double-sided
    EXPECT_EQ(loadU16le(bytes.data() + l.meshes[1] + 24 + 32 + 2), 300u);    // sword vertex 0, joint 1
    EXPECT_EQ(loadU32le(bytes.data() + l.meshes[0] + 24 + 56 * 4 + 8), 2u);  // body's third index
    EXPECT_EQ(loadU32le(bytes.data() + l.clips[1] + 12), 5u);                // walk's frame count
    EXPECT_EQ(l.end, bytes.size());
}

TEST(KmdlWriter, RefusesModelsWithoutAByteLayout) {
    Model nul = minimalModel();
    nul.nodes[0].name = std::string("ro\0ot", 5);
    expectError<std::invalid_argument>([&] { writeModel(nul); }, "model string contains a NUL byte");
    Model matrices = richModel();
    matrices.skins[0].inverseBindMatrices.pop_back();
    expectError<std::invalid_argument>([&] { writeModel(matrices); }, "skin needs one inverse-bind matrix per joint");
    Model samples = richModel();
    samples.clips[1].samples.pop_back();
    expectError<std::invalid_argument>([&] { writeModel(samples); }, "clip needs frameCount x nodeCount samples");
}

}  // namespace
}  // namespace kestrune::content
