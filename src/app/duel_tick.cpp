#include "app/duel_tick.h"

#include <string>

#include "app/log.h"
#include "app/native_client.h"
#include "base/text_format.h"

namespace kestrune::app {
namespace {

void sendIntent(NativeClient& host, net::DuelClient& client, const scene::PlayerIntent& intent) {
    switch (intent.kind) {
        case scene::kIntentMove:
            if (client.sendMove(intent.moveX, intent.moveZ)) {
                host.pendingMoves.insert(client.lastSentCommandSequence());
            }
            break;
        case scene::kIntentStop: client.sendStop(); break;
        case scene::kIntentBasicAttack: client.sendBasicAttack(intent.targetEntityId); break;
        case scene::kIntentUseSkill: client.sendSkill(intent.targetEntityId, intent.skill); break;
        default: break;
    }
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
        if (scene != nullptr) {
            scene->takeIntents(host.intentBuffer);
            host.intentBuffer.clear();
        }
        return;
    }

    // The scene sees the server's state and answers before its own intents go out.
    if (const std::optional<net::DuelSnapshot> snapshot = client->takeSnapshot()) {
        scene->applySnapshot(*snapshot, client->localEntityId(), client->lastSentCommandSequence(),
                             client->tickRate());
    }
    scene->applyCombatEvents(client->takeCombatEvents());
    for (const net::CommandResult& result : client->takeCommandResults()) {
        if (host.pendingMoves.erase(result.commandSequence) > 0) {
            scene->resolveMove(result.accepted);
        }
        if (!result.accepted && host.log != nullptr) {
            host.log->write(kLogWarn, formatText("Server rejected command %u at tick %llu (reason %u)",
                                                 result.commandSequence,
                                                 static_cast<unsigned long long>(result.tick), u32{result.reason}));
        }
    }

    scene->takeIntents(host.intentBuffer);
    for (const scene::PlayerIntent& intent : host.intentBuffer) {
        sendIntent(host, *client, intent);
    }
    host.intentBuffer.clear();
}

}  // namespace kestrune::app
