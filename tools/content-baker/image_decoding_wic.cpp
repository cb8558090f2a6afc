// The Windows build decodes PNG and JPEG source images through WIC, from the bytes in memory,
// with the same size check before any pixel memory exists as the Linux decoders.
#include <vector>

#include "base/text_format.h"
#include "content/wic_session_wic.h"
#include "image_decoding.h"

namespace kestrune::baker {
namespace {

using Microsoft::WRL::ComPtr;

Image decodeWithWic(std::span<const u8> bytes, const std::string& name, const content::ImageLimits& limits,
                    const GUID& container, const char* formatName) {
    const auto check = [&](HRESULT result, const char* operation) {
        if (FAILED(result)) {
            throw ImportError(name + ": " + operation +
                              formatText(" failed with HRESULT 0x%08X", static_cast<unsigned>(result)));
        }
    };
    const content::wic::Session session;
    IWICImagingFactory* const factory = session.factory();
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    check(factory->CreateStream(stream.GetAddressOf()), "IWICImagingFactory::CreateStream");
    // WIC only reads through the stream; its signature asks for a writable pointer.
    check(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())),
          "IWICStream::InitializeFromMemory");
    check(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                           decoder.GetAddressOf()),
          "IWICImagingFactory::CreateDecoderFromStream");
    GUID found{};
    check(decoder->GetContainerFormat(&found), "IWICBitmapDecoder::GetContainerFormat");
    if (found != container) {
        throw ImportError(name + ": WIC did not read it as " + formatName);
    }
    check(decoder->GetFrame(0, frame.GetAddressOf()), "IWICBitmapDecoder::GetFrame");
    UINT width = 0;
    UINT height = 0;
    check(frame->GetSize(&width, &height), "IWICBitmapFrameDecode::GetSize");
    checkImageSize(width, height, name, limits);
    check(factory->CreateFormatConverter(converter.GetAddressOf()), "IWICImagingFactory::CreateFormatConverter");
    check(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          "IWICFormatConverter::Initialize");
    std::vector<u8> pixels(std::size_t{width} * 4 * height);
    check(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size()), pixels.data()),
          "IWICFormatConverter::CopyPixels");
    return Image(width, height, std::move(pixels));
}

}  // namespace

Image decodePng(std::span<const u8> bytes, const std::string& name, const content::ImageLimits& limits) {
    return decodeWithWic(bytes, name, limits, GUID_ContainerFormatPng, "a PNG");
}

Image decodeJpeg(std::span<const u8> bytes, const std::string& name, const content::ImageLimits& limits) {
    return decodeWithWic(bytes, name, limits, GUID_ContainerFormatJpeg, "a JPEG");
}

}  // namespace kestrune::baker
