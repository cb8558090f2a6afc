#include "sound_synthesis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string>

#include "bake_math.h"
#include "content/wav.h"

namespace kestrune::baker {
namespace {

using content::Sound;
using Signal = std::vector<f64>;

constexpr f64 kRateHz = content::kSoundSampleRate;
constexpr f64 kFullScale = 32767.0;
// A few samples of fade-in keep the first sample from clicking yet sound at once; the
// fade-out ends on an exact zero, so the mixer can cut a voice at its end silently.
constexpr f64 kFadeInSeconds = 0.0005;
constexpr f64 kFadeOutSeconds = 0.006;

// Peak levels, 10^(dB/20) written out.
constexpr f64 kMinus2Db = 0.794328;
constexpr f64 kMinus3Db = 0.707946;
constexpr f64 kMinus4Db = 0.630957;
constexpr f64 kMinus5Db = 0.562341;

// Low-passed white noise is far quieter than the noise; this brings a rumble near the
// level of the thump it sits under.
constexpr f64 kRumbleGain = 4.0;

std::size_t samplesFor(f64 seconds) noexcept { return static_cast<std::size_t>(seconds * kRateHz); }
f64 secondsAt(std::size_t sample) noexcept { return static_cast<f64>(sample) / kRateHz; }

// Per-sample factor of an exponential fall with time constant `tauSeconds`: e^(-1/(tau x
// rate)) to first order, which at 48 kHz differs from it by under a millionth per sample.
f64 keepPerSample(f64 tauSeconds) noexcept { return 1.0 - 1.0 / (tauSeconds * kRateHz); }

// ---- Section: sources and filters ----

// xorshift32: the noise is the same sequence everywhere for the same seed (never 0).
class Noise {
public:
    explicit Noise(u32 seed) noexcept : state_(seed) {}
    f64 next() noexcept {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<f64>(state_) / 2147483648.0 - 1.0;  // [-1, 1)
    }

private:
    u32 state_;
};

// Sine from a phase in turns, so a changing frequency never jumps.
class Oscillator {
public:
    f64 next(f64 frequencyHz) noexcept {
        const f64 value = sinRadians(kTwoPi * phaseTurns_);
        phaseTurns_ += frequencyHz / kRateHz;
        if (phaseTurns_ >= 1.0) phaseTurns_ -= 1.0;
        return value;
    }

private:
    f64 phaseTurns_ = 0.0;
};

// Moves exponentially from `from` toward `to`: pitch drops of thuds, rising tones, decays.
class Glide {
public:
    Glide(f64 from, f64 to, f64 tauSeconds) noexcept : value_(from), to_(to), keep_(keepPerSample(tauSeconds)) {}
    f64 next() noexcept {
        const f64 value = value_;
        value_ = to_ + (value_ - to_) * keep_;
        return value;
    }

private:
    f64 value_;
    f64 to_;
    f64 keep_;
};

Glide decay(f64 tauSeconds) noexcept { return {1.0, 0.0, tauSeconds}; }

// One-pole low-pass; its coefficient w / (1 + w) stands in for 1 - e^-w, close below a few kHz.
class LowPass {
public:
    explicit LowPass(f64 cutoffHz) noexcept : a_(coefficient(cutoffHz)) {}
    f64 next(f64 x) noexcept { return y_ += a_ * (x - y_); }
    void setCutoff(f64 cutoffHz) noexcept { a_ = coefficient(cutoffHz); }

private:
    static f64 coefficient(f64 cutoffHz) noexcept {
        const f64 w = kTwoPi * cutoffHz / kRateHz;
        return w / (1.0 + w);
    }
    f64 a_;
    f64 y_ = 0.0;
};

class HighPass {
public:
    explicit HighPass(f64 cutoffHz) noexcept : low_(cutoffHz) {}
    f64 next(f64 x) noexcept { return x - low_.next(x); }

private:
    LowPass low_;
};

// Chamberlin state-variable band-pass; its centre may move every sample. Stable while
// the centre stays below about a sixth of the rate, which every sweep here does.
class BandPass {
public:
    explicit BandPass(f64 damping) noexcept : damping_(damping) {}
    f64 next(f64 x, f64 centreHz) noexcept {
        const f64 f = 2.0 * sinRadians(kPi * centreHz / kRateHz);
        low_ += f * band_;
        const f64 high = x - low_ - damping_ * band_;
        band_ += f * high;
        return band_;
    }

private:
    f64 damping_;
    f64 low_ = 0.0;
    f64 band_ = 0.0;
};

// ---- Section: envelopes and the finish ----

// Multiplies the last `seconds` by (1 - u)^2, u running 0 to 1: a ring or hum dies away
// instead of stopping.
void releaseTail(Signal& signal, f64 seconds) {
    const std::size_t count = std::min(samplesFor(seconds), signal.size());
    const std::size_t start = signal.size() - count;
    for (std::size_t i = start; i < signal.size(); ++i) {
        const f64 left = 1.0 - static_cast<f64>(i - start) / static_cast<f64>(count);
        signal[i] *= left * left;
    }
}

// Adds `layer` into `signal` from `atSeconds`, scaled by `gain`; what runs past the end is dropped.
void mixInto(Signal& signal, const Signal& layer, f64 atSeconds, f64 gain) {
    const std::size_t start = samplesFor(atSeconds);
    for (std::size_t i = 0; i < layer.size() && start + i < signal.size(); ++i) signal[start + i] += gain * layer[i];
}

// Fades in and out, scales the loudest sample to `peak` of full scale and rounds.
std::vector<i16> finish(Signal signal, f64 peak) {
    const std::size_t fadeIn = samplesFor(kFadeInSeconds);
    const std::size_t fadeOut = samplesFor(kFadeOutSeconds);
    for (std::size_t i = 0; i < fadeIn; ++i) signal[i] *= static_cast<f64>(i + 1) / static_cast<f64>(fadeIn + 1);
    for (std::size_t k = 0; k < fadeOut; ++k) {
        signal[signal.size() - 1 - k] *= static_cast<f64>(k) / static_cast<f64>(fadeOut);
    }
    f64 loudest = 0.0;
    for (const f64 v : signal) loudest = std::max(loudest, std::fabs(v));
    const f64 scale = peak * kFullScale / loudest;
    std::vector<i16> samples(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i) {
        samples[i] = static_cast<i16>(std::floor(signal[i] * scale + 0.5));
    }
    return samples;
}

// ---- Section: the kinds of sound ----

// Band-passed noise whose centre rises to its highest where the sound is loudest and
// falls after: the air a blade or a body moves through. A low tone can underlay it.
struct Whoosh {
    f64 seconds;
    f64 loudestAt;  // fraction of the length
    f64 startHz, loudestHz, endHz;
    f64 damping;    // 1/Q of the band
    u32 seed;
    f64 toneFromHz = 0.0, toneToHz = 0.0, toneLevel = 0.0;
};

// The air moves from the moment the swing starts, not only at its fastest.
constexpr f64 kWhooshStartLevel = 0.4;

Signal whoosh(const Whoosh& w) {
    Signal out(samplesFor(w.seconds));
    Noise noise(w.seed);
    BandPass band(w.damping);
    LowPass body(300.0);
    Oscillator tone;
    const f64 peakSeconds = w.seconds * w.loudestAt;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const f64 t = secondsAt(i);
        f64 level, centreHz;
        if (t < peakSeconds) {
            const f64 rise = smoothstep(t / peakSeconds);
            level = kWhooshStartLevel + (1.0 - kWhooshStartLevel) * rise;
            centreHz = lerp(w.startHz, w.loudestHz, rise);
        } else {
            const f64 u = (t - peakSeconds) / (w.seconds - peakSeconds);
            level = (1.0 - u) * (1.0 - u);
            centreHz = lerp(w.loudestHz, w.endHz, smoothstep(u));
        }
        const f64 n = noise.next();
        // A band's energy grows with its width, which grows with its centre; this keeps
        // the sweep from reading as a swell of its own.
        const f64 air = band.next(n, centreHz) * std::sqrt(1000.0 / centreHz);
        const f64 toneHz = lerp(w.toneFromHz, w.toneToHz, t / w.seconds);
        const f64 low = w.toneLevel > 0.0 ? w.toneLevel * tone.next(toneHz) : 0.0;
        out[i] = level * (air + 0.5 * body.next(n) + low);
    }
    return out;
}

// A falling sine (the body of a blow or a fall), a high noise burst (its crack or scuff)
// and low noise (rumble), each with its own decay.
struct Impact {
    f64 seconds;
    f64 thumpFromHz, thumpToHz, pitchTauSeconds, thumpTauSeconds, thumpLevel;
    f64 crackHighPassHz, crackLowPassHz, crackTauSeconds, crackLevel;
    f64 rumbleLowPassHz, rumbleTauSeconds, rumbleLevel;
    u32 seed;
};

Signal impact(const Impact& p) {
    Signal out(samplesFor(p.seconds));
    Noise noise(p.seed);
    Oscillator thump;
    Glide pitch(p.thumpFromHz, p.thumpToHz, p.pitchTauSeconds);
    Glide thumpLevel = decay(p.thumpTauSeconds);
    Glide crackLevel = decay(p.crackTauSeconds);
    Glide rumbleLevel = decay(p.rumbleTauSeconds);
    HighPass crackHigh(p.crackHighPassHz);
    LowPass crackLow(p.crackLowPassHz);
    LowPass rumble(p.rumbleLowPassHz);
    for (f64& sample : out) {
        const f64 n = noise.next();
        const f64 crack = crackLow.next(crackHigh.next(n));
        sample = p.thumpLevel * thumpLevel.next() * thump.next(pitch.next()) +
                 p.crackLevel * crackLevel.next() * crack +
                 p.rumbleLevel * rumbleLevel.next() * rumble.next(n) * kRumbleGain;
    }
    return out;
}

// A struck bar or bell: inharmonic partials with their own decays, after a millisecond's
// rise that keeps a stroke in the middle of a sound from clicking.
struct Partial {
    f64 ratio, level, tauSeconds;
};

constexpr f64 kStrikeRiseSeconds = 0.001;

Signal strike(f64 seconds, f64 fundamentalHz, std::span<const Partial> partials) {
    Signal out(samplesFor(seconds), 0.0);
    for (const Partial& partial : partials) {
        Oscillator oscillator;
        Glide level = decay(partial.tauSeconds);
        for (f64& sample : out) sample += partial.level * level.next() * oscillator.next(fundamentalHz * partial.ratio);
    }
    const std::size_t rise = std::min(samplesFor(kStrikeRiseSeconds), out.size());
    for (std::size_t i = 0; i < rise; ++i) out[i] *= static_cast<f64>(i) / static_cast<f64>(rise);
    return out;
}

// ---- Section: the sounds ----

Signal swing(u32 step) {
    // Each combo step a little longer and wider than the one before, the last the widest.
    const Whoosh shapes[] = {
        {0.24, 0.40, 500.0, 2600.0, 900.0, 0.5, 11},
        {0.26, 0.36, 600.0, 3000.0, 1000.0, 0.45, 12},
        {0.28, 0.44, 450.0, 2300.0, 800.0, 0.5, 13},
        {0.32, 0.42, 400.0, 3400.0, 700.0, 0.4, 14},
    };
    return whoosh(shapes[step]);
}

Signal swingHeavy() { return whoosh({0.52, 0.45, 180.0, 1200.0, 250.0, 0.7, 15, 75.0, 45.0, 0.35}); }

Signal hitBasic() {
    return impact({0.2, 180.0, 65.0, 0.025, 0.045, 1.0, 1500.0, 9000.0, 0.010, 0.8, 300.0, 0.03, 0.0, 31});
}

Signal hitHeavy() {
    return impact({0.4, 140.0, 45.0, 0.04, 0.09, 1.0, 1000.0, 8000.0, 0.018, 0.9, 300.0, 0.08, 0.6, 32});
}

// A tone bending up toward its target, with two harmonics and breath around it.
Signal skill1Cast() {
    Signal out(samplesFor(0.45));
    Noise noise(41);
    BandPass breath(0.3);
    Glide pitch(280.0, 1100.0, 0.15);
    Oscillator first, second, third;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const f64 hz = pitch.next();
        const f64 tone = first.next(hz) + 0.4 * second.next(2.0 * hz) + 0.15 * third.next(3.0 * hz);
        const f64 swell = 0.5 + 0.5 * smoothstep(secondsAt(i) / 0.27);
        out[i] = swell * (tone + 0.12 * breath.next(noise.next(), 2.0 * hz));
    }
    releaseTail(out, 0.18);
    return out;
}

