#include "random_player.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace kestrune::scene::testing {
namespace {

// mt19937_64's outputs are fixed by the standard; its distributions are not, so the few
// this player needs are written here.
class Dice {
public:
    explicit Dice(u64 seed) : engine_(seed) {}
    u32 below(u32 count) { return static_cast<u32>(engine_() % count); }
    f64 unit() { return static_cast<f64>(engine_() >> 11) * 0x1.0p-53; }
    bool chance(f64 probability) { return unit() < probability; }
    template <typename T, std::size_t N>
    T pick(const std::array<T, N>& from) { return from[below(N)]; }

private:
    std::mt19937_64 engine_;
};

constexpr std::array<char, 4> kDirections{'W', 'A', 'S', 'D'};
// Attacks come most often, as they do from players.
constexpr std::array<char, 8> kActionKeys{'1', '1', '1', '2', '3', '4', kScriptSpace, '2'};
constexpr std::array<u32, 8> kOneWaySteps{0, 0, 1, 3, 3, 6, 9, 15};  // 0 to 250 ms each way
constexpr std::array<f32, 4> kStickLengths{0.0f, 0.35f, 0.65f, 1.0f};

std::string keyName(char key) {
    switch (key) {
        case kScriptSpace: return "Space";
        case kScriptShift: return "Shift";
        case kScriptTab: return "Tab";
        default: return std::string(1, key);
    }
}

char keyOfName(std::string_view name) {
    if (name == "Space") return kScriptSpace;
    if (name == "Shift") return kScriptShift;
    if (name == "Tab") return kScriptTab;
    if (name.size() == 1 && std::string_view("WASD1234").find(name[0]) != std::string_view::npos) return name[0];
    throw std::invalid_argument("unknown key in a random duel: " + std::string(name));
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    }
    return parts;
}

u32 number(std::string_view text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        throw std::invalid_argument("not a number in a random duel: " + std::string(text));
    }
    return static_cast<u32>(std::stoul(std::string(text)));
}

}  // namespace

RandomDuel randomDuel(u64 seed, bool stick) {
    Dice dice(seed);
    RandomDuel duel;
    duel.seed = seed;
    duel.localSlot = dice.below(2);
    duel.idleBot = dice.chance(0.2);
    const u32 frames = 150 + dice.below(550);
    if (stick) {
        duel.oneWaySteps = dice.pick(kOneWaySteps);
        duel.jitterSteps = dice.below(4);
        duel.tickPhase = dice.below(2);
        duel.serverAhead = duel.oneWaySteps == 0 && dice.chance(0.5);
        if (dice.chance(0.25)) {
            duel.stallFrame = 20 + dice.below(frames - 20);
            duel.stallSteps = 20 + dice.below(150);
        }
    }
    // Pacing: a steady machine, a slow one, or one whose frames vary.
    const u32 pacing = stick ? dice.below(3) : 0;
    const u8 steady = static_cast<u8>(1 + dice.below(6));
    u8 steps = steady;
    for (u32 frame = 0; frame < frames; ++frame) {
        if (pacing == 2 && dice.chance(0.3)) steps = static_cast<u8>(1 + dice.below(6));
        duel.stepsPerFrame.push_back(pacing == 0 ? 1 : pacing == 1 ? steady : steps);
        duel.droppedSteps.push_back(stick && dice.chance(0.004) ? static_cast<u16>(9 + dice.below(40)) : 0);
    }

    std::array<bool, 4> held{};
    bool shift = false;
    char burstKey = 0;
    u32 burstLeft = 0, burstGap = 0, burstWait = 0;
    const auto add = [&duel](u32 frame, char key, i32 change) { duel.keys.push_back({frame, key, change}); };
    for (u32 frame = 1; frame <= frames; ++frame) {
        if (dice.chance(0.05)) {
            const u32 which = dice.below(4);
            add(frame, kDirections[which], held[which] ? -1 : +1);
            held[which] = !held[which];
        }
        if (dice.chance(0.01)) {
            for (u32 which = 0; which < 4; ++which) {
                if (held[which]) add(frame, kDirections[which], -1);
                held[which] = false;
            }
        }
        if (dice.chance(0.01)) {
            add(frame, kScriptShift, shift ? -1 : +1);
            shift = !shift;
        }
        if (burstLeft == 0 && dice.chance(0.04)) {
            burstKey = dice.pick(kActionKeys);
            burstLeft = 1 + dice.below(6);
            burstGap = 1 + dice.below(8);
            burstWait = 0;
        }
        if (burstLeft > 0 && burstWait-- == 0) {
            add(frame, burstKey, 0);
            --burstLeft;
            burstWait = burstGap - 1;
        }
        if (dice.chance(0.01)) {  // two at once
            const char first = dice.pick(kActionKeys);
            char second = dice.pick(kActionKeys);
            if (second == first || (burstLeft > 0 && (first == burstKey || second == burstKey))) second = 0;
            if (second != 0) {
                add(frame, first, 0);
                add(frame, second, 0);
            }
        }
        if (dice.chance(0.003)) add(frame, kScriptTab, 0);
        if (stick && dice.chance(0.01)) {
            const f64 angle = dice.unit() * 6.283185307179586;
            const f32 length = dice.pick(kStickLengths);
            duel.keys.push_back({frame, kScriptStick, 0, static_cast<f32>(std::round(std::sin(angle) * length * 1000) / 1000),
                                 static_cast<f32>(std::round(std::cos(angle) * length * 1000) / 1000)});
        }
    }
    std::stable_sort(duel.keys.begin(), duel.keys.end(), [](const ScriptKey& a, const ScriptKey& b) { return a.frame < b.frame; });
    std::erase_if(duel.keys, [frames](const ScriptKey& key) { return key.frame > frames; });
    return duel;
}

