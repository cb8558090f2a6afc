#include "audio/audio_output.h"

#include <SDL.h>

#include <span>
#include <string>

namespace kestrune::audio {
namespace {

constexpr u32 kBlockFrames = 480;  // 10 ms at the output rate
static_assert(kBlockFrames * 100 == kOutputRate, "a block is 10 ms");

class SdlAudioOutput final : public AudioOutput {
public:
    explicit SdlAudioOutput(Mixer& mixer) : mixer_(mixer) {}
    SdlAudioOutput(const SdlAudioOutput&) = delete;
    SdlAudioOutput& operator=(const SdlAudioOutput&) = delete;

    ~SdlAudioOutput() override {
        if (device_ != 0) {
            // Closing waits for a running callback, so the mixer is not touched after this.
            SDL_CloseAudioDevice(device_);
        }
        if (subsystemStarted_) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
    }

    const std::string& deviceName() const noexcept override { return name_; }

    // One sentence on failure, empty on success.
    std::string open() {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            return std::string("SDL could not start its audio (SDL_InitSubSystem: ") + SDL_GetError() + ").";
        }
        subsystemStarted_ = true;
        const char* driver = SDL_GetCurrentAudioDriver();
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(kOutputRate);
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(kOutputChannels);
        want.samples = static_cast<Uint16>(kBlockFrames);
        want.callback = &SdlAudioOutput::fill;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No allowed changes: SDL converts to whatever the device takes, so the callback always
        // receives the mixer's own format.
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0) {
            return std::string("SDL could not open an audio device with its ") + (driver ? driver : "unknown") +
                   " driver (SDL_OpenAudioDevice: " + SDL_GetError() + ").";
        }
        name_ = std::string("SDL ") + (driver ? driver : "unknown");
        // Only some drivers (PulseAudio, PipeWire) can name the default device; the others leave
        // the name at the driver's.
        char* device = nullptr;
        SDL_AudioSpec defaultFormat{};
        if (SDL_GetDefaultAudioInfo(&device, &defaultFormat, 0) == 0 && device != nullptr) {
            if (*device != '\0') {
                name_ += std::string(": ") + device;
            }
            SDL_free(device);
        }
        SDL_PauseAudioDevice(device_, 0);
        return {};
    }

private:
    static void SDLCALL fill(void* userdata, Uint8* stream, int lengthBytes) {
        auto* self = static_cast<SdlAudioOutput*>(userdata);
        // AUDIO_S16SYS: the buffer is native-endian 16-bit samples, aligned for them.
        auto* samples = reinterpret_cast<i16*>(stream);
        self->mixer_.mix(std::span<i16>(samples, static_cast<std::size_t>(lengthBytes) / sizeof(i16)));
    }

    Mixer& mixer_;
    std::string name_;
    SDL_AudioDeviceID device_ = 0;
    bool subsystemStarted_ = false;
};

}  // namespace

std::unique_ptr<AudioOutput> openAudioOutput(Mixer& mixer, std::string& whyNot) {
    return openOutputOf<SdlAudioOutput>(mixer, whyNot);
}

}  // namespace kestrune::audio