Signal skill1Lock() {
    constexpr Partial kClang[] = {{1.0, 1.0, 0.30},  {2.526, 0.6, 0.18}, {3.99, 0.45, 0.12},
                                  {5.627, 0.35, 0.09}, {7.862, 0.25, 0.06}, {10.76, 0.15, 0.04}};
    Signal out = strike(0.65, 523.0, kClang);
    // The strike's click: a bright noise burst alone, thump and rumble silent.
    const Signal click = impact({0.03, 0.0, 0.0, 1.0, 1.0, 0.0, 2000.0, 12000.0, 0.004, 1.0, 300.0, 1.0, 0.0, 42});
    mixInto(out, click, 0.0, 1.0);
    releaseTail(out, 0.12);
    return out;
}

// A buzzing hum rising in pitch, brightness, loudness and tremolo rate as it charges.
Signal skill2Charge() {
    Signal out(samplesFor(0.62));
    Glide pitch(70.0, 240.0, 0.35);
    std::array<Oscillator, 8> harmonics;
    Oscillator tremolo;
    LowPass tone(300.0);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const f64 progress = secondsAt(i) / 0.62;
        const f64 hz = pitch.next();
        f64 buzz = 0.0;
        for (std::size_t k = 0; k < harmonics.size(); ++k) {
            buzz += harmonics[k].next(hz * static_cast<f64>(k + 1)) / static_cast<f64>(k + 1);
        }
        tone.setCutoff(lerp(300.0, 2500.0, progress));
        const f64 swell = 0.3 + 0.7 * smoothstep(progress / 0.9);
        const f64 level = swell * (0.8 + 0.2 * tremolo.next(lerp(12.0, 30.0, progress)));
        out[i] = level * tone.next(buzz);
    }
    releaseTail(out, 0.05);
    return out;
}

