#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <tuple>
#include <vector>

#include "duel_bot.h"
#include "duel_rules.h"
#include "net/protocol.h"

namespace kestrune::duel {
namespace {

constexpr u32 kPlayerId = 3;
constexpr u32 kBotId = 4;

struct BotDuel {
    explicit BotDuel(u8 botClass, bool idle = false) : bot(botClass, 30, idle) {
        const u8 playerClass = botClass == net::kWarrior ? net::kTemplar : net::kWarrior;
        duel.seat(playerClass, kPlayerId);
        duel.seat(botClass, kBotId);
    }
    // Ticks as the server does, keeping the action-start events.
    void run(u32 ticks) {
        for (u32 i = 0; i < ticks; ++i) {
            bot.think(duel);
            duel.step();
            std::ranges::copy_if(duel.events(), std::back_inserter(started),
                                 [](const net::CombatEvent& event) { return event.kind == net::kEventActionStarted; });
            duel.clearEvents();
        }
    }
    Duel duel{30};
    DuelBot bot;
    std::vector<net::CombatEvent> started;
};

TEST(DuelBot, StandsWhenIdleAndStopsWhenItsOpponentLeaves) {
    BotDuel idle(net::kTemplar, true);
    idle.run(300);
    const Fighter& bot = idle.duel.fighter(net::kTemplar);
    EXPECT_EQ(std::tuple(idle.started.size(), bot.xMm, bot.moving), std::tuple(0u, f64{kStartOffsetMm}, false));

    BotDuel arena(net::kTemplar);
    arena.run(3);
    ASSERT_TRUE(arena.duel.fighter(net::kTemplar).moving) << "walking towards the warrior";
    arena.duel.vacate(net::kWarrior);
    arena.run(30);
    EXPECT_FALSE(arena.duel.fighter(net::kTemplar).moving);
    arena.started.clear();
    arena.run(30);
    EXPECT_TRUE(arena.started.empty()) << "nobody to fight";
}

TEST(DuelBot, WalksUpAndOpensWithSkillOneThenSkillTwoThenBasicAttacks) {
    for (const u8 botClass : {net::kWarrior, net::kTemplar}) {
        SCOPED_TRACE(botClass == net::kWarrior ? "warrior bot" : "templar bot");
        BotDuel arena(botClass);
        arena.run(5 * 30);
        ASSERT_GE(arena.started.size(), 4u);
        const u16 first = botClass == net::kWarrior ? net::kSkillWarrior1 : net::kSkillTemplar1;
        const u16 second = botClass == net::kWarrior ? net::kSkillWarrior2 : net::kSkillTemplar2;
        EXPECT_EQ(std::tuple(arena.started[0].skill, arena.started[1].skill, arena.started[2].skill),
                  std::tuple(first, second, net::kSkillBasicAttack));
        for (const net::CombatEvent& event : arena.started) {
            EXPECT_EQ(std::pair(event.sourceEntityId, event.targetEntityId), std::pair(kBotId, kPlayerId));
        }
        const u8 playerClass = botClass == net::kWarrior ? net::kTemplar : net::kWarrior;
        EXPECT_LT(arena.duel.fighter(playerClass).health, kMaxHealth - kSkill1Damage - kSkill2Damage);
    }
}

}  // namespace
}  // namespace kestrune::duel
