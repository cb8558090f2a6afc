#include "scene/server_view.h"

#include <algorithm>
#include <cmath>

namespace kestrune::scene {
namespace {

// Sums of fixed steps miss round times by a rounding.
constexpr f64 kEpsilonSeconds = 1e-9;

// Actions that share a cooldown: the basic attack, each class's skill 1, each class's skill 2.
u32 cooldownGroup(u16 skill) noexcept {
    switch (skill) {
        case net::kSkillWarrior1: case net::kSkillTemplar1: return 1;
        case net::kSkillWarrior2: case net::kSkillTemplar2: return 2;
        default: return 0;
    }
}

}  // namespace

void ServerView::reset(bool networked) noexcept {
    const u16 rate = tickRate_;
    *this = ServerView{};
    networked_ = networked;
    tickRate_ = rate;
}

// ---- Section: Fed ----

void ServerView::queued(const PlayerIntent& intent, f64 nowSeconds, u32 moveId) noexcept {
    Command& c = command(created_++);
    c = Command{};
    c.kind = intent.kind;
    c.skill = intent.kind == kIntentBasicAttack ? net::kSkillBasicAttack : intent.skill;
    c.move = {intent.kind == kIntentMove, intent.moveX, intent.moveZ};
    c.moveId = intent.kind == kIntentMove ? moveId : 0;
    c.issuedSeconds = c.sentSeconds = nowSeconds;
    sendCursor_ = std::max(sendCursor_, oldest());
}

void ServerView::taken(f64 nowSeconds) noexcept {
    for (u64 number = std::max(takenEnd_, oldest()); number < created_; ++number) {
        command(number).sentSeconds = nowSeconds;
    }
    takenEnd_ = created_;
}

void ServerView::dropped(f64 toSeconds) noexcept {
    for (u64 number = std::max(takenEnd_, oldest()); number < created_; ++number) {
        Command& c = command(number);
        c.issuedSeconds = c.sentSeconds = std::max(c.issuedSeconds, toSeconds);
    }
}

void ServerView::sent(u32 sequence) noexcept {
    if (sendCursor_ >= takenEnd_) {
        return;
    }
    Command& c = command(sendCursor_++);
    c.sequence = sequence;
    // Offline nothing goes out, and the queued move is what "the server" has.
    c.delivery = sequence != 0 || !networked_ ? Delivery::sent : Delivery::lost;
}

CommandOutcome ServerView::decided(const net::CommandResult& result) noexcept {
    for (u64 number = created_; number-- > oldest();) {
        Command& c = command(number);
        if (c.delivery != Delivery::sent || c.decided || c.sequence != result.commandSequence) {
            continue;
        }
        c.decided = true;
        c.decidedTick = result.tick;
        c.accepted = result.accepted;
        c.voided = c.voided || result.tick < roundTick_;
        anchor(number);
        // A move taken during a lock or an action that a later command replaced before the
        // fighter was free never set off: it lines up where it was decided (or held up).
        if (c.kind == kIntentMove || c.kind == kIntentStop || isAction(c)) {
            for (u64 earlier = number; earlier-- > oldest();) {
                Command& move = command(earlier);
                if (anchors(move) && move.kind == kIntentMove && move.anchorTick > static_cast<f64>(result.tick)) {
                    anchor(earlier, false);
                }
            }
        }
        CommandOutcome outcome;
        outcome.issuedSeconds = c.issuedSeconds;
        if (!result.accepted && isAction(c)) {
            outcome.refusedSkill = c.skill;
            outcome.newestAction = true;
            for (u64 later = number + 1; later < created_; ++later) {
                outcome.newestAction = outcome.newestAction && !isAction(command(later));
            }
        } else if (!result.accepted && c.kind == kIntentMove) {
            outcome.refusedMoveId = c.moveId;
        } else if (c.kind == kIntentMove && c.anchorSeconds > c.issuedSeconds + kHeldUpSeconds) {
            outcome.heldMoveId = c.moveId;
            outcome.heldUntilSeconds = c.anchorSeconds;
        }
        return outcome;
    }
    return {};
}

// The moment a command's effect begins on the timeline. A move taken while the fighter is
// locked or in an action's window starts on the tick it is free, whatever tick it arrived at:
// its effect lines up with the moment the prediction set off, which is the later of the move's
// own moment and that tick's moment as the commands before it place it (unless `withWait` is
// false: a move replaced before the wait ended, which never set off).
void ServerView::anchor(u64 number, bool withWait) noexcept {
    Command& c = command(number);
    c.anchorTick = static_cast<f64>(c.decidedTick);
    c.anchorSeconds = c.issuedSeconds;
    // A command the link held up (a stall) took effect on the server long after the prediction
    // showed it: its effect lines up with the moment a command sent with the quickest delay
    // seen would have taken effect then, so that the prediction, which ran on meanwhile, is
    // corrected once rather than leading the server by the stall ever after.
    // (Held up is judged from the moment it went out: a command queued in a fixed step waits
    // for the frame's end, which on a slow machine is as long as the delays' spread.)
    f64 lowestIssued = 0.0;
    f64 lowestSent = 0.0;
    if (quickestOffsetBefore(number, lowestIssued, lowestSent) &&
        static_cast<f64>(c.decidedTick) - c.sentSeconds * tickRate_ > lowestSent + kHeldUpSeconds * tickRate_) {
        c.anchorSeconds = (c.anchorTick - lowestIssued) / tickRate_;
    }
    if (c.kind != kIntentMove || !c.accepted || !withWait) {
        return;
    }
    u64 freeTick = c.decidedTick + 1;
    bool waits = false;  // decided in a lock or an action's window: it sets off at its end
    if (lockEndTick_ > 0 && c.decidedTick >= lockStartTick_ && c.decidedTick < lockEndTick_) {
        freeTick = std::max(freeTick, lockEndTick_);
        waits = true;
    }
    for (u64 earlier = number; earlier-- > oldest();) {
        const Command& action = command(earlier);
        if (!isAction(action) || !anchors(action) || !action.accepted || action.voided) {
            continue;
        }
        const u64 windowEnd = action.decidedTick + net::ticksFromMs(net::actionRule(action.skill).durationMs, tickRate_);
        if (c.decidedTick < windowEnd) {
            freeTick = std::max(freeTick, windowEnd + 1);
            waits = true;
        }
        break;
    }
    // The prediction set off on it where the timeline it had then ended the wait, however early
    // it was issued: even when the wait ends on the tick after its decision.
    if (waits) {
        c.anchorTick = static_cast<f64>(freeTick - 1);
        c.anchorSeconds = std::max(c.anchorSeconds, timelineBefore(c.anchorTick, number));
    }
}

// The lowest tick offsets, from the moment each was issued and from the moment it went out, of
// the commands decided before command `number` and issued at most kDelaySpreadSeconds before it.
bool ServerView::quickestOffsetBefore(u64 number, f64& lowestIssued, f64& lowestSent) const noexcept {
    const f64 issuedSeconds = command(number).issuedSeconds;
    bool any = false;
    for (u64 earlier = number; earlier-- > oldest();) {
        const Command& c = command(earlier);
        if (!anchors(c)) {
            continue;
        }
        if (c.issuedSeconds < issuedSeconds - kDelaySpreadSeconds) {
            break;
        }
        const f64 issued = static_cast<f64>(c.decidedTick) - c.issuedSeconds * tickRate_;
        const f64 sent = static_cast<f64>(c.decidedTick) - c.sentSeconds * tickRate_;
        lowestIssued = any ? std::min(lowestIssued, issued) : issued;
        lowestSent = any ? std::min(lowestSent, sent) : sent;
        any = true;
    }
    return any;
}

f64 ServerView::snapshot(u64 tick, const net::SnapshotPlayer& self, f64 nowSeconds) noexcept {
    const bool first = !snapshotSeen_;
    snapshotSeen_ = true;
    lastSnapshotTick_ = tick;
    lastSnapshotSeconds_ = nowSeconds;
    down_ = self.health <= 0;
    const bool locked = (self.stateFlags & net::kStateLocked) != 0 && self.lockTicks > 0;
    if (locked) {
        const u64 wholeLock = net::ticksFromMs(net::kSkill1LockMs, tickRate_);
        const u64 endTick = tick + self.lockTicks;
        if (endTick != lockEndTick_) {
            lockEndTick_ = endTick;
            lockStartTick_ = endTick > wholeLock ? endTick - wholeLock : 0;
            // Moves taken during this lock start at its end.
            for (u64 number = oldest(); number < created_; ++number) {
                const Command& c = command(number);
                if (anchors(c) && c.kind == kIntentMove && c.decidedTick >= lockStartTick_) anchor(number);
            }
        }
    } else if (lockEndTick_ > tick) {
        lockEndTick_ = tick;
    }
    f64 stoppedSeconds = -1.0;
    const bool stopped = locked || down_;
    if (stopped && !stopped_ && !first) {
        stoppedSeconds = timelineSeconds(static_cast<f64>(locked ? std::min(lockStartTick_, tick) : tick));
        // A move that reached the server after the hit waited for the lock's end: the steps the
        // prediction made on it since it was issued never happened either.
        for (u64 number = oldest(); locked && number < created_; ++number) {
            const Command& c = command(number);
            if (c.kind == kIntentMove && c.delivery != Delivery::lost && (!c.decided || c.decidedTick >= lockStartTick_)) {
                stoppedSeconds = std::min(stoppedSeconds, c.issuedSeconds);
            }
        }
    }
    stopped_ = stopped;
    // The server's move is gone although none of the view's commands ended it: a knockout or a
    // new round the view has not heard of. The prediction stops there and the move goes out again.
    if ((self.stateFlags & net::kStateMoving) == 0 && expectedMovingAt(tick)) {
        moveDroppedTick_ = tick;
        if (stoppedSeconds < 0.0) stoppedSeconds = timelineSeconds(static_cast<f64>(tick));
    }
    return stoppedSeconds;
}

bool ServerView::confirm(u16 skill) noexcept {
    for (u64 number = oldest(); number < created_; ++number) {
        Command& c = command(number);
        if (isAction(c) && c.decided && c.accepted && !c.confirmed && c.skill == skill) {
            c.confirmed = true;
            return true;
        }
    }
    return false;
}

// Commands decided before the round's tick are void, and so are those in flight that were
// issued before its moment: they reach the server before it (their results will say so).
void ServerView::newRound(u64 tick) noexcept {
    const f64 roundSeconds = timelineSeconds(static_cast<f64>(tick));
    for (u64 number = oldest(); number < created_; ++number) {
        Command& c = command(number);
        c.voided = c.voided || (c.decided ? c.decidedTick < tick : c.issuedSeconds < roundSeconds);
    }
    roundTick_ = std::max(roundTick_, tick);
    moveDroppedTick_ = std::max(moveDroppedTick_, tick);
    lockStartTick_ = lockEndTick_ = 0;
    down_ = stopped_ = false;
    resendAtSeconds_ = 0.0;
}

// ---- Section: Asked ----

bool ServerView::delaySpread(f64 nowSeconds, f64& lowest, f64& highest) const noexcept {
    bool any = false;
    for (u64 number = created_; number-- > oldest();) {
        const Command& c = command(number);
        if (!anchors(c)) {
            continue;
        }
        if (any && c.sentSeconds < nowSeconds - kDelaySpreadSeconds) {
            break;
        }
        const f64 offset = static_cast<f64>(c.decidedTick) - c.sentSeconds * tickRate_;
        lowest = any ? std::min(lowest, offset) : offset;
        highest = any ? std::max(highest, offset) : offset;
        any = true;
    }
    return any;
}

f64 ServerView::endTick(const Command& c, u32 durationMs, f64 highestOffset) const noexcept {
    const f64 start = c.decided ? static_cast<f64>(c.decidedTick) : c.sentSeconds * tickRate_ + highestOffset;
    return start + net::ticksFromMs(durationMs, tickRate_);
}

bool ServerView::takesAction(u16 skill, f64 nowSeconds) const noexcept {
    if (!networked_) {
        return true;
    }
    if (down_) {
        return false;
    }
    f64 lowest = 0.0;
    f64 highest = 0.0;
    if (!delaySpread(nowSeconds, lowest, highest)) {
        if (!snapshotSeen_) {
            return true;
        }
        // Before any result, the newest snapshot's tick is the earliest a command can meet.
        lowest = highest = static_cast<f64>(lastSnapshotTick_) - lastSnapshotSeconds_ * tickRate_;
    }
    // The earliest tick a command issued now can be decided at.
    const f64 earliest = nowSeconds * tickRate_ + lowest;
    if (lockEndTick_ > 0 && earliest < static_cast<f64>(lockEndTick_)) {
        return false;
    }
    const bool basic = skill == net::kSkillBasicAttack;
    bool windowSeen = false;
    for (u64 number = created_; number-- > oldest();) {
        const Command& c = command(number);
        if (!isAction(c) || !standing(c)) {
            continue;
        }
        // A skill waits for the newest action's window; every action for its own cooldown.
        if (!basic && !windowSeen && earliest < endTick(c, net::actionRule(c.skill).durationMs, highest)) {
            return false;
        }
        windowSeen = true;
        if (cooldownGroup(c.skill) == cooldownGroup(skill)) {
            return earliest >= endTick(c, net::actionRule(c.skill).cooldownMs, highest);
        }
    }
    return true;
}

// The newest action's window ends where the screen ends it, its issue and its length; but an
// action the link held up (decided later than commands take now) keeps the server busy past
// that, until a command sent with the quickest delay seen would arrive after it.
f64 ServerView::actionEndSeconds(f64 nowSeconds) const noexcept {
    for (u64 number = created_; number-- > oldest();) {
        const Command& c = command(number);
        if (!isAction(c) || !standing(c)) {
            continue;
        }
        const u32 windowTicks = net::ticksFromMs(net::actionRule(c.skill).durationMs, tickRate_);
        const f64 shownEnd = c.issuedSeconds + static_cast<f64>(windowTicks) / tickRate_;
        f64 lowest = 0.0;
        f64 highest = 0.0;
        if (!c.decided || !delaySpread(nowSeconds, lowest, highest)) {
            return shownEnd;
        }
        return std::max(shownEnd, (static_cast<f64>(c.decidedTick + windowTicks) - lowest) / tickRate_);
    }
    return -1.0;
}

bool ServerView::lockedAt(f64 seconds) const noexcept {
    return networked_ && lockEndTick_ > 0 &&
           seconds <= timelineSeconds(static_cast<f64>(lockEndTick_ - 1)) + kEpsilonSeconds;
}

f64 ServerView::lockSecondsLeft(f64 nowSeconds) const noexcept {
    if (!lockedAt(nowSeconds)) {
        return 0.0;
    }
    return std::max(0.0, timelineSeconds(static_cast<f64>(lockEndTick_ - 1)) - nowSeconds);
}

bool ServerView::movesAt(f64 seconds) const noexcept {
    if (!networked_) {
        return true;
    }
    return !down_ && !lockedAt(seconds) && seconds > actionEndSeconds(seconds) + kEpsilonSeconds;
}

ServerPhase ServerView::phase(f64 nowSeconds) const noexcept {
    if (down_) return ServerPhase::down;
    if (lockedAt(nowSeconds)) return ServerPhase::locked;
    if (nowSeconds <= actionEndSeconds(nowSeconds) + kEpsilonSeconds) return ServerPhase::acting;
    return move().active ? ServerPhase::moving : ServerPhase::standing;
}

// The newest command that says what the server's move is: a move, a stop, or an action (which
// drops it); refused, lost and voided ones say nothing, nor do those the server dropped since.
ServerMove ServerView::move(bool queuedToo) const noexcept {
    for (u64 number = queuedToo ? created_ : std::max(takenEnd_, oldest()); number-- > oldest();) {
        const Command& c = command(number);
        if (!standing(c) || (c.decided && c.decidedTick < moveDroppedTick_)) {
            continue;
        }
        return c.kind == kIntentMove ? c.move : ServerMove{};
    }
    return {};
}

bool ServerView::expectedMovingAt(u64 tick) const noexcept {
    for (u64 number = created_; number-- > oldest();) {
        const Command& c = command(number);
        if (!anchors(c) || c.decidedTick >= tick || !standing(c) || c.decidedTick < moveDroppedTick_) {
            continue;
        }
        return c.kind == kIntentMove;
    }
    return false;
}

// ---- Section: Timeline ----

// Tick T lies on the timeline of the command whose effect began last before it: T is that
// command's moment plus (T - its tick) / tick rate. With none before T, the first after it
// places T; with none at all, the newest snapshot's tick stands for the moment it arrived.
// Commands travel with different delays, so T never stands for a moment after that of a
// command whose effect began at or after T.
f64 ServerView::timelineBefore(f64 tick, u64 end) const noexcept {
    const Command* before = nullptr;
    const Command* after = nullptr;
    for (u64 number = oldest(); number < end; ++number) {
        const Command& c = command(number);
        if (!anchors(c)) {
            continue;
        }
        if (c.anchorTick < tick) {
            if (before == nullptr || c.anchorTick >= before->anchorTick) before = &c;
        } else if (after == nullptr || c.anchorTick < after->anchorTick) {
            after = &c;
        }
    }
    const Command* line = before != nullptr ? before : after;
    if (line == nullptr) {
        return lastSnapshotSeconds_ + (tick - static_cast<f64>(lastSnapshotTick_)) / tickRate_;
    }
    const f64 seconds = line->anchorSeconds + (tick - line->anchorTick) / tickRate_;
    return after != nullptr ? std::min(seconds, after->anchorSeconds) : seconds;
}

f64 ServerView::timelineSeconds(f64 tick) const noexcept { return timelineBefore(tick, created_); }

bool ServerView::comparableAt(u64 tick, f64& seconds) const noexcept {
    seconds = timelineSeconds(static_cast<f64>(tick));
    for (u64 number = oldest(); number < created_; ++number) {
        const Command& c = command(number);
        if (c.delivery != Delivery::lost && !c.decided && c.issuedSeconds <= seconds) {
            return false;
        }
    }
    return true;
}

}  // namespace kestrune::scene
