#include "replay/replay_reader.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "base/byte_reader.h"
#include "base/crc32.h"
#include "net/server_messages.h"

namespace kestrune::replay {
namespace {

std::string decimal(u64 value) { return std::to_string(value); }

}  // namespace

ReplayReader::ReplayReader(const std::filesystem::path& path) : name_(pathText(path)) {
    std::ifstream file(path, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!file || error) {
        throw std::runtime_error("Unable to read replay " + name_ + ".");
    }
    if (size > kMaxReplayFileBytes) {
        throw std::runtime_error("Replay " + name_ + " is larger than 1 GiB.");
    }
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("Unable to read replay " + name_ + ".");
    }
    parse(bytes);
}

ReplayReader::ReplayReader(std::span<const std::byte> bytes, const std::string& name) : name_(name) {
    parse(bytes);
}

void ReplayReader::parse(std::span<const std::byte> bytes) {
    const auto damaged = [this](std::string_view what, u64 at) {
        throw std::runtime_error("Replay " + name_ + " is damaged: " + std::string(what) + " at byte " +
                                 decimal(at) + ".");
    };
    if (bytes.size() < kReplayMagic.size() || std::memcmp(bytes.data(), kReplayMagic.data(), kReplayMagic.size()) != 0) {
        throw std::runtime_error("Replay " + name_ + " is not a Kestrune replay.");
    }
    if (bytes.size() < kReplayHeaderBytes) {
        damaged("the header is cut short", bytes.size());
    }
    ByteReader head(bytes.first(kReplayHeaderBytes), [&](std::size_t at, std::string_view) { damaged("header", at); });
    head.take(kReplayMagic.size(), "magic");
    header_.version = head.u16le("version");
    if (header_.version != kReplayVersion) {
        throw std::runtime_error("Replay " + name_ + " is version " + decimal(header_.version) +
                                 "; this program plays version " + decimal(kReplayVersion) + ".");
    }
    header_.characterClass = head.u8le("class");
    const u8 flags = head.u8le("flags");
    header_.tickRate = head.u16le("tick rate");
    const u16 zero = head.u16le("reserved");
    header_.localEntityId = head.u32le("entity");
    header_.fixedFps = head.u32le("fixed fps");
    for (u8& b : header_.contentDigest) {
        b = head.u8le("digest");
    }
    const u32 checksum = head.u32le("checksum");
    if (checksum != crc32(bytes.first(kReplayHeaderBytes - 4))) {
        damaged("the header's checksum does not match", kReplayHeaderBytes - 4);
    }
    // The checksum holds, so these are what the recorder wrote: a newer recorder's meaning.
    if (header_.characterClass > 1 || (flags & ~(kReplayFlagOnline | kReplayFlagAutomaticSkill)) != 0 || zero != 0) {
        damaged("the header has values this version does not know", 6);
    }
    header_.online = (flags & kReplayFlagOnline) != 0;
    header_.automaticSkill = (flags & kReplayFlagAutomaticSkill) != 0;
    if (header_.online != (header_.tickRate != 0)) {
        damaged("the header's tick rate does not fit its mode", 8);
    }

    std::size_t at = kReplayHeaderBytes;
    while (at < bytes.size()) {
        const std::size_t left = bytes.size() - at;
        u32 length = 0;
        if (left >= 4) {
            length = loadU32le(bytes.data() + at);
            if (length > kMaxReplayFrameBytes) {
                damaged("a frame longer than " + decimal(kMaxReplayFrameBytes) + " bytes", at);
            }
        }
        if (left < kReplayFrameHeadBytes || length > left - kReplayFrameHeadBytes) {
            truncation_ = ReplayTruncation{frames_.size() + 1, at};
            break;
        }
        const std::span<const std::byte> body = bytes.subspan(at + kReplayFrameHeadBytes, length);
        if (crc32(body) != loadU32le(bytes.data() + at + 4)) {
            damaged("frame " + decimal(frames_.size() + 1) + " does not match its checksum", at);
        }
        parseFrame(body, at + kReplayFrameHeadBytes);
        at += kReplayFrameHeadBytes + length;
    }
}

