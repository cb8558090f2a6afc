#pragma once
// COM and the WIC imaging factory for one call of the WIC codecs (the PNG decoder and
// writer, the baker's image decoders). Objects are released in reverse order of creation,
// COM last; failures throw through throwHresult with the call's name.
#include <objbase.h>
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include "content/png.h"

namespace kestrune::content::wic {

inline void throwIfFailed(HRESULT result, const char* operation) {
    if (FAILED(result)) {
        throwHresult(operation, static_cast<i32>(result));
    }
}

// COM for the session. A thread already in a single-threaded apartment keeps it
// (RPC_E_CHANGED_MODE) and is left initialised. The factory is the version-1 one, named by
// its CLSID so that the SDK's choice of default factory does not change which one is created.
class Session {
public:
    Session() : comResult_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {
        if (FAILED(comResult_) && comResult_ != RPC_E_CHANGED_MODE) {
            throwHresult("CoInitializeEx", static_cast<i32>(comResult_));
        }
        constexpr CLSID kClsidWicImagingFactory = {
            0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
        const HRESULT created = CoCreateInstance(kClsidWicImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_PPV_ARGS(factory_.GetAddressOf()));
        if (FAILED(created)) {
            uninitialize();
            throwHresult("CoCreateInstance(CLSID_WICImagingFactory)", static_cast<i32>(created));
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        factory_.Reset();
        uninitialize();
    }

    IWICImagingFactory* factory() const noexcept { return factory_.Get(); }

private:
    void uninitialize() noexcept {
        if (SUCCEEDED(comResult_)) CoUninitialize();
        comResult_ = E_FAIL;
    }

    HRESULT comResult_;
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory_;
};

}  // namespace kestrune::content::wic
