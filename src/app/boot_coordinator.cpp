#include "app/boot_coordinator.h"

#include <array>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>

#include "app/frame_loop.h"
#include "app/log.h"
#include "app/native_client.h"
#include "base/text_format.h"
#include "content/sha256.h"
#include "scene/content_scene.h"

namespace kestrune::app {

namespace {

// One UTF-16 unit per byte, as the log takes the shell's 8-bit texts.
std::u16string widenBytes(std::string_view text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (const char byte : text) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(byte)));
    }
    return wide;
}

// The session's figures, for the log at the end of an online run.
std::string networkSummary(const net::DuelClientStatistics& session, const scene::FrameScene* scene) {
    const scene::NetworkFigures figures = scene != nullptr ? scene->networkFigures() : scene::NetworkFigures{};
    const auto count = [](u64 value) { return static_cast<unsigned long long>(value); };
    return formatText(
        "Network: %llu snapshots at %.1f per second; %llu commands, round trip %.1f ms on average, %.1f ms at "
        "the 99th percentile (%llu timed); corrections: %llu glides, %llu snaps, largest %.3f m; remote: held %llu "
        "steps, %llu samples dropped, %llu freezes jumped, interpolation delay %.1f ms on average; %llu local "
        "actions confirmed",
        count(session.snapshotsReceived), session.snapshotsPerSecond, count(session.commandsSent),
        session.roundTripAverageMs, session.roundTripP99Ms, count(session.roundTrips), count(figures.glides),
        count(figures.snaps), static_cast<f64>(figures.largestCorrectionMetres), count(figures.heldSteps),
        count(figures.droppedSamples), count(figures.remoteJumps), figures.averageInterpolationDelayMs(), count(figures.confirmedLocalActions));
}

// The SHA-256 of the content's MANIFEST, which names every content file with its own: a replay
// plays only on the content it was recorded on. Zeros for content without one.
content::Sha256Digest contentDigest(const std::filesystem::path& directory) {
    std::ifstream file(directory / "MANIFEST", std::ios::binary);
    if (!file) {
        return {};
    }
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return content::sha256Digest(std::as_bytes(std::span(text)));
}

// Opens the replay of --replay= and makes the run the recorded one's: its class, its mode and
// its smoke skill.
std::unique_ptr<replay::ReplayReader> openReplay(LaunchOptions& options, Log& log) {
    auto reader = std::make_unique<replay::ReplayReader>(options.replayPath);
    const replay::ReplayHeader& header = reader->header();
    const content::Sha256Digest digest = contentDigest(options.contentDirectory);
    if (digest != header.contentDigest) {
        throw std::runtime_error("Replay " + replay::pathText(options.replayPath) +
                                 " was recorded on other content: its digest " +
                                 content::toHexUpper(header.contentDigest) + ", this content's " +
                                 content::toHexUpper(digest) + ".");
    }
    options.characterClass = header.characterClass == 1 ? CharacterClass::templar : CharacterClass::warrior;
    log.write(kLogInfo, formatText("Replay %s: %llu frames of an %s duel as the %s",
                                   replay::pathText(options.replayPath).c_str(),
                                   static_cast<unsigned long long>(reader->frameCount()),
                                   header.online ? "online" : "offline",
                                   header.characterClass == 1 ? "templar" : "warrior"));
    if (const auto& cut = reader->truncation()) {
        log.write(kLogWarn, formatText("Replay %s ends inside frame %llu (byte %llu): playing its %llu whole frames",
                                       replay::pathText(options.replayPath).c_str(),
                                       static_cast<unsigned long long>(cut->frame),
                                       static_cast<unsigned long long>(cut->byte),
                                       static_cast<unsigned long long>(reader->frameCount())));
    }
    return reader;
}

