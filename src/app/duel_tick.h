#pragma once
// The one place where the main thread and the duel session meet, once per frame before the
// fixed steps: the newest snapshot, every combat event and every command result go into the
// scene, then every intent the scene queued since the last tick is sent. Without a running
// session (or a scene) the intents are dropped, so they never pile up. Never throws in
// ordinary operation: the senders report a broken link by returning false, which ends the
// session, and the next tick finds it stopped and logs why, once, at WARN.

namespace kestrune::app {

class NativeClient;

void runDuelTick(NativeClient& host);

}  // namespace kestrune::app
