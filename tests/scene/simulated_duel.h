#pragma once
// The duel scene online against the duel server's own rules, in one process and on one
// clock of 60 steps a second: the scene's commands reach the rules, and the rules' results,
// snapshots and events reach the scene, each after a latency counted in steps, with a seeded
// jitter that never reorders (as over TCP). Frames run as the program's do: the duel tick,
// the fixed steps (the server ticking on every second one, at 30 per second), the input, the
// frame's intents sent, then the frame drawn.

#include <deque>
#include <optional>
#include <random>
#include <unordered_set>
#include <vector>

#include "duel_bot.h"
#include "duel_rules.h"
#include "scene_fixture.h"

namespace kestrune::scene::testing {

inline constexpr u32 kLocalEntity = 7;
inline constexpr u32 kOpponentEntity = 8;
inline constexpr u16 kServerTickRate = 30;
inline constexpr u32 kStepsPerTick = 60 / kServerTickRate;

struct Link {
    u32 oneWaySteps = 0;  // each way
    u32 jitterSteps = 0;  // up to this many more, per message
    u32 tickPhase = 0;    // the server ticks on the steps whose number modulo 2 is this
    // The program's steps catch up with the time up to its frame's start, after the duel
    // tick: snapshots of that time are ahead of the steps simulated so far. The server then
    // runs a frame's steps before the program does.
    bool serverAhead = false;
};
inline constexpr Link kLoopback{0, 0, 1, true};
inline constexpr Link kRoundTrip100Ms{3, 1, 0, false};  // 50 ms each way and up to 17 more

class SimulatedDuel {
public:
    // `localSlot` 0 plays the warrior; the opponent is a bot of the duel server or, without
    // one, stands where the round starts it until opponentCommand moves it. Twenty idle frames
    // have run when the duel is made: the server's first snapshot has reached the scene.
    SimulatedDuel(u32 localSlot, Link link, bool botOpponent, const std::filesystem::path& content = kContent)
        : f({localSlot, false, true}, content), link_(link) {
        start(localSlot, botOpponent);
    }
    // On the content loaded once for the test program, drawing nothing but the fighters' places.
    SimulatedDuel(u32 localSlot, Link link, bool botOpponent, SceneFixture::Shared shared)
        : f({localSlot, false, true}, shared), link_(link) {
        draw = false;
        start(localSlot, botOpponent);
    }

    SceneFixture f;
    duel::Duel duel{kServerTickRate};

    std::optional<duel::DuelBot> bot;
    bool refuseNextMove = false;  // the next move the scene sends is refused as busy, not applied
    u64 tickOffset = 0;           // added to every snapshot's tick from now on
    bool draw = true;             // each frame drawn through the recording renderer

    // What crossed the link in the last frame, and what the rules decided about the scene's
    // commands in it, for checks of every frame.
    struct Sent { u32 sequence; PlayerIntent intent; };
    struct Decided { u32 sequence; u8 kind; u16 reason; u64 tick; };
    std::vector<Sent> sent;
    std::vector<net::CommandResult> delivered;
    std::vector<Decided> decided;
    std::vector<net::CombatEvent> events;  // handed to the scene in the last frame
    // The opponent's running action (its skill, 0 for none) after each server tick.
    std::vector<u16> opponentSkills{0};
    u64 lockHitTick = 0;  // the newest tick at which the opponent's skill 1 locked the scene's fighter

