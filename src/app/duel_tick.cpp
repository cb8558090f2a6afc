#include "app/duel_tick.h"

#include <string>

#include "app/log.h"
#include "app/native_client.h"
#include "base/text_format.h"

namespace kestrune::app {
namespace {

// The command sequence the intent went out with, or 0.
u32 sendIntent(NativeClient& host, net::DuelClient& client, const scene::PlayerIntent& intent) {
    bool sent = false;
    switch (intent.kind) {
        case scene::kIntentMove:
            sent = client.sendMove(intent.moveX, intent.moveZ);
            if (sent) {
                host.pendingMoves.insert(client.lastSentCommandSequence());
            }
            break;
        case scene::kIntentStop: sent = client.sendStop(); break;
        case scene::kIntentBasicAttack: sent = client.sendBasicAttack(intent.targetEntityId); break;
        case scene::kIntentUseSkill: sent = client.sendSkill(intent.targetEntityId, intent.skill); break;
        default: break;
    }
    return sent ? client.lastSentCommandSequence() : 0;
}

}  // namespace

void runDuelTick(NativeClient& host) {
    scene::FrameScene* scene = host.scene.get();
    net::DuelClient* client = host.duelClient.get();
    if (client != nullptr && !client->isRunning() && !host.duelSessionEnded) {
        // The game goes on showing the last state; the reason is said once. A session the
        // program closed itself has none.
        host.duelSessionEnded = true;
        const std::string reason = client->lastError();
        if (host.log != nullptr && !reason.empty()) {
            host.log->write(kLogWarn, "Duel session ended: " + reason);
        }
    }
    if (client == nullptr || !client->isRunning() || scene == nullptr) {
        return;
    }

    // Results first: each came before the snapshots of the ticks after it was decided, and
    // the scene needs their ticks to compare a snapshot with its prediction.
    for (const net::CommandResult& result : client->takeCommandResults()) {
        scene->applyCommandResult(result);
        if (host.pendingMoves.erase(result.commandSequence) > 0) {
            scene->resolveMove(result.accepted);
        }
        if (!result.accepted && host.log != nullptr) {
            host.log->write(kLogWarn, formatText("Server rejected command %u at tick %llu (reason %u)",
                                                 result.commandSequence,
                                                 static_cast<unsigned long long>(result.tick), u32{result.reason}));
        }
    }
    if (const std::optional<net::DuelSnapshot> snapshot = client->takeSnapshot()) {
        scene->applySnapshot(*snapshot, client->localEntityId(), client->lastSentCommandSequence(),
                             client->tickRate());
    }
    scene->applyCombatEvents(client->takeCombatEvents());
}

void sendDuelIntents(NativeClient& host) {
    scene::FrameScene* scene = host.scene.get();
    if (scene == nullptr) {
        return;
    }
    net::DuelClient* client = host.duelClient.get();
    scene->takeIntents(host.intentBuffer);
    const bool running = client != nullptr && client->isRunning();
    for (const scene::PlayerIntent& intent : host.intentBuffer) {
        scene->commandSent(running ? sendIntent(host, *client, intent) : 0);
    }
    host.intentBuffer.clear();
}

}  // namespace kestrune::app