std::string keysArgument(const RandomDuel& duel) {
    std::string out;
    for (const ScriptKey& key : duel.keys) {
        if (key.key == kScriptStick) continue;
        if (!out.empty()) out += ',';
        out += std::to_string(key.frame) + ':' + (key.change > 0 ? "+" : key.change < 0 ? "-" : "") + keyName(key.key);
    }
    return out;
}

std::string describe(const RandomDuel& duel) {
    std::string out = "seed=" + std::to_string(duel.seed) + " slot=" + std::to_string(duel.localSlot) +
                      " bot=" + (duel.idleBot ? "idle" : "active") + " link=" + std::to_string(duel.oneWaySteps) + '+' +
                      std::to_string(duel.jitterSteps) + "/p" + std::to_string(duel.tickPhase) +
                      (duel.serverAhead ? "a" : "") + " stall=" + std::to_string(duel.stallFrame) + 'x' +
                      std::to_string(duel.stallSteps) + " steps=";
    for (std::size_t i = 0; i < duel.stepsPerFrame.size();) {
        std::size_t run = i;
        while (run < duel.stepsPerFrame.size() && duel.stepsPerFrame[run] == duel.stepsPerFrame[i]) ++run;
        out += (i > 0 ? "," : "") + std::to_string(run - i) + '*' + std::to_string(duel.stepsPerFrame[i]);
        i = run;
    }
    out += " drop=";
    bool first = true;
    for (std::size_t i = 0; i < duel.droppedSteps.size(); ++i) {
        if (duel.droppedSteps[i] == 0) continue;
        out += (first ? "" : ",") + std::to_string(i + 1) + ':' + std::to_string(duel.droppedSteps[i]);
        first = false;
    }
    out += " keys=" + keysArgument(duel);
    for (const ScriptKey& key : duel.keys) {
        if (key.key != kScriptStick) continue;
        char stick[48];
        std::snprintf(stick, sizeof stick, ",%u:@%.3f/%.3f", key.frame, key.stickX, key.stickZ);
        out += stick;
    }
    return out;
}

RandomDuel parseDuel(std::string_view text) {
    RandomDuel duel;
    for (const std::string_view field : split(text, ' ')) {
        const std::size_t equals = field.find('=');
        const std::string_view name = field.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : field.substr(equals + 1);
        if (name == "seed") {
            duel.seed = number(value);
        } else if (name == "slot") {
            duel.localSlot = number(value) == 1 ? 1 : 0;
        } else if (name == "bot") {
            duel.idleBot = value == "idle";
        } else if (name == "link") {
            const std::size_t plus = value.find('+'), phase = value.find("/p");
            duel.oneWaySteps = number(value.substr(0, plus));
            duel.jitterSteps = number(value.substr(plus + 1, phase - plus - 1));
            duel.tickPhase = number(value.substr(phase + 2, 1));
            duel.serverAhead = value.ends_with('a');
        } else if (name == "stall") {
            const std::size_t times = value.find('x');
            duel.stallFrame = number(value.substr(0, times));
            duel.stallSteps = number(value.substr(times + 1));
        } else if (name == "steps") {
            for (const std::string_view run : split(value, ',')) {
                const std::size_t star = run.find('*');
                duel.stepsPerFrame.insert(duel.stepsPerFrame.end(), number(run.substr(0, star)),
                                          static_cast<u8>(std::clamp(number(run.substr(star + 1)), 1u, 6u)));
            }
            duel.droppedSteps.assign(duel.stepsPerFrame.size(), 0);
        } else if (name == "drop") {
            for (const std::string_view drop : split(value, ',')) {
                const std::size_t colon = drop.find(':');
                const u32 frame = number(drop.substr(0, colon));
                if (frame == 0 || frame > duel.droppedSteps.size()) throw std::invalid_argument("drop outside the duel");
                duel.droppedSteps[frame - 1] = static_cast<u16>(number(drop.substr(colon + 1)));
            }
        } else if (name == "keys") {
            for (const std::string_view entry : split(value, ',')) {
                const std::size_t colon = entry.find(':');
                if (colon == std::string_view::npos) throw std::invalid_argument("a key without its frame");
                ScriptKey key{number(entry.substr(0, colon))};
                std::string_view rest = entry.substr(colon + 1);
                if (rest.starts_with('@')) {
                    const std::size_t slash = rest.find('/');
                    key.key = kScriptStick;
                    key.stickX = std::stof(std::string(rest.substr(1, slash - 1)));
                    key.stickZ = std::stof(std::string(rest.substr(slash + 1)));
                } else {
                    key.change = rest.starts_with('+') ? 1 : rest.starts_with('-') ? -1 : 0;
                    key.key = keyOfName(key.change == 0 ? rest : rest.substr(1));
                }
                duel.keys.push_back(key);
            }
            std::stable_sort(duel.keys.begin(), duel.keys.end(),
                             [](const ScriptKey& a, const ScriptKey& b) { return a.frame < b.frame; });
        } else {
            throw std::invalid_argument("unknown field in a random duel: " + std::string(name));
        }
    }
    return duel;
}

}  // namespace kestrune::scene::testing
