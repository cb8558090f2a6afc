// WIC's PNG encoder takes blue-green-red pixels, so rows are swapped into that order first;
// it writes into a growing memory stream whose bytes are copied out once it is committed.
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "content/png_checks.h"
#include "content/png_writer.h"
#include "content/wic_session_wic.h"

namespace kestrune::content {

using Microsoft::WRL::ComPtr;
using wic::throwIfFailed;

std::vector<std::byte> encodePng(u32 widthPixels, u32 heightPixels, PngPixels format, std::span<const u8> pixels) {
    png_detail::checkEncodeSizes(widthPixels, heightPixels, format, pixels.size());
    const std::size_t bytesPerPixel = static_cast<std::size_t>(format);
    std::vector<u8> swapped(pixels.begin(), pixels.end());
    for (std::size_t i = 0; i < swapped.size(); i += bytesPerPixel) {
        std::swap(swapped[i], swapped[i + 2]);
    }

    const wic::Session session;
    ComPtr<IStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> frameOptions;
    throwIfFailed(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()), "CreateStreamOnHGlobal");
    throwIfFailed(session.factory()->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.GetAddressOf()),
                  "IWICImagingFactory::CreateEncoder");
    throwIfFailed(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache), "IWICBitmapEncoder::Initialize");
    throwIfFailed(encoder->CreateNewFrame(frame.GetAddressOf(), frameOptions.GetAddressOf()),
                  "IWICBitmapEncoder::CreateNewFrame");
    throwIfFailed(frame->Initialize(frameOptions.Get()), "IWICBitmapFrameEncode::Initialize");
    throwIfFailed(frame->SetSize(widthPixels, heightPixels), "IWICBitmapFrameEncode::SetSize");
    const WICPixelFormatGUID wanted =
        format == PngPixels::rgba8 ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
    WICPixelFormatGUID accepted = wanted;
    throwIfFailed(frame->SetPixelFormat(&accepted), "IWICBitmapFrameEncode::SetPixelFormat");
    if (accepted != wanted) {
        throw std::runtime_error("IWICBitmapFrameEncode::SetPixelFormat chose another pixel format");
    }
    const UINT strideBytes = static_cast<UINT>(widthPixels * bytesPerPixel);
    throwIfFailed(frame->WritePixels(heightPixels, strideBytes, static_cast<UINT>(swapped.size()), swapped.data()),
                  "IWICBitmapFrameEncode::WritePixels");
    throwIfFailed(frame->Commit(), "IWICBitmapFrameEncode::Commit");
    throwIfFailed(encoder->Commit(), "IWICBitmapEncoder::Commit");

    STATSTG status{};
    throwIfFailed(stream->Stat(&status, STATFLAG_NONAME), "IStream::Stat");
    HGLOBAL memory = nullptr;
    throwIfFailed(GetHGlobalFromStream(stream.Get(), &memory), "GetHGlobalFromStream");
    const void* bytes = GlobalLock(memory);
    if (bytes == nullptr) {
        throw std::runtime_error("GlobalLock failed on the PNG stream");
    }
    std::vector<std::byte> file(static_cast<std::size_t>(status.cbSize.QuadPart));
    std::memcpy(file.data(), bytes, file.size());
    GlobalUnlock(memory);
    return file;
}

}  // namespace kestrune::content