// A square-ish tone diving in pitch, roughened by a low ring modulation, over bright noise.
Signal skill2Beam() {
    Signal out(samplesFor(0.4));
    Noise noise(51);
    HighPass hiss(3000.0);
    Glide pitch(1800.0, 420.0, 0.08);
    Glide level = decay(0.18);
    Glide hissLevel = decay(0.05);
    std::array<Oscillator, 4> odd;
    Oscillator ring;
    for (f64& sample : out) {
        const f64 hz = pitch.next();
        f64 square = 0.0;
        for (std::size_t k = 0; k < odd.size(); ++k) {
            const f64 harmonic = static_cast<f64>(2 * k + 1);
            square += odd[k].next(hz * harmonic) / harmonic;
        }
        const f64 zap = level.next() * square * (0.6 + 0.4 * ring.next(55.0));
        sample = zap + 0.3 * hissLevel.next() * hiss.next(noise.next());
    }
    releaseTail(out, 0.12);
    return out;
}

Signal jump() { return whoosh({0.2, 0.3, 350.0, 1800.0, 2200.0, 0.6, 21}); }

Signal landing() {
    return impact({0.28, 110.0, 48.0, 0.03, 0.06, 1.0, 2500.0, 9000.0, 0.006, 0.25, 250.0, 0.05, 0.7, 61});
}

