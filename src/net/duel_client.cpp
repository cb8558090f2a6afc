#include "net/duel_client.h"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <utility>

#include "base/utf8.h"
#include "net/client_messages.h"
#include "net/frame_io.h"
#include "net/frame_sequence.h"
#include "net/protocol.h"
#include "net/server_messages.h"

namespace kestrune::net {
namespace {

constexpr u32 kNoReceiveTimeout = 0;

u64 steadyClockNs() {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<u64>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count());
}

void checkConnectArguments(u8 characterClass, std::string_view characterName, std::string_view gameTicket) {
    if (!isValidCharacterClass(characterClass)) {
        throw std::invalid_argument("invalid duel character class");
    }
    if (characterName.empty()) {
        throw std::invalid_argument("character name cannot be empty");
    }
    if (characterName.size() > kCharacterNameLimitBytes) {
        throw std::invalid_argument("character name exceeds 24 UTF-8 bytes");
    }
    if (!isWellFormedUtf8(characterName)) {
        throw std::invalid_argument("character name is not valid UTF-8");
    }
    if (!isValidGameTicket(gameTicket)) {
        throw std::invalid_argument("game ticket is invalid");
    }
}

}  // namespace

DuelClient::~DuelClient() { teardown(); }

void DuelClient::connect(const std::string& host, u16 port, u8 characterClass, std::string_view characterName,
                         std::string_view gameTicket) {
    teardown();
    {
        const std::lock_guard lock(stateMutex_);
        latestSnapshot_.reset();
        combatEvents_.clear();
        commandResults_.clear();
        lastError_.clear();
        sentCommands_.fill({});
        roundTrips_.clear();
        snapshotsReceived_ = firstSnapshotNs_ = lastSnapshotNs_ = commandsSent_ = 0;
    }
    checkConnectArguments(characterClass, characterName, gameTicket);
    try {
        join(host, port, characterClass, characterName, gameTicket);
    } catch (...) {
        teardown();
        throw;
    }
}

void DuelClient::join(const std::string& host, u16 port, u8 characterClass, std::string_view characterName,
                      std::string_view gameTicket) {
    startSockets();
    socketsStarted_ = true;
    socket_ = connectTcp(host, port);
    setNoDelay(socket_);
    setReceiveTimeout(socket_, kHandshakeReceiveTimeoutMs);
    setSendTimeout(socket_, kSendTimeoutMs);

    sendFrame(socket_, sendBuffer_, kClientHello, nextFrameSequence_++, 0, encodeHello(gameTicket, steadyClockNs()));

    const Frame welcomeFrame = receiveFrame(socket_);
    if (welcomeFrame.type != kServerWelcome) {
        throw std::runtime_error("server did not answer with ServerWelcome");
    }
    const ServerWelcomeMessage welcome = decodeWelcome(welcomeFrame.payload);
    if (welcome.sessionId == 0 || welcome.tickRate == 0 || welcomeFrame.sessionId != welcome.sessionId) {
        throw std::runtime_error("invalid server welcome");
    }
    sessionId_ = welcome.sessionId;
    tickRate_.store(welcome.tickRate);
    checkServerSequence(welcomeFrame, sessionId_, lastServerSequence_);

    sendFrame(socket_, sendBuffer_, kClientJoin, nextFrameSequence_++, sessionId_,
              encodeJoin(characterClass, characterName));

    // What the server sends before the join completes is kept for the first take.
    for (;;) {
        const Frame frame = receiveFrame(socket_);
        checkServerSequence(frame, sessionId_, lastServerSequence_);
        if (frame.type == kServerSnapshot) {
            storeSnapshot(decodeSnapshot(frame.payload));
        } else if (frame.type == kServerCombatEvents) {
            appendCombatEvents(decodeCombatEvents(frame.payload));
        } else if (frame.type == kServerJoined) {
            const ServerJoinedMessage joined = decodeJoined(frame.payload);
            if (joined.entityId == 0) {
                throw std::runtime_error("server returned an invalid duel entity id");
            }
            if (joined.characterClass != characterClass || !isValidCharacterClass(joined.characterClass)) {
                throw std::runtime_error("server joined a different character class");
            }
            localEntityId_.store(joined.entityId);
            break;
        } else if (frame.type == kServerError) {
            throw std::runtime_error(decodeServerError(frame.payload));
        } else {
            throw std::runtime_error("unexpected duel server message while joining");
        }
    }

    setReceiveTimeout(socket_, kNoReceiveTimeout);
    running_.store(true);
    receiveThread_ = std::thread(&DuelClient::receiveLoop, this);
}

void DuelClient::receiveLoop() {
    if (!running_.load()) {
        return;
    }
    try {
        for (;;) {
            Frame frame = receiveFrame(socket_);
            checkServerSequence(frame, sessionId_, lastServerSequence_);
            switch (frame.type) {
            case kServerCommandResult: {
                const CommandResult result = decodeCommandResult(frame.payload);
                const u64 arrivedNs = steadyClockNs();
                const std::lock_guard lock(stateMutex_);
                commandResults_.push_back(result);
                const SentCommand& sent = sentCommands_[result.commandSequence % kTimedCommands];
                if (sent.commandSequence == result.commandSequence && sent.commandSequence != 0) {
                    roundTrips_.record((arrivedNs - sent.sentNs) / 1000);
                }
                break;
            }
            case kServerSnapshot:
                storeSnapshot(decodeSnapshot(frame.payload));
                break;
            case kServerCombatEvents:
                appendCombatEvents(decodeCombatEvents(frame.payload));
                break;
            case kServerTick:
                decodeTick(frame.payload);
                break;
            case kServerError:
                throw std::runtime_error(decodeServerError(frame.payload));
            default:
                throw std::runtime_error("unexpected duel server message");
            }
            if (!running_.load()) {
                return;
            }
        }
    } catch (const std::exception& error) {
        // A teardown clears running_ before it wakes this thread, so its wake-up is not an error.
        stopWithError(error.what());
    }
}

