#pragma once
// ServerView: what the duel server does with the local fighter, on the prediction's timeline.
// The server moves the fighter with the last move it took (kept through a lock; taken during a
// lock or an action, from its end), runs an action for its window, refuses an action while the
// fighter is in a window, cooling down, locked or down, and drops the move at an action, a
// knockout and a new round. The view is told every command the scene queues, the sequence it
// went out with, its result, and every snapshot of the fighter; the scene asks it before it
// predicts or sends anything, and draws the lock it knows. Offline it takes every action and
// only remembers the move queued last, so that each move is queued once.
//
// Times are seconds of the scene's clock (its fixed steps plus the time the frame loop
// dropped), ticks the server's. The tick a command was decided at stands for the moment it was
// issued: the prediction shows a command at once and the server acts on it from the next tick,
// so those anchors line every tick up with the prediction. Main thread only; nothing is
// allocated after construction.

#include <array>

#include "base/types.h"
#include "net/duel_records.h"
#include "net/rule_book.h"
#include "scene/player_intent.h"

namespace kestrune::scene {

inline constexpr u16 kDefaultTickRate = 30;
// Commands remembered with their issue time and decision tick: far more than are ever in flight.
inline constexpr u32 kRememberedCommands = 256;
// A refused move goes out again this long after the refusal.
inline constexpr f64 kMoveResendSeconds = 0.1;
// How far back the spread of the commands' delays is measured.
inline constexpr f64 kDelaySpreadSeconds = 5.0;
// A command decided this much later than the quickest delay seen was held up by the link.
inline constexpr f64 kHeldUpSeconds = 0.1;

enum class ServerPhase : u8 { standing, moving, acting, locked, down };

// The move the server carries out, or will once the fighter is free.
struct ServerMove {
    bool active = false;
    i16 x = 0;
    i16 z = 0;
    friend bool operator==(const ServerMove&, const ServerMove&) = default;
};

// What a command's result changes for the screen.
struct CommandOutcome {
    u16 refusedSkill = 0;  // an action the server refused; 0 for none
    bool newestAction = false;  // no action was queued after the refused one
    u32 refusedMoveId = 0;  // a move refused: the steps predicted on it never happened
    // A move the server keeps for the end of an action's window or a lock that lies well after
    // the moment the prediction set off on it (an action a frozen link held up): none of the
    // steps predicted on it before `heldUntilSeconds` happened.
    u32 heldMoveId = 0;
    f64 heldUntilSeconds = 0.0;
    f64 issuedSeconds = 0.0;
};

class ServerView {
public:
    // Forgets everything: a scene that starts, online (`networked`) or not.
    void reset(bool networked) noexcept;
    void setTickRate(u16 tickRate) noexcept { tickRate_ = tickRate == 0 ? kDefaultTickRate : tickRate; }
    u16 tickRate() const noexcept { return tickRate_; }

    // ---- Asked before predicting or sending ----
    // Whether the server takes the action `skill` (kSkillBasicAttack or a class skill) issued at
    // `nowSeconds`, as far as windows, cooldowns, locks and knockouts go: with a margin for the
    // spread of the commands' delays, so that what the view takes the server takes too.
    bool takesAction(u16 skill, f64 nowSeconds) const noexcept;
    // Whether the server moves the fighter in the step that ends at `seconds`: not down, not
    // locked and not in an action's window then.
    bool movesAt(f64 seconds) const noexcept;
    // The lock the server holds the fighter in at `seconds` (it moves again when it ends).
    bool lockedAt(f64 seconds) const noexcept;
    f64 lockSecondsLeft(f64 nowSeconds) const noexcept;
    bool down() const noexcept { return down_; }
    ServerPhase phase(f64 nowSeconds) const noexcept;
    // The newest move: of every command queued, or (`queuedToo` false) of those taken for sending.
    ServerMove move(bool queuedToo = true) const noexcept;
    // A refused move is sent again only once this is false.
    bool resendWaits(f64 nowSeconds) const noexcept { return nowSeconds + 1e-9 < resendAtSeconds_; }

    // ---- The timeline ----
    // The moment of the prediction that the server's state after `tick` shows.
    f64 timelineSeconds(f64 tick) const noexcept;
    // False when a command the server had not decided by `tick` was issued before that tick's
    // moment: the prediction then shows what the server has not done, and cannot be compared.
    bool comparableAt(u64 tick, f64& seconds) const noexcept;

