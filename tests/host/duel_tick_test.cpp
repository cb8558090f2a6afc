#include "app/duel_tick.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/fake_scene.h"
#include "net/server_messages.h"
#include "net/test_peer.h"

namespace kestrune::app {
namespace {

using net::test::PeerConnection;
using net::test::TestPeer;
using scene::PlayerIntent;

constexpr u32 kOpponent = 8;

net::DuelSnapshot snapshotAt(u64 tick) {
    net::DuelSnapshot snapshot;
    snapshot.tick = tick;
    snapshot.players.push_back({net::test::kPeerEntityId, net::kWarrior, 0, 0, 1000, 1000, 0, 0, 0, 0, 0});
    return snapshot;
}

// The frame's intents go out in order, the unknown kind skipped, each one's sequence told to
// the scene (0 for the skipped one), and only the sent move awaits its answer. One tick after
// everything the server sent has arrived: every result first, then the newest snapshot only,
// every event once. Once the session is gone, intents are dropped unsent.
TEST(DuelTick, ExchangesEverythingOnceAndSendsIntentsInOrder) {
    std::vector<net::ClientCommandMessage> commands;
    TestPeer peer([&](PeerConnection& c) {
        c.handshake();
        for (int i = 0; i < 4; ++i) commands.push_back(c.expectCommand());
        const std::vector<net::CombatEvent> events{{11, 1, kOpponent, 7, 1, 2, 0}, {12, 2, kOpponent, 7, 1, 80, 0}};
        c.send(net::kServerCombatEvents, net::encodeCombatEvents(events));
        c.send(net::kServerCommandResult, net::encodeCommandResult({1, true, 0, 40}));
        c.send(net::kServerCommandResult, net::encodeCommandResult({2, false, 7, 41}));
        c.send(net::kServerCommandResult, net::encodeCommandResult({1, false, 5, 42}));  // a repeat: logged only
        c.send(net::kServerSnapshot, net::encodeSnapshot(snapshotAt(5)));
        c.send(net::kServerSnapshot, net::encodeSnapshot(snapshotAt(6)));
        c.waitForClose();
    });
    testing::SceneHost fake;
    testing::RecordingScene& scene = *fake.scene;
    NativeClient& host = *fake.host;
    host.duelClient = std::make_unique<net::DuelClient>();
    host.duelClient->connect("127.0.0.1", peer.port(), net::kWarrior, "Fighter", "");
    // Beside the test's scratch directory, which the replaying host makes afresh.
    const std::filesystem::path recording = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output/duel-tick.krpl";
    host.recorder = std::make_unique<replay::ReplayRecorder>(
        recording, replay::ReplayHeader{.online = true, .tickRate = net::test::kPeerTickRate,
                                        .localEntityId = net::test::kPeerEntityId});
    const auto endFrame = [&] { host.recorder->endFrame(replay::FrameKind::played, 0.0, host.input); };
    const std::vector<PlayerIntent> intents = {
        {scene::kIntentMove, 707, -707, 0, 0}, {9, 0, 0, 0, 0}, {scene::kIntentBasicAttack, 0, 0, kOpponent, 1},
        {scene::kIntentUseSkill, 0, 0, kOpponent, 1001}, {scene::kIntentStop, 0, 0, 0, 0}};

    scene.queued = intents;
    sendDuelIntents(host);
    endFrame();
    EXPECT_EQ(std::tuple(scene.sentSequences, host.pendingMoves),
              std::tuple(std::vector<u32>{1, 0, 2, 3, 4}, std::unordered_set<u32>{1}));
    ASSERT_TRUE(net::test::eventually([&] {
        const auto snapshot = host.duelClient->peekSnapshot();
        return snapshot && snapshot->tick == 6;
    }));
    runDuelTick(host);
    endFrame();
    runDuelTick(host);
    endFrame();

    EXPECT_EQ(commands, (std::vector<net::ClientCommandMessage>{
                            {1, net::kCommandMove, 0, 707, static_cast<u16>(-707), 0},
                            {2, net::kCommandBasicAttack, kOpponent, 0, 0, 1},
                            {3, net::kCommandUseSkill, kOpponent, 0, 0, 1001}, {4, net::kCommandStop, 0, 0, 0, 0}}));
    EXPECT_EQ(scene.snapshots, (std::vector<std::tuple<u64, u32, u32, u16>>{
                                   {6, net::test::kPeerEntityId, 4, net::test::kPeerTickRate}}));
    ASSERT_EQ(std::tuple(scene.events.size(), scene.results.size()), std::tuple(2u, 3u));
    EXPECT_EQ(std::tuple(scene.events[1].eventId, scene.results[1], scene.moveResolutions, host.pendingMoves.empty()),
              std::tuple(12u, net::CommandResult{2, false, 7, 41}, std::vector<bool>{true}, true));
    // Each tick hands over the results before the snapshot, then the events (empty after the first).
    EXPECT_EQ(scene.calls, (std::vector<std::string>{"take", "sent", "sent", "sent", "sent", "sent", "result",
                                                      "resolve", "result", "result", "snapshot", "events", "events"}));

    host.duelClient->teardown();
    scene.queued = {{scene::kIntentMove, 1000, 0, 0, 0}};
    sendDuelIntents(host);
    endFrame();
    EXPECT_EQ(std::tuple(scene.queued.empty(), scene.sentSequences.back(), host.pendingMoves.empty()),
              std::tuple(true, 0u, true));
    EXPECT_EQ(peer.finish(), "");
    host.recorder->close();
    const std::vector<std::string> logged = fake.lines();  // closed before the next host makes the directory anew

    // The replay in the session's place hands the scene the very same calls, frame by frame.
    testing::SceneHost again;
    again.host->replay = std::make_unique<replay::ReplayReader>(recording);
    const std::vector<std::pair<bool, std::vector<PlayerIntent>>> frames = {  // as above: ticked?, intents
        {false, intents}, {true, {}}, {true, {}}, {false, {{scene::kIntentMove, 1000, 0, 0, 0}}}};
    for (const auto& [ticked, queued] : frames) {
        ASSERT_TRUE(again.host->replay->advance());
        if (ticked) runDuelTick(*again.host);
        again.scene->queued = queued;
        sendDuelIntents(*again.host);
    }
    const auto seen = [](const testing::RecordingScene& s) {
        return std::tuple(s.calls, s.sentSequences, s.snapshots, s.events, s.results, s.moveResolutions);
    };
    std::erase(scene.calls, "take");  // the replay's frames take intents every frame, the live test only twice
    std::erase(again.scene->calls, "take");
    EXPECT_EQ(seen(*again.scene), seen(scene));
    EXPECT_FALSE(again.host->replayDiverged);
    EXPECT_EQ(again.lines(), logged);
    EXPECT_EQ(logged, (std::vector<std::string>{"[WARN] Server rejected command 2 at tick 41 (reason 7)",
                                                "[WARN] Server rejected command 1 at tick 42 (reason 5)"}));
    // A scene that asks for fewer commands, or more, than the run sent has gone another way.
    for (const std::size_t asked : {std::size_t{4}, std::size_t{6}}) {
        testing::SceneHost other;
        other.host->replay = std::make_unique<replay::ReplayReader>(recording);
        ASSERT_TRUE(other.host->replay->advance());
        other.scene->queued.assign(asked, intents[0]);
        sendDuelIntents(*other.host);
        EXPECT_TRUE(other.host->replayDiverged) << asked << " commands asked";
    }
}

}  // namespace
}  // namespace kestrune::app
