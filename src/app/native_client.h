#pragma once
// The application host: one per process, created by the entry point with the final
// launch options and the log, run by the boot coordinator and destroyed (in a fixed
// teardown order) before the log is closed. Its fields are the window state that the
// window procedure writes and the frame loop reads, all on the main thread.

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

#include "app/frame_clock.h"
#include "app/frame_loop.h"
#include "app/frame_trace.h"
#include "app/launch_options.h"
#include "app/window_host.h"
#include "audio/audio_output.h"
#include "audio/mixer.h"
#include "audio/sound_bank.h"
#include "audio/sound_director.h"
#include "base/input_state.h"
#include "hud/hud.h"
#include "net/duel_client.h"
#include "render/render_device.h"
#include "replay/replay_reader.h"
#include "replay/replay_recorder.h"
#include "scene/frame_scene.h"

namespace kestrune::app {

class Log;

// Opens the sound output over a mixer, or says in its second argument why it cannot.
using AudioOpener = std::function<std::unique_ptr<audio::AudioOutput>(audio::Mixer&, std::string&)>;

// The platform pieces of a host; tests pass fakes, the program the real ones. Without an
// audio opener the run has no sound device.
struct HostServices {
    std::unique_ptr<WindowHost> windowHost;
    std::unique_ptr<render::RenderBackend> renderBackend;
    std::unique_ptr<FrameClock> clock;
    AudioOpener openAudio;
};

class NativeClient {
public:
    NativeClient(LaunchOptions options, Log* log);
    NativeClient(LaunchOptions options, Log* log, HostServices services);
    // Stops the sound output, then destroys the renderer, the window (if it still exists), the
    // window class, the pending moves, the duel client (joining its receive thread), the scene
    // and the frame trace (flushing it), in that order.
    ~NativeClient();
    NativeClient(const NativeClient&) = delete;
    NativeClient& operator=(const NativeClient&) = delete;

    LaunchOptions options;
    Log* log = nullptr;        // not owned
    void* instance = nullptr;  // module handle, where the platform has one
    void* window = nullptr;    // set by the window host on creation, cleared on destruction
    render::RenderDevice renderer;
    InputState input;
    InputState previousInput;  // the keys as the last frame left them, for the steps that catch up before them
    i64 counterFrequency = 0;
    i64 lastCounter = 0;
    f64 accumulator = 0.0;  // unsimulated seconds
    bool rendererReady = false;
    bool minimized = false;
    bool quitRequested = false;
    bool resizePending = false;
    u32 pendingWidth = 0;
    u32 pendingHeight = 0;
    u64 fixedUpdates = 0;
    u64 variableUpdates = 0;
    f64 droppedSeconds = 0.0;  // time the loop did not simulate (stalls, minimised), for the trace
    std::unique_ptr<scene::FrameScene> scene;  // empty until the content scene exists
    std::unique_ptr<net::DuelClient> duelClient;  // only with --server=
    std::unordered_set<u32> pendingMoves;
    bool duelSessionEnded = false;  // said once in the log
    std::size_t nextScriptedKey = 0;  // into options.keyScript
    std::vector<scene::PlayerIntent> intentBuffer;  // the duel tick's, reused every frame
    std::unique_ptr<FrameTrace> trace;  // only with --trace=
    std::unique_ptr<replay::ReplayRecorder> recorder;  // only with --record=
    std::unique_ptr<replay::ReplayReader> replay;      // only with --replay=: takes the session's place
    u32 lastSentSequence = 0;     // a replay's newest command sequence, the session's stand-in
    bool replayDiverged = false;  // the scene asked for other commands than the recorded run sent
    bool replayDivergenceSaid = false;
    ReplayPace replayPace;
    u64 replayLoops = 0;     // frames of the loop, shown or not; the viewer's --keys count these
    f64 lastAlpha = 0.0;     // of the last frame drawn, to draw it again while a replay waits

    // Sound: the content's sounds, the mixer over them and the output pulling from it (neither
    // when muted or without a device), and the part that hears the scene's cues.
    AudioOpener openAudio;
    std::unique_ptr<audio::SoundBank> sounds;
    std::unique_ptr<audio::Mixer> mixer;
    std::unique_ptr<audio::AudioOutput> audioOutput;
    std::unique_ptr<audio::SoundDirector> soundDirector;

    // Names, score, banners and the network overlay over the picture; with the content scene.
    std::unique_ptr<hud::Hud> hud;

    std::unique_ptr<WindowHost> windowHost;
    std::unique_ptr<FrameClock> clock;
};

}  // namespace kestrune::app
