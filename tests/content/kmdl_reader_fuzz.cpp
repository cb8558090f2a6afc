// libFuzzer target: parseModel over arbitrary bytes must either throw ContentError or
// return a model that the writer reproduces and the decoder reads back identically.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "content/kmdl_reader.h"
#include "content/kmdl_writer.h"

using namespace kestrune;
using namespace kestrune::content;

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    Model model;
    try {
        model = parseModel(bytes, ModelLimits{}, "fuzz.kmdl");
    } catch (const ContentError&) {
        return 0;
    }
    const std::vector<std::byte> rewritten = writeModel(model);
    Model again = parseModel(rewritten, ModelLimits{}, "rewritten.kmdl");
    again.sha256 = model.sha256;
    if (!(again == model) || writeModel(again) != rewritten) {
        std::fprintf(stderr, "decoded model does not survive a write and a second decode\n");
        std::abort();
    }
    return 0;
}