void DuelClient::teardown() {
    const std::lock_guard lock(lifecycleMutex_);
    running_.store(false);
    if (socket_.isOpen()) {
        shutdownBoth(socket_);
    }
    if (receiveThread_.joinable()) {
        receiveThread_.join();
    }
    socket_.close();
    if (socketsStarted_) {
        stopSockets();
        socketsStarted_ = false;
    }
    sessionId_ = 0;
    localEntityId_.store(0);
    tickRate_.store(0);
    nextFrameSequence_ = 1;
    lastServerSequence_ = 0;
    commandCounter_ = 0;
    lastSentCommandSequence_.store(0);
}

void DuelClient::stopWithError(const char* text) {
    // running_ is cleared under the lock that guards the text, so an owner who sees
    // isRunning() turn false and then asks lastError() already gets the reason.
    const std::lock_guard lock(stateMutex_);
    if (running_.exchange(false)) {
        lastError_ = text;
    }
}

void DuelClient::storeSnapshot(DuelSnapshot snapshot) {
    const u64 arrivedNs = steadyClockNs();
    const std::lock_guard lock(stateMutex_);
    latestSnapshot_ = std::move(snapshot);
    if (snapshotsReceived_++ == 0) {
        firstSnapshotNs_ = arrivedNs;
    }
    lastSnapshotNs_ = arrivedNs;
}

void DuelClient::appendCombatEvents(std::vector<CombatEvent> events) {
    const std::lock_guard lock(stateMutex_);
    if (combatEvents_.empty()) {
        combatEvents_ = std::move(events);
    } else {
        combatEvents_.insert(combatEvents_.end(), events.begin(), events.end());
    }
}

std::optional<DuelSnapshot> DuelClient::takeSnapshot() {
    const std::lock_guard lock(stateMutex_);
    return std::exchange(latestSnapshot_, std::nullopt);
}

std::optional<DuelSnapshot> DuelClient::peekSnapshot() const {
    const std::lock_guard lock(stateMutex_);
    return latestSnapshot_;
}

std::vector<CombatEvent> DuelClient::takeCombatEvents() {
    const std::lock_guard lock(stateMutex_);
    return std::exchange(combatEvents_, {});
}

std::vector<CommandResult> DuelClient::takeCommandResults() {
    const std::lock_guard lock(stateMutex_);
    return std::exchange(commandResults_, {});
}

std::string DuelClient::lastError() const {
    const std::lock_guard lock(stateMutex_);
    return lastError_;
}

DuelClientStatistics DuelClient::statistics() const {
    const std::lock_guard lock(stateMutex_);
    DuelClientStatistics out;
    out.snapshotsReceived = snapshotsReceived_;
    if (snapshotsReceived_ > 1 && lastSnapshotNs_ > firstSnapshotNs_) {
        out.snapshotsPerSecond =
            static_cast<f64>(snapshotsReceived_ - 1) * 1e9 / static_cast<f64>(lastSnapshotNs_ - firstSnapshotNs_);
    }
    out.commandsSent = commandsSent_;
    out.roundTrips = roundTrips_.count();
    out.roundTripAverageMs = roundTrips_.meanMicroseconds() / 1000.0;
    out.roundTripP99Ms = static_cast<f64>(roundTrips_.percentileMicroseconds(0.99)) / 1000.0;
    out.roundTripMaxMs = static_cast<f64>(roundTrips_.maxMicroseconds()) / 1000.0;
    return out;
}

bool DuelClient::sendMove(i16 a, i16 b) {
    return sendCommand(kCommandMove, 0, static_cast<u16>(a), static_cast<u16>(b), 0);
}

bool DuelClient::sendStop() { return sendCommand(kCommandStop, 0, 0, 0, 0); }

bool DuelClient::sendBasicAttack(u32 targetEntityId) { return sendCommand(kCommandBasicAttack, targetEntityId, 0, 0, 1); }

bool DuelClient::sendSkill(u32 targetEntityId, u16 skill) {
    return sendCommand(kCommandUseSkill, targetEntityId, 0, 0, skill);
}

bool DuelClient::sendCommand(u8 kind, u32 targetEntityId, u16 a, u16 b, u16 c) {
    const std::lock_guard lock(lifecycleMutex_);
    if (!running_.load()) {
        return false;
    }
    try {
        const CommandNumbers numbers = takeCommandNumbers(commandCounter_, nextFrameSequence_);
        const auto payload = encodeCommand(numbers.commandSequence, kind, targetEntityId, a, b, c);
        {
            // Stamped before the send: the result may come back before the send call returns.
            const std::lock_guard stateLock(stateMutex_);
            sentCommands_[numbers.commandSequence % kTimedCommands] = {numbers.commandSequence, steadyClockNs()};
            ++commandsSent_;
        }
        sendFrame(socket_, sendBuffer_, kClientCommand, numbers.frameSequence, sessionId_, payload);
        lastSentCommandSequence_.store(numbers.commandSequence);
        return true;
    } catch (const std::exception& error) {
        stopWithError(error.what());
        shutdownBoth(socket_);  // wakes the receive thread, which then ends
        return false;
    }
}

}  // namespace kestrune::net