// The content's sounds, the mixer and the output: a sound that cannot be read is left out, and
// without a device (or muted) the run plays on silently, its sounds still decided and counted.
void startSound(NativeClient& host, Log& log) {
    std::vector<std::string> problems;
    host.sounds = std::make_unique<audio::SoundBank>(audio::SoundBank::load(host.options.contentDirectory, problems));
    for (const std::string& problem : problems) {
        log.write(kLogWarn, "Sound left out: " + problem);
    }
    if (host.options.mute) {
        log.write(kLogInfo, std::string_view("Sound muted (--mute)"));
    } else if (!host.openAudio) {
        log.write(kLogInfo, std::string_view("No sound: this run has no sound output"));
    } else if (host.sounds->loadedCount() > 0) {
        host.mixer = std::make_unique<audio::Mixer>(host.sounds->all());
        host.mixer->setVolume(static_cast<f32>(host.options.volumePercent) / 100.0f);
        std::string whyNot;
        host.audioOutput = host.openAudio(*host.mixer, whyNot);
        if (host.audioOutput) {
            log.write(kLogInfo, formatText("Sound on %s at volume %u: %u sounds", host.audioOutput->deviceName().c_str(),
                                           host.options.volumePercent, host.sounds->loadedCount()));
        } else {
            log.write(kLogInfo, "No sound: " + whyNot + " Playing on silently.");
            host.mixer.reset();
        }
    }
    host.soundDirector = std::make_unique<audio::SoundDirector>(host.mixer.get());
}

// The HUD over the scene: without its font it draws its panels and gauges alone, and says why.
void startHud(NativeClient& host, Log& log, u32 localSlot) {
    host.hud = std::make_unique<hud::Hud>(hud::HudSetup{host.options.characterName, localSlot, host.options.netOverlay});
    try {
        host.hud->loadFont(host.options.contentDirectory, host.renderer);
        log.write(kLogInfo, std::string_view("HUD text ready"));
    } catch (const std::exception& error) {
        log.write(kLogWarn, std::string("No HUD text: ") + error.what() + ". Playing on without it.");
    }
}

// The class as the duel protocol numbers it.
u8 wireCharacterClass(CharacterClass characterClass) { return characterClass == CharacterClass::warrior ? 1 : 2; }

}  // namespace

