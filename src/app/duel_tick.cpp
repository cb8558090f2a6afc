#include "app/duel_tick.h"

#include <string>

#include "app/log.h"
#include "app/native_client.h"
#include "base/text_format.h"

namespace kestrune::app {
namespace {

// The command sequence the intent went out with, or 0.
u32 sendIntent(net::DuelClient& client, const scene::PlayerIntent& intent) {
    bool sent = false;
    switch (intent.kind) {
        case scene::kIntentMove: sent = client.sendMove(intent.moveX, intent.moveZ); break;
        case scene::kIntentStop: sent = client.sendStop(); break;
        case scene::kIntentBasicAttack: sent = client.sendBasicAttack(intent.targetEntityId); break;
        case scene::kIntentUseSkill: sent = client.sendSkill(intent.targetEntityId, intent.skill); break;
        default: break;
    }
    return sent ? client.lastSentCommandSequence() : 0;
}

// The session ended: the game goes on showing the last state; the reason is said once. A
// session the program closed itself has none.
void saySessionEnded(NativeClient& host, const std::string& reason) {
    host.duelSessionEnded = true;
    if (host.log != nullptr && !reason.empty()) {
        host.log->write(kLogWarn, "Duel session ended: " + reason);
    }
}

// One frame's word from the server into the scene, whether the network or a replay said it.
// Results first: each came before the snapshots of the ticks after it was decided, and the
// scene needs their ticks to compare a snapshot with its prediction.
void handToScene(NativeClient& host, scene::FrameScene& scene, std::span<const net::CommandResult> results,
                 const net::DuelSnapshot* snapshot, std::span<const net::CombatEvent> events,
                 const SessionIdentity& session) {
    for (const net::CommandResult& result : results) {
        scene.applyCommandResult(result);
        if (host.pendingMoves.erase(result.commandSequence) > 0) {
            scene.resolveMove(result.accepted);
        }
        if (!result.accepted && host.log != nullptr) {
            host.log->write(kLogWarn, formatText("Server rejected command %u at tick %llu (reason %u)",
                                                 result.commandSequence,
                                                 static_cast<unsigned long long>(result.tick), u32{result.reason}));
        }
    }
    if (snapshot != nullptr) {
        scene.applySnapshot(*snapshot, session.localEntityId, session.lastSentCommandSequence, session.tickRate);
    }
    scene.applyCombatEvents(events);
}

void replayDuelTick(NativeClient& host) {
    const replay::ReplayReader& replay = *host.replay;
    if (!replay.header().online || host.duelSessionEnded) {
        return;
    }
    if (const std::string* reason = replay.sessionEnd()) {
        saySessionEnded(host, *reason);
        return;
    }
    if (host.scene != nullptr) {
        handToScene(host, *host.scene, replay.results(), replay.snapshot(), replay.events(),
                    {replay.header().localEntityId, host.lastSentSequence, replay.header().tickRate});
    }
}

}  // namespace

void runDuelTick(NativeClient& host) {
    if (host.replay) {
        replayDuelTick(host);
        return;
    }
    scene::FrameScene* scene = host.scene.get();
    net::DuelClient* client = host.duelClient.get();
    if (client != nullptr && !client->isRunning() && !host.duelSessionEnded) {
        const std::string reason = client->lastError();
        saySessionEnded(host, reason);
        if (host.recorder) {
            host.recorder->sessionEnded(reason);
        }
    }
    if (client == nullptr || !client->isRunning() || scene == nullptr) {
        return;
    }
    const std::vector<net::CommandResult> results = client->takeCommandResults();
    const std::optional<net::DuelSnapshot> snapshot = client->takeSnapshot();
    const std::vector<net::CombatEvent> events = client->takeCombatEvents();
    const net::DuelSnapshot* newest = snapshot ? &*snapshot : nullptr;
    if (host.recorder) {
        host.recorder->serverWord(results, newest, events);
    }
    handToScene(host, *scene, results, newest, events,
                {client->localEntityId(), client->lastSentCommandSequence(), client->tickRate()});
}

void sendDuelIntents(NativeClient& host) {
    scene::FrameScene* scene = host.scene.get();
    if (scene == nullptr) {
        return;
    }
    scene->takeIntents(host.intentBuffer);
    net::DuelClient* client = host.duelClient.get();
    const bool running = client != nullptr && client->isRunning();
    const bool replayOnline = host.replay && host.replay->header().online;
    const std::span<const u32> recorded = replayOnline ? host.replay->sentSequences() : std::span<const u32>();
    std::size_t taken = 0;
    for (const scene::PlayerIntent& intent : host.intentBuffer) {
        u32 sequence = 0;
        if (replayOnline) {
            // The sequence the recorded run's command got; none left means the replay went
            // another way than the run.
            sequence = taken < recorded.size() ? recorded[taken] : 0;
            host.replayDiverged = host.replayDiverged || taken >= recorded.size();
            ++taken;
        } else if (running) {
            sequence = sendIntent(*client, intent);
        }
        if (sequence != 0 && intent.kind == scene::kIntentMove) {
            host.pendingMoves.insert(sequence);
        }
        if (sequence != 0 && replayOnline) {
            host.lastSentSequence = sequence;  // what the session would say of its newest command
        }
        if (host.recorder && client != nullptr) {
            host.recorder->commandSent(sequence);
        }
        scene->commandSent(sequence);
    }
    host.replayDiverged = host.replayDiverged || taken < recorded.size();
    host.intentBuffer.clear();
}

}  // namespace kestrune::app
