#include "app/frame_clock.h"

#include <chrono>
#include <thread>

namespace kestrune::app {

namespace {

class SystemFrameClock final : public FrameClock {
public:
    i64 counter() override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    }
    i64 counterFrequency() override { return 1'000'000'000; }
    u64 monotonicNanoseconds() override { return static_cast<u64>(counter()); }
    void sleepMilliseconds(u32 milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

private:
    using Clock = std::chrono::steady_clock;
};

}  // namespace

std::unique_ptr<FrameClock> createSystemFrameClock() { return std::make_unique<SystemFrameClock>(); }

}  // namespace kestrune::app
