#include "app/frame_trace.h"

#include <cstdio>
#include <stdexcept>

#include "audio/sound_director.h"
#include "base/json_text.h"
#include "hud/hud.h"
#include "replay/replay_format.h"
#include "scene/frame_scene.h"

namespace kestrune::app {
namespace {

constexpr std::size_t kLineReserveBytes = 2048;

}  // namespace

FrameTrace::FrameTrace(const std::filesystem::path& path) {
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    file_.reset(openTextFileForWriting(path));
    if (!file_) {
        throw std::runtime_error("Unable to create frame trace.");
    }
    line_.reserve(kLineReserveBytes);
}

void FrameTrace::writeFrame(const FrameRecord& record, const scene::FrameScene* scene,
                            const replay::SessionFigures* session, const hud::Hud* hud,
                            std::span<const audio::HeardSound> sounds) {
    line_.clear();
    line_.push_back('{');
    appendJsonMember(line_, "frame", record.frame, true);
    appendJsonMember(line_, "time", record.simulationSeconds);
    appendJsonMember(line_, "steps", record.fixedSteps);
    appendJsonMember(line_, "alpha", record.alpha);
    appendJsonMember(line_, "dropped", record.droppedSeconds);
    if (scene != nullptr) {
        scene->appendTrace(line_);
    }
    if (session != nullptr) {
        const net::DuelClientStatistics& stats = session->statistics;
        appendJsonKey(line_, "session");
        line_.push_back('{');
        appendJsonMember(line_, "running", session->running, true);
        appendJsonMember(line_, "snapshots", stats.snapshotsReceived);
        appendJsonMember(line_, "snapshotsPerSecond", stats.snapshotsPerSecond);
        appendJsonMember(line_, "commands", stats.commandsSent);
        appendJsonMember(line_, "roundTrips", stats.roundTrips);
        appendJsonMember(line_, "roundTripAverageMs", stats.roundTripAverageMs);
        appendJsonMember(line_, "roundTripP99Ms", stats.roundTripP99Ms);
        line_.push_back('}');
    }
    if (hud != nullptr) {
        hud->appendTrace(line_);
    }
    if (!sounds.empty()) {
        appendJsonKey(line_, "sounds");
        line_.push_back('[');
        for (const audio::HeardSound& sound : sounds) {
            if (&sound != sounds.data()) line_.push_back(',');
            line_.push_back('{');
            appendJsonMember(line_, "sound", content::soundName(sound.sound), true);
            appendJsonMember(line_, "serial", sound.serial);
            appendJsonMember(line_, "slot", static_cast<i64>(sound.slot == scene::kNoCueSlot ? -1 : sound.slot));
            appendJsonMember(line_, "pan", sound.placement.pan);
            appendJsonMember(line_, "gain", sound.placement.gain);
            line_.push_back('}');
        }
        line_.push_back(']');
    }
    line_.append("}\n");
    if (std::fwrite(line_.data(), 1, line_.size(), file_.get()) != line_.size() || std::fflush(file_.get()) != 0) {
        failed_ = true;
    }
}

void FrameTrace::close() {
    if (!file_) {
        return;
    }
    const bool flushed = std::fflush(file_.get()) == 0;
    const bool closed = std::fclose(file_.release()) == 0;
    if (failed_ || !flushed || !closed) {
        throw std::runtime_error("Unable to write frame trace.");
    }
}

}  // namespace kestrune::app