RunSummary BootCoordinator::run() {
    NativeClient& host = host_;
    Log& log = *host.log;
    const u64 startNanoseconds = host.clock->monotonicNanoseconds();
    log.write(kLogInfo, std::string_view("BootCoordinator start"));
    if (!host.options.tracePath.empty()) {
        host.trace = std::make_unique<FrameTrace>(host.options.tracePath);
    }

    if (!host.options.replayPath.empty()) {
        host.replay = openReplay(host.options, log);
        host.replayPace = ReplayPace{host.options.replaySpeed, host.options.smokeTest};
    }
    // Scripted keys are the run's own play: they replace the smoke run's automatic skill. A
    // replay plays as its run did.
    const bool automaticSkill = host.replay ? host.replay->header().automaticSkill
                                            : host.options.smokeTest && host.options.keyScript.empty();

    host.windowHost->registerWindowClass(host);
    host.windowHost->createMainWindow(host);
    const ClientSize size = host.windowHost->clientSize(host);

    log.write(kLogInfo, std::string_view("Init Render Device"));
    host.renderer.Create(host.windowHost->nativeWindow(host), size.widthPixels, size.heightPixels,
                         host.options.useWarp);
    host.rendererReady = true;
    log.write(kLogInfo, u"Render Device ready: " + host.renderer.adapterText() + u" / feature level " +
                            host.renderer.featureLevelText() + u" / " + host.renderer.driverText());
    log.write(kLogInfo, std::string_view("VertexShader HW Accel Enabled"));
    log.write(kLogInfo, std::string_view("Init Input Manager"));

    if (!host.options.contentDirectory.empty()) {
        log.write(kLogInfo, std::string_view("Load KMDL content chunk"));
        auto scene = std::make_unique<scene::ContentScene>();
        const bool online = host.replay ? host.replay->header().online : !host.options.serverHost.empty();
        const scene::SceneLaunch launch{host.options.characterClass == CharacterClass::templar ? 1u : 0u,
                                        automaticSkill, online};
        scene->load(host.options.contentDirectory, launch, host.renderer);
        const scene::SceneStatistics loaded = scene->statistics();
        log.write(kLogInfo, formatText("Content scene ready: %u character meshes, %u clips, %u effect models",
                                       loaded.meshesAvailable, loaded.clipsAvailable, loaded.effectModelsLoaded));
        host.scene = std::move(scene);
        startSound(host, log);
        startHud(host, log, launch.controlledSlot);
    }
    if (!host.options.serverHost.empty()) {
        host.duelClient = std::make_unique<net::DuelClient>();
        host.duelClient->connect(host.options.serverHost, host.options.serverPort,
                                 wireCharacterClass(host.options.characterClass), host.options.characterName,
                                 host.options.gameTicket);
        log.write(kLogInfo, u"Network connected to " + widenBytes(host.options.serverHost) + u":" +
                                widenBytes(std::to_string(host.options.serverPort)));
    }

    if (!host.options.recordPath.empty()) {
        replay::ReplayHeader header;
        header.characterClass = host.options.characterClass == CharacterClass::templar ? 1 : 0;
        header.online = host.duelClient != nullptr;
        header.automaticSkill = automaticSkill;
        header.tickRate = host.duelClient ? host.duelClient->tickRate() : 0;
        header.localEntityId = host.duelClient ? host.duelClient->localEntityId() : 0;
        header.fixedFps = host.options.fixedFps.value_or(0);
        header.contentDigest = contentDigest(host.options.contentDirectory);
        host.recorder = std::make_unique<replay::ReplayRecorder>(host.options.recordPath, header);
        log.write(kLogInfo, "Recording a replay to " + replay::pathText(host.options.recordPath));
    }

    if (host.options.showWindow || !host.options.smokeTest) {
        host.windowHost->showWindow(host);
    }
    host.lastCounter = host.clock->counter();
    host.accumulator = 0.0;

    FrameLoop(host).run();

    const u64 endNanoseconds = host.clock->monotonicNanoseconds();
    if (host.trace) {
        host.trace->close();
    }
    const render::RenderStatistics& stats = host.renderer.Statistics();
    if (host.options.contentSmoke && (!host.scene || stats.uploadedModels < 2 || stats.drawCalls == 0)) {
        throw std::runtime_error("Content smoke did not upload and draw the duel scene.");
    }
    if (host.duelClient) {
        log.write(kLogInfo, networkSummary(host.duelClient->statistics(), host.scene.get()));
    } else if (host.replay && host.replay->header().online) {
        log.write(kLogInfo, networkSummary(host.replay->figures().statistics, host.scene.get()));
    }
    if (host.replay) {
        log.write(kLogInfo, formatText("Replay played %llu of its %llu frames",
                                       static_cast<unsigned long long>(host.replay->playedFrames()),
                                       static_cast<unsigned long long>(host.replay->frameCount())));
    }
    if (host.recorder) {
        host.recorder->close();
        log.write(kLogInfo, formatText("Replay recorded: %llu frames, %llu bytes in %s",
                                       static_cast<unsigned long long>(host.recorder->framesRecorded()),
                                       static_cast<unsigned long long>(host.recorder->bytesRecorded()),
                                       replay::pathText(host.options.recordPath).c_str()));
    }
    log.write(kLogInfo, widenBytes("Shutdown cleanly after " + std::to_string(stats.presentedFrames) +
                                   " rendered frames and " + std::to_string(host.fixedUpdates) + " fixed updates"));

    RunSummary summary;
    summary.success = true;
    summary.adapter = host.renderer.adapterText();
    summary.driverType = host.renderer.driverText();
    summary.featureLevel = host.renderer.featureLevelText();
    summary.shaderProfile = host.renderer.shaderProfileText();
    summary.renderedFrames = stats.presentedFrames;
    summary.fixedUpdates = host.fixedUpdates;
    summary.variableUpdates = host.variableUpdates;
    summary.elapsedMilliseconds = static_cast<f64>(endNanoseconds - startNanoseconds) / 1'000'000.0;
    summary.width = size.widthPixels;
    summary.height = size.heightPixels;
    summary.renderer = host.renderer.report();
    if (host.scene) {
        summary.scene = host.scene->statistics();
    }
    summary.contentReady = host.scene != nullptr;
    if (host.audioOutput) {
        summary.audioDevice = widenBytes(host.audioOutput->deviceName());
    }
    if (host.hud) {
        summary.hud = RunSummary::HudSummary{host.hud->hasText(),
                                             {std::string(host.hud->name(0)), std::string(host.hud->name(1))},
                                             host.hud->shown()};
    }
    if (host.soundDirector) {
        summary.soundsPlayed = host.soundDirector->soundsPlayed();
        for (const audio::HeardSound& sound : host.soundDirector->log().first(
                 std::min<std::size_t>(host.soundDirector->log().size(), kReportedSoundStarts))) {
            const std::optional<u64> start = host.mixer ? host.mixer->startFrame(sound.serial) : std::nullopt;
            summary.soundStartFrames.push_back(start ? static_cast<i64>(*start) : -1);
        }
    }
    return summary;
}

}  // namespace kestrune::app