// Scuffs of a sole: mostly filtered noise over a faint low knock; the run's is brighter and quicker.
Signal stepWalk() {
    return impact({0.075, 120.0, 80.0, 0.02, 0.015, 0.4, 300.0, 2500.0, 0.02, 1.0, 200.0, 0.02, 0.0, 71});
}

Signal stepRun() {
    return impact({0.085, 140.0, 90.0, 0.02, 0.01, 0.35, 900.0, 5000.0, 0.014, 1.0, 200.0, 0.02, 0.0, 72});
}

// The body hits the ground, bounces once and settles over a rumble.
Signal knockout() {
    Signal out = impact({0.72, 95.0, 38.0, 0.04, 0.12, 1.0, 1200.0, 6000.0, 0.012, 0.5, 180.0, 0.25, 0.5, 81});
    const Signal bounce = impact({0.3, 85.0, 40.0, 0.03, 0.06, 1.0, 1500.0, 6000.0, 0.008, 0.3, 180.0, 0.1, 0.2, 82});
    mixInto(out, bounce, 0.16, 0.5);
    releaseTail(out, 0.2);
    return out;
}

// Two bell strokes a fourth apart.
Signal roundStart() {
    constexpr Partial kBell[] = {
        {1.0, 1.0, 0.5}, {2.0, 0.5, 0.3}, {2.76, 0.35, 0.22}, {4.07, 0.2, 0.12}, {5.4, 0.12, 0.08}};
    Signal out = strike(0.85, 660.0, kBell);
    mixInto(out, strike(0.85, 880.0, kBell), 0.22, 1.0);
    releaseTail(out, 0.15);
    return out;
}

struct Recipe {
    Signal (*make)();
    f64 peak;
};

// In Sound order.
constexpr Recipe kRecipes[] = {
    {[] { return swing(0); }, kMinus3Db},
    {[] { return swing(1); }, kMinus3Db},
    {[] { return swing(2); }, kMinus3Db},
    {[] { return swing(3); }, kMinus3Db},
    {swingHeavy, kMinus3Db},
    {hitBasic, kMinus2Db},
    {hitHeavy, kMinus2Db},
    {skill1Cast, kMinus4Db},
    {skill1Lock, kMinus3Db},
    {skill2Charge, kMinus4Db},
    {skill2Beam, kMinus3Db},
    {jump, kMinus4Db},
    {landing, kMinus3Db},
    {stepWalk, kMinus5Db},
    {stepRun, kMinus5Db},
    {knockout, kMinus2Db},
    {roundStart, kMinus3Db},
};
static_assert(std::size(kRecipes) == content::kSoundCount, "one recipe per sound");

}  // namespace

std::vector<i16> synthesizeSound(Sound sound) {
    const Recipe& recipe = kRecipes[static_cast<std::size_t>(sound)];
    return finish(recipe.make(), recipe.peak);
}

std::vector<BakedFile> bakeSounds() {
    std::vector<BakedFile> files;
    for (std::size_t i = 0; i < content::kSoundCount; ++i) {
        const std::vector<i16> samples = synthesizeSound(static_cast<Sound>(i));
        files.push_back({std::string(content::kSoundPaths[i]), content::encodeWav(samples)});
    }
    return files;
}

}  // namespace kestrune::baker
