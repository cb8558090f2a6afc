// The baked sounds judged as the mixer and a listener meet them: files the runtime decoder
// takes, short, at a common level, sounding from their first samples and ending on silence,
// with the pitch movement each is made for. (That every bake gives the same bytes, listed in the
// MANIFEST, is the whole bake's test.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "content/wav.h"
#include "sound_synthesis.h"

namespace kestrune::baker {
namespace {

using content::Sound;

constexpr std::size_t kOnsetSamples = 96;  // 2 ms
constexpr f64 kFullScale = 32768.0;

const std::vector<BakedFile>& sounds() {
    static const std::vector<BakedFile> files = bakeSounds();
    return files;
}

std::vector<i16> decoded(Sound sound) {
    const BakedFile& file = sounds()[static_cast<std::size_t>(sound)];
    return content::decodeWav(file.bytes, file.path);
}

int peakOf(std::span<const i16> samples) {
    int peak = 0;
    for (const i16 s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

// Zero crossings per second over [from, to) of the sound's length: a pitch's rise or fall.
f64 crossingRate(std::span<const i16> samples, f64 from, f64 to) {
    const auto first = static_cast<std::size_t>(from * static_cast<f64>(samples.size()));
    const auto last = static_cast<std::size_t>(to * static_cast<f64>(samples.size()));
    std::size_t crossings = 0;
    for (std::size_t i = first + 1; i < last; ++i) crossings += (samples[i - 1] < 0) != (samples[i] < 0) ? 1 : 0;
    return static_cast<f64>(crossings) * content::kSoundSampleRate / static_cast<f64>(last - first);
}

TEST(BakedSounds, DecodeAsShortMonoSoundsAtTheirLevelThatStartAtOnceAndEndOnZero) {
    // Length ranges in seconds; peaks in the table are full scale times 10^(dB/20).
    const struct { Sound sound; f64 minSeconds, maxSeconds; } table[] = {
        {Sound::swing1, 0.15, 0.4},      {Sound::swing2, 0.15, 0.4},       {Sound::swing3, 0.15, 0.4},
        {Sound::swing4, 0.15, 0.4},      {Sound::swingHeavy, 0.4, 0.7},    {Sound::hitBasic, 0.1, 0.3},
        {Sound::hitHeavy, 0.25, 0.5},    {Sound::skill1Cast, 0.3, 0.6},    {Sound::skill1Lock, 0.4, 0.9},
        {Sound::skill2Charge, 0.5, 0.7}, {Sound::skill2Beam, 0.3, 0.5},    {Sound::jump, 0.1, 0.3},
        {Sound::landing, 0.15, 0.4},     {Sound::stepWalk, 0.06, 0.09},    {Sound::stepRun, 0.06, 0.09},
        {Sound::knockout, 0.6, 0.8},     {Sound::roundStart, 0.7, 0.9},
    };
    ASSERT_EQ(std::size(table), content::kSoundCount);
    ASSERT_EQ(sounds().size(), content::kSoundCount);
    const int loudest = static_cast<int>(kFullScale * 0.891);  // -1 dBFS
    const int quietest = static_cast<int>(kFullScale * 0.501);  // -6 dBFS
    std::set<std::vector<std::byte>> distinct;
    for (const auto& row : table) {
        const std::size_t index = static_cast<std::size_t>(row.sound);
        SCOPED_TRACE(std::string(content::soundName(row.sound)));
        EXPECT_EQ(sounds()[index].path, content::kSoundPaths[index]);
        distinct.insert(sounds()[index].bytes);
        const std::vector<i16> samples = decoded(row.sound);
        const f64 seconds = static_cast<f64>(samples.size()) / content::kSoundSampleRate;
        EXPECT_GE(seconds, row.minSeconds);
        EXPECT_LE(seconds, row.maxSeconds);
        const int peak = peakOf(samples);
        EXPECT_GE(peak, quietest);
        EXPECT_LE(peak, loudest);
        // Within 2 ms the sound is within 20 dB of its peak, so its onset is its start.
        const auto onset = std::ranges::find_if(samples, [&](i16 s) { return std::abs(s) * 10 >= peak; });
        EXPECT_LT(static_cast<std::size_t>(onset - samples.begin()), kOnsetSamples);
        // It fades out rather than stopping: the last millisecond is quiet and the end is silence.
        EXPECT_EQ(samples.back(), 0);
        EXPECT_LT(peakOf(std::span(samples).last(48)) * 10, peak);
    }
    EXPECT_EQ(distinct.size(), content::kSoundCount);
}

TEST(BakedSounds, MoveInPitchTheWayTheirMomentCalls) {
    // Zero-crossing rates early and late in each sound: rising tones climb, the beam dives.
    const struct { Sound sound; bool rises; } table[] = {
        {Sound::skill1Cast, true}, {Sound::skill2Charge, true}, {Sound::jump, true}, {Sound::skill2Beam, false},
        {Sound::hitBasic, false}};
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(content::soundName(row.sound)));
        const std::vector<i16> samples = decoded(row.sound);
        const f64 early = crossingRate(samples, 0.05, 0.25);
        const f64 late = crossingRate(samples, 0.55, 0.75);
        EXPECT_EQ(late > early * 1.2, row.rises) << early << " then " << late;
        EXPECT_EQ(early > late * 1.2, !row.rises) << early << " then " << late;
    }
    // The heavy versions last longer than the light ones.
    for (const Sound swing : {Sound::swing1, Sound::swing2, Sound::swing3, Sound::swing4}) {
        EXPECT_GT(decoded(Sound::swingHeavy).size(), decoded(swing).size());
    }
    EXPECT_GT(decoded(Sound::hitHeavy).size(), decoded(Sound::hitBasic).size());
}

}  // namespace
}  // namespace kestrune::baker
