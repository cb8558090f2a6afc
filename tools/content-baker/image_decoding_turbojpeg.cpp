#include <turbojpeg.h>

#include <memory>

#include "image_decoding.h"

namespace kestrune::baker {
namespace {

struct HandleDeleter {
    void operator()(void* handle) const noexcept { tjDestroy(handle); }
};

}  // namespace

Image decodeJpeg(std::span<const u8> bytes, const std::string& name, const content::ImageLimits& limits) {
    const std::unique_ptr<void, HandleDeleter> handle(tjInitDecompress());
    if (!handle) {
        throw ImportError(name + ": tjInitDecompress failed");
    }
    // Warnings (extra bytes, a truncated last scan) leave a usable picture; only errors fail.
    const auto check = [&](int result, const char* operation) {
        if (result != 0 && tjGetErrorCode(handle.get()) != TJERR_WARNING) {
            throw ImportError(name + ": " + operation + " failed (" + tjGetErrorStr2(handle.get()) + ")");
        }
    };
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    check(tjDecompressHeader3(handle.get(), bytes.data(), static_cast<unsigned long>(bytes.size()), &width, &height,
                              &subsampling, &colourspace),
          "tjDecompressHeader3");
    checkImageSize(static_cast<u64>(width), static_cast<u64>(height), name, limits);
    std::vector<u8> pixels(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
    // Progressive files may hold any number of scans; the limit stops one that never ends.
    check(tjDecompress2(handle.get(), bytes.data(), static_cast<unsigned long>(bytes.size()), pixels.data(), width, 0,
                        height, TJPF_RGBA, TJFLAG_LIMITSCANS),
          "tjDecompress2");
    return Image(static_cast<u32>(width), static_cast<u32>(height), std::move(pixels));
}

}  // namespace kestrune::baker
