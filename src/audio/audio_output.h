#pragma once
// The system's sound output: SDL's audio on Linux, XAudio2 (loaded at run time) on Windows.
// It pulls blocks of about 10 ms of 48 kHz stereo 16-bit from the mixer on its own thread.

#include <memory>
#include <string>

#include "audio/mixer.h"

namespace kestrune::audio {

class AudioOutput {
public:
    virtual ~AudioOutput() = default;  // stops pulling from the mixer before it returns
    // What plays the sound, for the log and the smoke report: "SDL <driver>: <device>" or
    // "XAudio2 <version>".
    virtual const std::string& deviceName() const noexcept = 0;
};

// Opens the default output device and starts pulling from `mixer`, which must outlive the
// output. Without a usable device (none, none configured, or the library missing) returns
// null and puts one sentence on why into `whyNot`; the program then plays on silently.
std::unique_ptr<AudioOutput> openAudioOutput(Mixer& mixer, std::string& whyNot);

// For the platforms' outputs: one of type `Output` over `mixer`, whose open() gives the sentence
// on why it failed, or nothing.
template <class Output>
std::unique_ptr<AudioOutput> openOutputOf(Mixer& mixer, std::string& whyNot) {
    auto output = std::make_unique<Output>(mixer);
    std::string failure = output->open();
    if (!failure.empty()) {
        whyNot = std::move(failure);
        return nullptr;
    }
    return output;
}

}  // namespace kestrune::audio