    // One frame of `steps` fixed steps with `input`, whose pressed keys count this frame only.
    // As in the program, the steps but the last run with the previous frame's keys.
    // A frame as the frame loop runs it: what arrived, the fixed steps, the time it dropped
    // (`droppedSteps` the server runs that the program does not simulate), the keys, what it sends.
    void frame(const InputState& input, u32 steps = 1, u32 droppedSteps = 0) {
        sent.clear();
        delivered.clear();
        decided.clear();
        events.clear();
        f.scene.clearCues();  // the frame loop's senses took the last frame's
        for (u32 i = 0; link_.serverAhead && i < steps; ++i) serverStep();
        deliverToScene();
        for (u32 i = 0; i < steps; ++i) {
            f.scene.fixedUpdate(kStep, i + 1 == steps ? input : previousInput_);
            if (!link_.serverAhead) serverStep();
        }
        if (droppedSteps > 0) {
            for (u32 i = 0; i < droppedSteps; ++i) serverStep();
            f.scene.dropTime(droppedSteps * kStep);
        }
        previousInput_ = input;
        f.scene.handleInput(input);
        sendIntents();
        f.scene.update(kStep * steps);
        if (draw) {
            f.drawFrame(1.0);
        } else {
            f.scene.present(1.0);
        }
    }
    void frames(u32 count, const InputState& input = {}, u32 steps = 1) {
        InputState held = input;
        held.pressed = {};
        for (u32 i = 0; i < count; ++i) frame(i == 0 ? input : held, steps);
    }

    // The server runs `steps` steps the program never simulates, as when a frame took longer
    // than the fixed steps it may catch up with and the rest of its time was dropped.
    void loseSteps(u32 steps) {
        for (u32 i = 0; i < steps; ++i) serverStep();
        f.scene.dropTime(steps * kStep);
    }

    // Nothing crosses the link either way for `steps` steps; what was sent arrives afterwards.
    void freezeLink(u32 steps) { frozenUntil_ = now_ + steps; }

    // A command of the opponent's player, decided at once.
    u16 opponentCommand(u8 kind, i32 a = 0, i32 b = 0, u16 c = 0) {
        const u32 target = kind == net::kCommandMove || kind == net::kCommandStop ? 0 : kLocalEntity;
        const net::ClientCommandMessage command{++opponentSequence_, kind, target, static_cast<u16>(a),
                                                static_cast<u16>(b), c};
        return duel.apply(opponentClass_, command);
    }

    const duel::Fighter& local() const { return duel.fighter(localClass_); }
    const duel::Fighter& opponent() const { return duel.fighter(opponentClass_); }
    static Vec3 metres(const duel::Fighter& fighter) {
        return {static_cast<f32>(fighter.xMm / 1000.0), 0.0f, static_cast<f32>(fighter.zMm / 1000.0)};
    }
    CharacterSlot& localSlot() { return f.slot(f.scene.controlledSlot()); }
    CharacterSlot& remoteSlot() { return f.slot(1 - f.scene.controlledSlot()); }
    u64 newestSnapshotTick() const { return newestTick_; }
    u64 now() const { return now_; }  // steps the server has run
    u64 linkOpensAt() const { return frozenUntil_; }  // the step a frozen link opens again
    u32 rejections() const { return rejections_; }  // the scene's commands the rules refused
    u32 commandsSent() const { return sequence_; }

private:
    void start(u32 localSlot, bool botOpponent) {
        localClass_ = localSlot == 0 ? net::kWarrior : net::kTemplar;
        opponentClass_ = localSlot == 0 ? net::kTemplar : net::kWarrior;
        duel.seat(localClass_, kLocalEntity);
        duel.seat(opponentClass_, kOpponentEntity);
        if (botOpponent) bot.emplace(opponentClass_, kServerTickRate);
        frames(20);
    }

    struct ToServer { u64 arrival; net::ClientCommandMessage command; };
    struct ToScene {
        u64 arrival;
        std::optional<net::CommandResult> result;
        std::optional<net::DuelSnapshot> snapshot;
        std::vector<net::CombatEvent> events;
    };

    u64 arrival(u64& lastArrival) {
        const u64 jitter = link_.jitterSteps == 0 ? 0 : random_() % (link_.jitterSteps + 1);
        lastArrival = std::max(lastArrival, now_ + link_.oneWaySteps + jitter);
        return lastArrival;
    }
    bool linkOpen() const { return now_ >= frozenUntil_; }

