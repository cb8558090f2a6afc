#pragma once
// Where the main thread and the duel session meet, twice a frame. runDuelTick, before the
// fixed steps: every command result (the ticks they were decided at line the prediction up
// with the server), the newest snapshot and every combat event go into the scene.
// sendDuelIntents, once the fixed steps and the input handling have run: every intent the
// scene queued this frame is sent, in the same frame as its key, and the scene learns each
// one's command sequence. Without a running session (or a scene) the intents are dropped, so
// they never pile up. Never throws in ordinary operation: the senders report a broken link by
// returning false, which ends the session, and the next tick finds it stopped and logs why,
// once, at WARN. With a recorder, everything the scene is handed goes into the replay too;
// in a replay, the recorded frame takes the session's place.

#include "base/types.h"

namespace kestrune::app {

class NativeClient;

// What a snapshot needs to know of the session it came from.
struct SessionIdentity {
    u32 localEntityId = 0;
    u32 lastSentCommandSequence = 0;
    u16 tickRate = 0;
};

void runDuelTick(NativeClient& host);
void sendDuelIntents(NativeClient& host);

}  // namespace kestrune::app
