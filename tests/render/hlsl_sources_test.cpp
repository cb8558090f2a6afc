#include "render/hlsl_sources.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "render/hresult_error.h"
#include "render/test_support.h"

namespace kestrune::render {
namespace {

TEST(HlslSources, ExactLengthsAndFraming) {
    const struct { const char* name; std::string_view source; std::size_t length; std::string_view marker; } cases[] = {
        {"primitive vertex", kPrimitiveVertexHlsl, 808, "output.color = input.color * tint;"},
        {"pixel", kPixelHlsl, 868, "clip(result.a - lightAndTexture.w);"},
        {"model vertex", kModelVertexHlsl, 1942, "uint4 skinMetadata; // enabled, matrix count, reserved, reserved"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::tuple(c.source.size(), c.source.front(), c.source.back(), c.source.find_first_of("\r\t")),
                  std::tuple(c.length, '\n', '\n', std::string_view::npos));
        EXPECT_NE(c.source.find(c.marker), std::string_view::npos);
    }
}

TEST(HresultError, MessageNamesTheCallAndTheCodeInEightUpperCaseDigits) {
    const struct { const char* operation; u32 hr; const char* message; } cases[] = {
        {"IDXGISwapChain1::QueryInterface(IDXGISwapChain2)", 0x80004002u,
         "IDXGISwapChain1::QueryInterface(IDXGISwapChain2) failed with HRESULT 0x80004002"},
        {"D3D11 device lost", 0x887A0006u, "D3D11 device lost failed with HRESULT 0x887A0006"},
        {"IDXGISwapChain::Present", 0x1u, "IDXGISwapChain::Present failed with HRESULT 0x00000001"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        testing::expectThrow<std::runtime_error>([&] { ThrowHResultError(c.operation, c.hr); }, c.message);
    }
}

}  // namespace
}  // namespace kestrune::render