    // The duel tick: every result, the newest snapshot, every event, in that order.
    void deliverToScene() {
        std::optional<net::DuelSnapshot> newest;
        while (linkOpen() && !toScene_.empty() && toScene_.front().arrival <= now_) {
            ToScene& message = toScene_.front();
            if (message.result) {
                delivered.push_back(*message.result);
                f.scene.applyCommandResult(*message.result);
                if (pendingMoves_.erase(message.result->commandSequence) > 0) {
                    f.scene.resolveMove(message.result->accepted);
                }
            }
            if (message.snapshot) newest = std::move(message.snapshot);
            events.insert(events.end(), message.events.begin(), message.events.end());
            toScene_.pop_front();
        }
        if (newest) {
            newestTick_ = newest->tick;
            f.scene.applySnapshot(*newest, kLocalEntity, sequence_, kServerTickRate);
        }
        f.scene.applyCombatEvents(events);
    }

    void sendIntents() {
        std::vector<PlayerIntent> intents;
        f.scene.takeIntents(intents);
        for (const PlayerIntent& intent : intents) {
            net::ClientCommandMessage command{++sequence_, 0, intent.targetEntityId, static_cast<u16>(intent.moveX),
                                              static_cast<u16>(intent.moveZ), intent.skill};
            command.kind = intent.kind == kIntentMove          ? net::kCommandMove
                           : intent.kind == kIntentStop        ? net::kCommandStop
                           : intent.kind == kIntentBasicAttack ? net::kCommandBasicAttack
                                                               : net::kCommandUseSkill;
            if (intent.kind == kIntentMove) pendingMoves_.insert(sequence_);
            sent.push_back({sequence_, intent});
            toServer_.push_back({arrival(lastToServer_), command});
            f.scene.commandSent(sequence_);
        }
    }

    // One 60th of a second of the server: commands as they arrive, and a tick every second step.
    void serverStep() {
        ++now_;
        while (linkOpen() && !toServer_.empty() && toServer_.front().arrival <= now_) {
            const net::ClientCommandMessage command = toServer_.front().command;
            toServer_.pop_front();
            const bool refused = refuseNextMove && command.kind == net::kCommandMove;
            if (refused) refuseNextMove = false;
            const u16 reason = refused ? duel::kBusy : duel.apply(localClass_, command);
            rejections_ += reason != duel::kAccepted;
            decided.push_back({command.commandSequence, command.kind, reason, tick_});
            ToScene message{arrival(lastToScene_)};
            message.result = net::CommandResult{command.commandSequence, reason == duel::kAccepted, reason,
                                                tick_ + tickOffset};
            toScene_.push_back(std::move(message));
        }
        if (now_ % kStepsPerTick != link_.tickPhase) return;
        ++tick_;
        if (bot) bot->think(duel);
        duel.step();
        opponentSkills.push_back(opponent().actionSkill);
        if (local().lockTicks == net::ticksFromMs(net::kSkill1LockMs, kServerTickRate)) lockHitTick = tick_;
        ToScene message{arrival(lastToScene_)};
        message.snapshot.emplace();
        duel.writeSnapshot(tick_ + tickOffset, *message.snapshot);
        message.events.assign(duel.events().begin(), duel.events().end());
        duel.clearEvents();
        toScene_.push_back(std::move(message));
    }

    Link link_;
    InputState previousInput_;
    u8 localClass_ = net::kWarrior;
    u8 opponentClass_ = net::kTemplar;
    std::minstd_rand random_{7};
    u64 now_ = 0;
    u64 tick_ = 0;
    u64 frozenUntil_ = 0;
    u64 lastToServer_ = 0;
    u64 lastToScene_ = 0;
    u64 newestTick_ = 0;
    u32 sequence_ = 0;
    u32 opponentSequence_ = 0;
    u32 rejections_ = 0;
    std::unordered_set<u32> pendingMoves_;
    std::deque<ToServer> toServer_;
    std::deque<ToScene> toScene_;
};

}  // namespace kestrune::scene::testing
