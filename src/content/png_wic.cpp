// WIC decodes from the file's bytes in memory; every COM object lives only within one
// call and is released in reverse order of creation, COM last.
#include <objbase.h>
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include "content/model.h"
#include "content/png.h"
#include "content/png_checks.h"

namespace kestrune::content {
namespace {

using Microsoft::WRL::ComPtr;

// The version-1 imaging factory, named by its CLSID so that the SDK's choice of default
// factory does not change which one is created.
constexpr CLSID kClsidWicImagingFactory = {
    0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};

void throwIfFailed(HRESULT result, const char* operation) {
    if (FAILED(result)) {
        throwHresult(operation, static_cast<i32>(result));
    }
}

// COM for this call. A thread already in a single-threaded apartment keeps it
// (RPC_E_CHANGED_MODE) and is left initialised.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {
        if (FAILED(result_) && result_ != RPC_E_CHANGED_MODE) {
            throwHresult("CoInitializeEx", static_cast<i32>(result_));
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }

private:
    HRESULT result_;
};

}  // namespace

DecodedImage loadPngImage(const std::filesystem::path& path, const ImageLimits& limits) {
    std::vector<std::byte> file = png_detail::readCheckedPngFile(path, limits);

    // Declared in creation order, so they are released in reverse: converter, frame,
    // decoder, stream, factory, then COM.
    const ComScope com;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;

    throwIfFailed(CoCreateInstance(kClsidWicImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(factory.GetAddressOf())),
                  "CoCreateInstance(CLSID_WICImagingFactory)");
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
