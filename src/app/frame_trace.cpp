#include "app/frame_trace.h"

#include <cstdio>
#include <stdexcept>

#include "base/json_text.h"
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

void FrameTrace::writeFrame(const FrameRecord& record, const scene::FrameScene* scene) {
    line_.clear();
    line_.push_back('{');
    appendJsonKey(line_, "frame", true);
    appendJsonInteger(line_, record.frame);
    appendJsonKey(line_, "time");
    appendJsonNumber(line_, record.simulationSeconds);
    appendJsonKey(line_, "steps");
    appendJsonInteger(line_, u64{record.fixedSteps});
    appendJsonKey(line_, "alpha");
    appendJsonNumber(line_, record.alpha);
    if (scene != nullptr) {
        scene->appendTrace(line_);
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
