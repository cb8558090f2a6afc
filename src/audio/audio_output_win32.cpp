#include "audio/audio_output.h"

#include <objbase.h>
#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>
#include <xaudio2.h>

#include <array>
#include <atomic>
#include <future>
#include <span>
#include <string>
#include <thread>

#include "base/text_format.h"

namespace kestrune::audio {
namespace {

using Microsoft::WRL::ComPtr;

constexpr u32 kBlockFrames = 480;  // 10 ms at the output rate
// 40 ms ahead. Wine's XAudio2 takes blocks ahead of its 30 ms device buffer; with three queued,
// its output had a silent period every 100 to 200 ms on a busy machine, with four none.
constexpr u32 kQueuedBlocks = 4;
constexpr u32 kBlockSamples = kBlockFrames * kOutputChannels;
static_assert(kBlockFrames * 100 == kOutputRate, "a block is 10 ms");
static_assert(kQueuedBlocks <= XAUDIO2_MAX_QUEUED_BUFFERS, "XAudio2 queues at most 64 buffers per voice");

// Newest first; 2.9 ships with Windows 10, 2.8 with Windows 8.
struct Library {
    const wchar_t* file;
    const char* version;
};
constexpr Library kLibraries[] = {{L"xaudio2_9.dll", "2.9"}, {L"xaudio2_8.dll", "2.8"}};

using XAudio2CreateFunction = HRESULT(WINAPI*)(IXAudio2**, UINT32, XAUDIO2_PROCESSOR);

std::string failedCall(const char* operation, HRESULT hr) {
    return formatText("%s failed with HRESULT 0x%08X", operation, static_cast<unsigned>(hr));
}

// XAudio2 calls this on its own thread at the end of each block; it only wakes the feeder.
// The interface has no virtual destructor by design: XAudio2 never owns or deletes its callbacks.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class BlockEndSignal final : public IXAudio2VoiceCallback {
public:
    explicit BlockEndSignal(HANDLE event) : event_(event) {}
    void STDMETHODCALLTYPE OnVoiceProcessingPassStart(UINT32) override {}
    void STDMETHODCALLTYPE OnVoiceProcessingPassEnd() override {}
    void STDMETHODCALLTYPE OnStreamEnd() override {}
    void STDMETHODCALLTYPE OnBufferStart(void*) override {}
    void STDMETHODCALLTYPE OnBufferEnd(void*) override { SetEvent(event_); }
    void STDMETHODCALLTYPE OnLoopEnd(void*) override {}
    void STDMETHODCALLTYPE OnVoiceError(void*, HRESULT) override { SetEvent(event_); }

private:
    HANDLE event_;
};
#pragma GCC diagnostic pop

// Everything XAudio2 lives on the feeder thread, from COM's initialisation to FreeLibrary: that
// thread joins the multithreaded apartment itself, so the program's threads keep whatever
// apartment they chose, and no XAudio2 call crosses threads.
class XAudio2Output final : public AudioOutput {
public:
    explicit XAudio2Output(Mixer& mixer) : mixer_(mixer) {}
    XAudio2Output(const XAudio2Output&) = delete;
    XAudio2Output& operator=(const XAudio2Output&) = delete;

    ~XAudio2Output() override {
        stopRequested_.store(true, std::memory_order_release);
        if (wake_ != nullptr) {
            SetEvent(wake_);
        }
        if (feeder_.joinable()) {
            feeder_.join();
        }
        if (wake_ != nullptr) {
            CloseHandle(wake_);
        }
    }

    const std::string& deviceName() const noexcept override { return name_; }

    // One sentence on failure, empty once the voice plays.
    std::string open() {
        wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (wake_ == nullptr) {
            return "XAudio2's output has no event to wake its thread (" +
                   failedCall("CreateEventW", HRESULT_FROM_WIN32(GetLastError())) + ").";
        }
        blockEnd_ = BlockEndSignal(wake_);
        std::promise<std::string> opened;
        std::future<std::string> result = opened.get_future();
        feeder_ = std::thread([this, &opened] { run(opened); });
        std::string failure = result.get();
        if (!failure.empty()) {
            feeder_.join();
        }
        return failure;
    }

private:
    // Holds what the feeder thread acquired and gives it back in reverse order on any exit.
    struct Session {
        bool comStarted = false;
        HMODULE library = nullptr;
        ComPtr<IXAudio2> engine;
        IXAudio2MasteringVoice* master = nullptr;
        IXAudio2SourceVoice* source = nullptr;

        ~Session() {
            if (source != nullptr) {
                source->Stop(0);
                // Returns once XAudio2 no longer calls the voice's callback.
                source->DestroyVoice();
            }
            if (master != nullptr) {
                master->DestroyVoice();
            }
            if (engine) {
                engine->StopEngine();
                engine.Reset();
            }
            if (library != nullptr) {
                FreeLibrary(library);
            }
            if (comStarted) {
                CoUninitialize();
            }
        }
    };

    void run(std::promise<std::string>& opened) {
        Session session;
        std::string failure = start(session);
        const bool playing = failure.empty();
        opened.set_value(std::move(failure));  // `opened` is gone after this
        if (playing) {
            feed(*session.source);
        }
    }

    std::string start(Session& session) {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(com)) {
            return "The sound output's thread could not use COM (" + failedCall("CoInitializeEx", com) + ").";
        }
        session.comStarted = true;

