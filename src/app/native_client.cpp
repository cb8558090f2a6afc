#include "app/native_client.h"

#include <utility>

#include "render/platform_backend.h"

namespace kestrune::app {

NativeClient::NativeClient(LaunchOptions launchOptions, Log* sharedLog)
    : NativeClient(std::move(launchOptions), sharedLog,
                   HostServices{createPlatformWindowHost(), render::createPlatformBackend(),
                                createSystemFrameClock(), audio::openAudioOutput}) {}

NativeClient::NativeClient(LaunchOptions launchOptions, Log* sharedLog, HostServices services)
    : options(std::move(launchOptions)),
      log(sharedLog),
      renderer(std::move(services.renderBackend)),
      openAudio(std::move(services.openAudio)),
      windowHost(std::move(services.windowHost)),
      clock(std::move(services.clock)) {
    instance = windowHost->moduleHandle();
    counterFrequency = clock->counterFrequency();
    lastCounter = clock->counter();
    pendingMoves.max_load_factor(1.0f);
    intentBuffer.reserve(scene::kMaxQueuedIntents);
}

NativeClient::~NativeClient() {
    audioOutput.reset();
    renderer.Destroy();
    windowHost->destroyWindow(*this);
    windowHost->unregisterWindowClass(*this);
    pendingMoves.clear();
    duelClient.reset();
    scene.reset();
    trace.reset();
    recorder.reset();
    replay.reset();
}

}  // namespace kestrune::app