void ReplayReader::parseFrame(std::span<const std::byte> body, u64 bodyOffset) {
    const std::string frameName = "frame " + decimal(frames_.size() + 1);
    const auto damaged = [&](std::string_view what, u64 at) {
        throw std::runtime_error("Replay " + name_ + " is damaged: " + frameName + ": " + std::string(what) +
                                 " at byte " + decimal(bodyOffset + at) + ".");
    };
    ByteReader reader(body, [&](std::size_t at, std::string_view label) {
        damaged(std::string(label) + " runs past the frame's end", at);
    });
    Frame frame;
    const u8 kind = reader.u8le("kind");
    if (kind > static_cast<u8>(FrameKind::minimized)) {
        damaged("unknown frame kind " + decimal(kind), 0);
    }
    frame.kind = static_cast<FrameKind>(kind);
    frame.seconds = std::bit_cast<f64>(reader.u64le("seconds"));
    // As measured: a clock that ran backwards gives a negative step, which the loop clamps.
    if (!(std::fabs(frame.seconds) <= kMaxReplayFrameSeconds)) {
        damaged("seconds out of range", 1);
    }
    const u16 keyCount = reader.u16le("key count");
    if (frame.kind == FrameKind::minimized && keyCount != 0) {
        damaged("keys in a minimised frame", 9);
    }
    frame.keys.first = static_cast<u32>(keyChanges_.size());
    for (u16 i = 0; i < keyCount; ++i) {
        const u8 key = reader.u8le("key");
        const u8 bits = reader.u8le("key state");
        if ((bits & ~(kKeyHeld | kKeyPressed | kKeyReleased)) != 0) {
            damaged("unknown key state", reader.offset() - 1);
        }
        keyChanges_.push_back({key, bits});
    }
    frame.keys.count = keyCount;
    frame.results.first = static_cast<u32>(results_.size());
    frame.events.first = static_cast<u32>(events_.size());
    frame.sent.first = static_cast<u32>(sent_.size());
    // The duel tick's order: results, the snapshot, events; sends, the end and figures after.
    u8 lastTag = 0;
    while (!reader.atEnd()) {
        const std::size_t itemAt = reader.offset();
        const u8 tag = reader.u8le("item tag");
        const bool serverItem = tag >= static_cast<u8>(ItemTag::result) && tag <= static_cast<u8>(ItemTag::figures);
        if (tag < static_cast<u8>(ItemTag::stick) || tag > static_cast<u8>(ItemTag::figures)) {
            damaged("unknown item " + decimal(tag), itemAt);
        }
        if (serverItem && !header_.online) {
            damaged("a server item in an offline replay", itemAt);
        }
        if (tag < lastTag || (tag == lastTag && tag != static_cast<u8>(ItemTag::result) &&
                              tag != static_cast<u8>(ItemTag::events) && tag != static_cast<u8>(ItemTag::sent))) {
            damaged("an item out of order", itemAt);
        }
        lastTag = tag;
        try {
            switch (static_cast<ItemTag>(tag)) {
                case ItemTag::stick:
                    if (frame.kind != FrameKind::played) {
                        damaged("a stick in a minimised frame", itemAt);
                    }
                    frame.stickMoved = true;
                    frame.stickX = reader.f32le("stick x");
                    frame.stickZ = reader.f32le("stick z");
                    if (!(frame.stickX >= -1.0f && frame.stickX <= 1.0f && frame.stickZ >= -1.0f &&
                          frame.stickZ <= 1.0f)) {
                        damaged("stick out of range", itemAt);
                    }
                    break;
                case ItemTag::result:
                    results_.push_back(net::decodeCommandResult(reader.take(kResultItemBytes, "result")));
                    break;
                case ItemTag::snapshot:
                    frame.snapshot = static_cast<i32>(snapshots_.size());
                    snapshots_.push_back(net::decodeSnapshot(reader.take(reader.u32le("snapshot length"), "snapshot")));
                    break;
                case ItemTag::events: {
                    const std::vector<net::CombatEvent> events =
                        net::decodeCombatEvents(reader.take(reader.u32le("events length"), "events"));
                    events_.insert(events_.end(), events.begin(), events.end());
                    break;
                }
                case ItemTag::sent: sent_.push_back(reader.u32le("sequence")); break;
                case ItemTag::ended: {
                    const std::span<const std::byte> text = reader.take(reader.u16le("reason length"), "reason");
                    frame.ended = static_cast<i32>(endings_.size());
                    endings_.emplace_back(reinterpret_cast<const char*>(text.data()), text.size());
                    break;
                }
                case ItemTag::figures: {
                    SessionFigures figures;
                    const u8 running = reader.u8le("running");
                    if (running > 1) {
                        damaged("running is neither 0 nor 1", itemAt + 1);
                    }
                    figures.running = running == 1;
                    net::DuelClientStatistics& s = figures.statistics;
                    s.snapshotsReceived = reader.u64le("snapshots");
                    s.snapshotsPerSecond = std::bit_cast<f64>(reader.u64le("snapshots per second"));
                    s.commandsSent = reader.u64le("commands");
                    s.roundTrips = reader.u64le("round trips");
                    s.roundTripAverageMs = std::bit_cast<f64>(reader.u64le("average"));
                    s.roundTripP99Ms = std::bit_cast<f64>(reader.u64le("99th percentile"));
                    s.roundTripMaxMs = std::bit_cast<f64>(reader.u64le("largest"));
                    frame.figures = static_cast<i32>(figureChanges_.size());
                    figureChanges_.push_back(figures);
                    break;
                }
            }
        } catch (const std::runtime_error& error) {
            const std::string text = error.what();
            if (text.starts_with("Replay ")) {
                throw;
            }
            damaged(text, itemAt);  // the duel protocol's decoder refused a message
        }
    }
    frame.results.count = static_cast<u32>(results_.size()) - frame.results.first;
    frame.events.count = static_cast<u32>(events_.size()) - frame.events.first;
    frame.sent.count = static_cast<u32>(sent_.size()) - frame.sent.first;
    frames_.push_back(frame);
}