        const char* version = nullptr;
        for (const Library& candidate : kLibraries) {
            session.library = LoadLibraryW(candidate.file);
            if (session.library != nullptr) {
                version = candidate.version;
                break;
            }
        }
        if (session.library == nullptr) {
            return "XAudio2 is not installed (" +
                   failedCall("LoadLibraryW(xaudio2_9.dll, xaudio2_8.dll)", HRESULT_FROM_WIN32(GetLastError())) +
                   ").";
        }
        // GetProcAddress returns a generic FARPROC; the export's real type is XAudio2Create's.
        const auto create = reinterpret_cast<XAudio2CreateFunction>(
            reinterpret_cast<void*>(GetProcAddress(session.library, "XAudio2Create")));
        if (create == nullptr) {
            return formatText("XAudio2 %s has no XAudio2Create (", version) +
                   failedCall("GetProcAddress", HRESULT_FROM_WIN32(GetLastError())) + ").";
        }
        // Without a default endpoint Wine's XAudio2 (FAudio) dereferences null pointers, in
        // CreateMasteringVoice and, when Wine has no audio driver at all, even in the engine's
        // Release; so the endpoint is asked for before the engine exists. Windows answers alike.
        ComPtr<IMMDeviceEnumerator> devices;
        HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(devices.GetAddressOf()));
        if (FAILED(hr)) {
            return formatText("XAudio2 %s cannot see the audio devices (", version) +
                   failedCall("CoCreateInstance(MMDeviceEnumerator)", hr) + ").";
        }
        ComPtr<IMMDevice> endpoint;
        hr = devices->GetDefaultAudioEndpoint(eRender, eConsole, endpoint.GetAddressOf());
        if (FAILED(hr)) {
            return formatText("XAudio2 %s found no audio device to play on (", version) +
                   failedCall("IMMDeviceEnumerator::GetDefaultAudioEndpoint", hr) + ").";
        }
        hr = create(session.engine.GetAddressOf(), 0, XAUDIO2_DEFAULT_PROCESSOR);
        if (FAILED(hr)) {
            return formatText("XAudio2 %s could not start (", version) + failedCall("XAudio2Create", hr) + ").";
        }
        hr = session.engine->CreateMasteringVoice(&session.master, XAUDIO2_DEFAULT_CHANNELS,
                                                  XAUDIO2_DEFAULT_SAMPLERATE, 0, nullptr, nullptr,
                                                  AudioCategory_GameEffects);
        if (FAILED(hr)) {
            return formatText("XAudio2 %s found no audio device to play on (", version) +
                   failedCall("IXAudio2::CreateMasteringVoice", hr) + ").";
        }
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = static_cast<WORD>(kOutputChannels);
        format.nSamplesPerSec = kOutputRate;
        format.wBitsPerSample = 8 * sizeof(i16);
        format.nBlockAlign = static_cast<WORD>(kOutputChannels * sizeof(i16));
        format.nAvgBytesPerSec = kOutputRate * format.nBlockAlign;
        // 1.0: the mixer's rate is fixed, so the voice never needs pitch headroom.
        hr = session.engine->CreateSourceVoice(&session.source, &format, 0, 1.0f, &blockEnd_, nullptr, nullptr);
        if (FAILED(hr)) {
            return formatText("XAudio2 %s could not play 48 kHz stereo (", version) +
                   failedCall("IXAudio2::CreateSourceVoice", hr) + ").";
        }
        // The first blocks are queued before the voice starts, so playback begins without a gap.
        for (u32 i = 0; i < kQueuedBlocks; ++i) {
            hr = submitNextBlock(*session.source);
            if (FAILED(hr)) {
                return formatText("XAudio2 %s refused the first blocks (", version) +
                       failedCall("IXAudio2SourceVoice::SubmitSourceBuffer", hr) + ").";
            }
        }
        hr = session.source->Start(0);
        if (FAILED(hr)) {
            return formatText("XAudio2 %s could not start the voice (", version) +
                   failedCall("IXAudio2SourceVoice::Start", hr) + ").";
        }
        name_ = formatText("XAudio2 %s", version);
        return {};
    }

    // Refills the queue each time a block ends; the blocks finish in order, so the one written
    // next is always one XAudio2 has let go of.
    void feed(IXAudio2SourceVoice& source) {
        while (!stopRequested_.load(std::memory_order_acquire)) {
            WaitForSingleObject(wake_, INFINITE);
            XAUDIO2_VOICE_STATE state{};
            source.GetState(&state, XAUDIO2_VOICE_NOSAMPLESPLAYED);
            for (u32 queued = state.BuffersQueued; queued < kQueuedBlocks; ++queued) {
                if (stopRequested_.load(std::memory_order_acquire) || FAILED(submitNextBlock(source))) {
                    break;
                }
            }
        }
    }

    HRESULT submitNextBlock(IXAudio2SourceVoice& source) {
        std::array<i16, kBlockSamples>& block = blocks_[nextBlock_];
        mixer_.mix(block);
        XAUDIO2_BUFFER buffer{};
        buffer.AudioBytes = static_cast<UINT32>(sizeof(block));
        // XAudio2 reads the block in place until its OnBufferEnd; it is not rewritten before then.
        buffer.pAudioData = reinterpret_cast<const BYTE*>(block.data());
        const HRESULT hr = source.SubmitSourceBuffer(&buffer, nullptr);
        if (SUCCEEDED(hr)) {
            nextBlock_ = (nextBlock_ + 1) % kQueuedBlocks;
        }
        return hr;
    }

    Mixer& mixer_;
    std::string name_;
    HANDLE wake_ = nullptr;  // auto-reset: a block ended, or the output is closing
    BlockEndSignal blockEnd_{nullptr};
    std::array<std::array<i16, kBlockSamples>, kQueuedBlocks> blocks_{};
    u32 nextBlock_ = 0;
    std::atomic<bool> stopRequested_{false};
    std::thread feeder_;
};

}  // namespace

std::unique_ptr<AudioOutput> openAudioOutput(Mixer& mixer, std::string& whyNot) {
    return openOutputOf<XAudio2Output>(mixer, whyNot);
}

}  // namespace kestrune::audio
