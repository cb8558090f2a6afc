#include "replay/replay_recorder.h"

#include <bit>
#include <stdexcept>
#include <utility>

#include "base/crc32.h"
#include "base/little_endian.h"
#include "net/protocol.h"
#include "net/server_messages.h"

namespace kestrune::replay {
namespace {

constexpr std::size_t kBufferReserveBytes = 256 * 1024;
constexpr std::size_t kFrameReserveBytes = 16 * 1024;

}  // namespace

ReplayRecorder::ReplayRecorder(const std::filesystem::path& path, const ReplayHeader& header)
    : path_(path), items_(kFrameReserveBytes), frame_(kFrameReserveBytes) {
    if (path.has_parent_path()) {
        std::error_code ignored;
        std::filesystem::create_directories(path.parent_path(), ignored);
    }
    file_.open(path, std::ios::binary | std::ios::trunc);
    if (!file_) {
        throw std::runtime_error("Unable to create replay " + pathText(path) + ".");
    }
    ByteWriter head(kReplayHeaderBytes);
    for (const char c : kReplayMagic) {
        head.u8le(static_cast<u8>(c));
    }
    head.u16le(header.version);
    head.u8le(header.characterClass);
    head.u8le(static_cast<u8>((header.online ? kReplayFlagOnline : 0) |
                              (header.automaticSkill ? kReplayFlagAutomaticSkill : 0)));
    head.u16le(header.tickRate);
    head.u16le(0);
    head.u32le(header.localEntityId);
    head.u32le(header.fixedFps);
    for (const u8 b : header.contentDigest) {
        head.u8le(b);
    }
    head.u32le(crc32(head.bytes()));
    pending_.reserve(kBufferReserveBytes);
    writing_.reserve(kBufferReserveBytes);
    payload_.reserve(net::kMaxPayloadBytes);
    pending_.insert(pending_.end(), head.bytes().begin(), head.bytes().end());
    bytesRecorded_ = head.size();
    writer_ = std::thread([this] { writeLoop(); });
}

ReplayRecorder::~ReplayRecorder() {
    try {
        close();
    } catch (...) {
        // Reported by an explicit close(); a destructor only makes sure nothing is left behind.
    }
}

void ReplayRecorder::serverWord(std::span<const net::CommandResult> results, const net::DuelSnapshot* snapshot,
                                std::span<const net::CombatEvent> events) {
    for (const net::CommandResult& result : results) {
        items_.u8le(static_cast<u8>(ItemTag::result));
        items_.u32le(result.commandSequence);
        items_.u8le(result.accepted ? 1 : 0);
        items_.u16le(result.reason);
        items_.u64le(result.tick);
    }
    if (snapshot != nullptr) {
        net::encodeSnapshot(*snapshot, payload_);
        items_.u8le(static_cast<u8>(ItemTag::snapshot));
        items_.u32le(static_cast<u32>(payload_.size()));
        items_.append(payload_);
    }
    // A message holds a limited number of events; a frame that took more writes several.
    while (!events.empty()) {
        const std::span<const net::CombatEvent> part = events.first(std::min(events.size(), net::kMaxCombatEvents));
        events = events.subspan(part.size());
        net::encodeCombatEvents(part, payload_);
        items_.u8le(static_cast<u8>(ItemTag::events));
        items_.u32le(static_cast<u32>(payload_.size()));
        items_.append(payload_);
    }
}

void ReplayRecorder::sessionEnded(std::string_view reason) {
    ended_ = true;
    endReason_.assign(reason.substr(0, 0xFFFF));
}

void ReplayRecorder::commandSent(u32 commandSequence) {
    items_.u8le(static_cast<u8>(ItemTag::sent));
    items_.u32le(commandSequence);
}

void ReplayRecorder::figures(const SessionFigures& figures) {
    figuresChanged_ = figuresChanged_ || figures != lastFigures_;
    lastFigures_ = figures;
}

// The items of one tag follow those of lower tags: the end and the figures, said before this
// frame's sends, are written after them.
void ReplayRecorder::writeLateItems() {
    if (ended_) {
        items_.u8le(static_cast<u8>(ItemTag::ended));
        items_.u16le(static_cast<u16>(endReason_.size()));
        items_.append(endReason_);
        ended_ = false;
    }
    if (!figuresChanged_) {
        return;
    }
    figuresChanged_ = false;
    const net::DuelClientStatistics& s = lastFigures_.statistics;
    items_.u8le(static_cast<u8>(ItemTag::figures));
    items_.u8le(lastFigures_.running ? 1 : 0);
    items_.u64le(s.snapshotsReceived);
    items_.u64le(std::bit_cast<u64>(s.snapshotsPerSecond));
    items_.u64le(s.commandsSent);
    items_.u64le(s.roundTrips);
    items_.u64le(std::bit_cast<u64>(s.roundTripAverageMs));
    items_.u64le(std::bit_cast<u64>(s.roundTripP99Ms));
    items_.u64le(std::bit_cast<u64>(s.roundTripMaxMs));
}

void ReplayRecorder::endFrame(FrameKind kind, f64 seconds, const InputState& input) {
    frame_.buffer().clear();
    frame_.u32le(0);  // length and checksum, once the body is known
    frame_.u32le(0);
    frame_.u8le(static_cast<u8>(kind));
    frame_.u64le(std::bit_cast<u64>(seconds));
    const std::size_t countAt = frame_.size();
    frame_.u16le(0);
    u16 changed = 0;
    if (kind == FrameKind::played) {
        for (u32 key = 0; key < kVirtualKeyCount; ++key) {
            const u8 bits = static_cast<u8>((input.keyDown[key] ? kKeyHeld : 0) | (input.pressed[key] ? kKeyPressed : 0) |
                                            (input.released[key] ? kKeyReleased : 0));
            // The reader starts each frame from the keys held before, none pressed or released.
            if (bits != (lastInput_.keyDown[key] ? kKeyHeld : 0)) {
                frame_.u8le(static_cast<u8>(key));
                frame_.u8le(bits);
                ++changed;
            }
        }
        if (input.analogMoveX != lastInput_.analogMoveX || input.analogMoveZ != lastInput_.analogMoveZ) {
            frame_.u8le(static_cast<u8>(ItemTag::stick));
            frame_.f32le(input.analogMoveX);
            frame_.f32le(input.analogMoveZ);
        }
        lastInput_.keyDown = input.keyDown;
        lastInput_.analogMoveX = input.analogMoveX;
        lastInput_.analogMoveZ = input.analogMoveZ;
    }
    storeU16le(frame_.buffer().data() + countAt, changed);
    writeLateItems();
    frame_.append(items_.bytes());
    items_.buffer().clear();

    const std::span<const std::byte> body = frame_.bytes().subspan(kReplayFrameHeadBytes);
    frame_.patchU32le(0, static_cast<u32>(body.size()));
    frame_.patchU32le(4, crc32(body));
    {
        const std::lock_guard lock(mutex_);
        pending_.insert(pending_.end(), frame_.bytes().begin(), frame_.bytes().end());
    }
    wake_.notify_one();
    ++framesRecorded_;
    bytesRecorded_ += frame_.size();
}

void ReplayRecorder::writeLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) {
            return;  // stopping, and everything is written
        }
        std::swap(pending_, writing_);
        lock.unlock();
        file_.write(reinterpret_cast<const char*>(writing_.data()), static_cast<std::streamsize>(writing_.size()));
        file_.flush();
        const bool ok = static_cast<bool>(file_);
        writing_.clear();
        lock.lock();
        failed_ = failed_ || !ok;
    }
}

void ReplayRecorder::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable()) {
        writer_.join();
    }
    file_.close();
    if (failed_ || !file_) {
        throw std::runtime_error("Unable to write replay " + pathText(path_) + ".");
    }
}

}  // namespace kestrune::replay