    // ---- Fed ----
    // A command the scene queues at `nowSeconds`; `moveId` numbers a move's steps.
    void queued(const PlayerIntent& intent, f64 nowSeconds, u32 moveId) noexcept;
    // The queued commands are taken for sending at `nowSeconds` (a command queued in a fixed
    // step waits for the frame's end); sent() then follows once per command, in order, with its
    // sequence (0: it did not go out).
    void taken(f64 nowSeconds) noexcept;
    void sent(u32 sequence) noexcept;
    CommandOutcome decided(const net::CommandResult& result) noexcept;
    // The frame loop dropped time up to `toSeconds` after commands were queued and before they
    // were taken: they reach the server that much later, so their moment is the drop's end.
    void dropped(f64 toSeconds) noexcept;
    // The duel tick's word on the newest move: a refused one goes out again kMoveResendSeconds later.
    void moveResolved(bool accepted, f64 nowSeconds) noexcept {
        resendAtSeconds_ = accepted ? 0.0 : nowSeconds + kMoveResendSeconds;
    }
    // A snapshot's word on the fighter, applied at `nowSeconds`. Returns the moment after which
    // the server held the fighter still although the view had it move on (a lock, a knockout, a
    // move the server dropped), or a negative number.
    f64 snapshot(u64 tick, const net::SnapshotPlayer& self, f64 nowSeconds) noexcept;
    // The server's action-started event for the fighter: true when it is an action of the
    // view's own commands (the screen showed it when its key was pressed).
    bool confirm(u16 skill) noexcept;
    // The server started a new round (both fighters at their starts, moves, actions, locks and
    // cooldowns gone) by `tick`.
    void newRound(u64 tick) noexcept;

private:
    enum class Delivery : u8 { queued, sent, lost };
    struct Command {
        u32 sequence = 0;
        u32 kind = kIntentMove;
        u16 skill = 0;
        ServerMove move;
        u32 moveId = 0;
        f64 issuedSeconds = 0.0;  // the moment the prediction shows it from
        f64 sentSeconds = 0.0;    // the moment it went out
        u64 decidedTick = 0;
        // The tick and moment the command's effect lines up at: its decision and issue, but for
        // a move taken during a lock or an action, the tick before it starts and its moment.
        f64 anchorTick = 0.0;
        f64 anchorSeconds = 0.0;
        Delivery delivery = Delivery::queued;
        bool decided = false;
        bool accepted = false;
        bool voided = false;  // decided before a new round: none of its effects last
        bool confirmed = false;  // its action-started event has come
    };

    // Commands by absolute number (0 the first ever queued); the ring keeps the newest.
    Command& command(u64 number) noexcept { return commands_[number % kRememberedCommands]; }
    const Command& command(u64 number) const noexcept { return commands_[number % kRememberedCommands]; }
    u64 oldest() const noexcept { return created_ > kRememberedCommands ? created_ - kRememberedCommands : 0; }
    static bool isAction(const Command& c) noexcept { return c.kind == kIntentBasicAttack || c.kind == kIntentUseSkill; }
    // Whether `c` still counts for what the server does (not refused, lost or voided).
    static bool standing(const Command& c) noexcept {
        return c.delivery != Delivery::lost && !c.voided && (!c.decided || c.accepted);
    }
    bool anchors(const Command& c) const noexcept { return c.delivery == Delivery::sent && c.decided; }
    // The lowest and highest tick offset (decision tick minus the moment it went out, in ticks)
    // of recent commands: what a command sent now meets; false before any was decided.
    bool delaySpread(f64 nowSeconds, f64& lowest, f64& highest) const noexcept;
    bool quickestOffsetBefore(u64 number, f64& lowestIssued, f64& lowestSent) const noexcept;
    // The tick from which the server no longer counts `duration` after action `c`, for an action
    // still in flight too (as if it took the slowest delay seen).
    f64 endTick(const Command& c, u32 durationMs, f64 highestOffset) const noexcept;
    f64 actionEndSeconds(f64 nowSeconds) const noexcept;  // the end of the newest action's window, or -1
    bool expectedMovingAt(u64 tick) const noexcept;  // by the commands decided before `tick`
    void anchor(u64 number, bool withWait = true) noexcept;
    f64 timelineBefore(f64 tick, u64 end) const noexcept;  // from the anchors of commands before `end`

    std::array<Command, kRememberedCommands> commands_{};
    u64 created_ = 0;
    u64 takenEnd_ = 0;  // commands below this were taken for sending
    u64 sendCursor_ = 0;  // the next one sent() names
    bool networked_ = false;
    u16 tickRate_ = kDefaultTickRate;
    bool snapshotSeen_ = false;
    u64 lastSnapshotTick_ = 0;
    f64 lastSnapshotSeconds_ = 0.0;
    bool down_ = false;
    bool stopped_ = false;  // locked or down in the last snapshot
    u64 lockStartTick_ = 0;  // the hit's tick: the fighter stands from the next
    u64 lockEndTick_ = 0;    // the first tick it moves again; 0 before any lock
    u64 moveDroppedTick_ = 0;  // moves decided before this tick were dropped by the server
    u64 roundTick_ = 0;        // the newest round began by this tick
    f64 resendAtSeconds_ = 0.0;
};

}  // namespace kestrune::scene
