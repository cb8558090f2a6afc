// WIC decodes from the file's bytes in memory; every COM object lives only within one
// call and is released in reverse order of creation, COM last.
#include "content/model.h"
#include "content/png.h"
#include "content/png_checks.h"
#include "content/wic_session_wic.h"

namespace kestrune::content {

using Microsoft::WRL::ComPtr;
using wic::throwIfFailed;

DecodedImage loadPngImage(const std::filesystem::path& path, const ImageLimits& limits) {
    std::vector<std::byte> file = png_detail::readCheckedPngFile(path, limits);

    // Declared in creation order, so they are released in reverse: converter, frame,
    // decoder, stream, then the factory and COM.
    const wic::Session session;
    IWICImagingFactory* const factory = session.factory();
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;

    throwIfFailed(factory->CreateStream(stream.GetAddressOf()), "IWICImagingFactory::CreateStream");
    throwIfFailed(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(file.data()), static_cast<DWORD>(file.size())),
                  "IWICStream::InitializeFromMemory");
    throwIfFailed(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                                   decoder.GetAddressOf()),
                  "IWICImagingFactory::CreateDecoderFromStream");
    GUID container{};
    throwIfFailed(decoder->GetContainerFormat(&container), "IWICBitmapDecoder::GetContainerFormat");
    if (container != GUID_ContainerFormatPng) {
        png_detail::failForFile("WIC decoder did not identify a PNG container: ", path);
    }
    UINT frameCount = 0;
    throwIfFailed(decoder->GetFrameCount(&frameCount), "IWICBitmapDecoder::GetFrameCount");
    if (frameCount != 1) {
        png_detail::failForFile("PNG must contain exactly one frame: ", path);
    }
    throwIfFailed(decoder->GetFrame(0, frame.GetAddressOf()), "IWICBitmapDecoder::GetFrame");
    UINT width = 0;
    UINT height = 0;
    throwIfFailed(frame->GetSize(&width, &height), "IWICBitmapFrameDecode::GetSize");
    const std::size_t totalBytes = png_detail::checkedDecodedBytes(width, height, limits, path);

    WICPixelFormatGUID sourceFormat{};
    throwIfFailed(frame->GetPixelFormat(&sourceFormat), "IWICBitmapFrameDecode::GetPixelFormat");
    throwIfFailed(factory->CreateFormatConverter(converter.GetAddressOf()),
                  "IWICImagingFactory::CreateFormatConverter");
    BOOL canConvert = FALSE;
    throwIfFailed(converter->CanConvert(sourceFormat, GUID_WICPixelFormat32bppRGBA, &canConvert),
                  "IWICFormatConverter::CanConvert");
    if (!canConvert) {
        png_detail::failForFile("WIC cannot convert PNG to RGBA8: ", path);
    }
    throwIfFailed(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone, nullptr,
                                        0.0, WICBitmapPaletteTypeCustom),
                  "IWICFormatConverter::Initialize");

    DecodedImage image;
    image.width = width;
    image.height = height;
    image.stride = width * 4;
    image.pixels.assign(totalBytes, 0);
    throwIfFailed(converter->CopyPixels(nullptr, image.stride, static_cast<UINT>(totalBytes), image.pixels.data()),
                  "IWICFormatConverter::CopyPixels");
    return image;
}

}  // namespace kestrune::content