bool ReplayReader::advance() {
    if (finished()) {
        return false;
    }
    const Frame& next = frames_[next_++];
    input_.beginFrame();
    for (u32 i = 0; i < next.keys.count; ++i) {
        const KeyChange change = keyChanges_[next.keys.first + i];
        input_.keyDown[change.key] = (change.bits & kKeyHeld) != 0;
        input_.pressed[change.key] = (change.bits & kKeyPressed) != 0;
        input_.released[change.key] = (change.bits & kKeyReleased) != 0;
        input_.heldBy[change.key] = input_.keyDown[change.key] ? static_cast<u8>(InputSource::keyboard) : u8{0};
    }
    if (next.stickMoved) {
        input_.analogMoveX = next.stickX;
        input_.analogMoveZ = next.stickZ;
    }
    if (next.figures >= 0) {
        figures_ = figureChanges_[static_cast<std::size_t>(next.figures)];
    }
    return true;
}

std::span<const net::CommandResult> ReplayReader::results() const noexcept {
    return std::span(results_).subspan(frame().results.first, frame().results.count);
}

const net::DuelSnapshot* ReplayReader::snapshot() const noexcept {
    return frame().snapshot < 0 ? nullptr : &snapshots_[static_cast<std::size_t>(frame().snapshot)];
}

std::span<const net::CombatEvent> ReplayReader::events() const noexcept {
    return std::span(events_).subspan(frame().events.first, frame().events.count);
}

const std::string* ReplayReader::sessionEnd() const noexcept {
    return frame().ended < 0 ? nullptr : &endings_[static_cast<std::size_t>(frame().ended)];
}

std::span<const u32> ReplayReader::sentSequences() const noexcept {
    return std::span(sent_).subspan(frame().sent.first, frame().sent.count);
}

}  // namespace kestrune::replay
