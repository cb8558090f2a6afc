#pragma once
// The frame trace of --trace=: one JSON object per presented frame (JSON Lines), saying
// what the player saw: frame number, simulated time, fixed steps and alpha of the frame, the
// time dropped so far,
// then the scene's part (fighters, counters, the server's state when online), the duel
// session's figures (snapshots, commands and their round trips), what the HUD shows (the
// score, the round, the banner, whether the network overlay is on) and the sounds the frame
// started (each with its number, fighter, pan and gain; the same with or without a device). Lines are built in one
// reused string and flushed to the file as each frame is presented, so the trace can be
// followed while the program runs (a person with tail -f, a test driving the window frame
// by frame) and holds every presented frame if the process dies.

#include <filesystem>
#include <span>
#include <string>

#include "app/text_file.h"
#include "base/types.h"

namespace kestrune::audio {
struct HeardSound;
}

namespace kestrune::hud {
class Hud;
}

namespace kestrune::replay {
struct SessionFigures;
}

namespace kestrune::scene {
class FrameScene;
}

namespace kestrune::app {

struct FrameRecord {
    u64 frame = 0;  // frames presented so far, this one included
    f64 simulationSeconds = 0.0;
    u32 fixedSteps = 0;
    f64 alpha = 0.0;
    f64 droppedSeconds = 0.0;  // all the time the loop dropped so far: simulated plus dropped is real time
};

class FrameTrace {
public:
    // Throws std::runtime_error "Unable to create frame trace." (or the file system's
    // error for a parent directory that cannot be made).
    explicit FrameTrace(const std::filesystem::path& path);

    // `session` adds the session's figures when online; `sounds` what the frame made heard.
    void writeFrame(const FrameRecord& record, const scene::FrameScene* scene, const replay::SessionFigures* session,
                    const hud::Hud* hud = nullptr, std::span<const audio::HeardSound> sounds = {});
    // Throws std::runtime_error "Unable to write frame trace." when anything was lost.
    void close();

private:
    UniqueFile file_;
    std::string line_;
    bool failed_ = false;
};

}  // namespace kestrune::app
