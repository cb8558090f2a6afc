#pragma once
// A host whose window, clock and GPU are stand-ins: messages are scripted per pump, the
// clock moves only when a test moves it, and the renderer records instead of drawing.

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/log.h"
#include "app/native_client.h"
#include "render/recording_backend.h"
#include "render/test_support.h"

namespace kestrune::app::testing {

class ManualClock final : public FrameClock {
public:
    static constexpr i64 kTicksPerSecond = 1'000'000'000;
    i64 now = 5'000'000'000;
    std::vector<u32> sleeps;

    i64 counter() override { return now; }
    i64 counterFrequency() override { return kTicksPerSecond; }
    u64 monotonicNanoseconds() override { return static_cast<u64>(now); }
    void sleepMilliseconds(u32 milliseconds) override { sleeps.push_back(milliseconds); }
    void advanceSeconds(f64 seconds) { now += std::llround(seconds * static_cast<f64>(kTicksPerSecond)); }
};

class ScriptedWindowHost final : public WindowHost {
public:
    // Called once per pump with the host; returns false for the quit message.
    std::function<bool(NativeClient&)> onPump = [](NativeClient&) { return true; };
    std::function<void(NativeClient&)> onWait = [](NativeClient&) {};
    u32 pumps = 0;
    u32 waits = 0;
    u32 shows = 0;
    int windowToken = 0;

    void* moduleHandle() const noexcept override { return nullptr; }
    void registerWindowClass(NativeClient&) override {}
    void createMainWindow(NativeClient& host) override { host.window = &windowToken; }
    ClientSize clientSize(const NativeClient& host) const override { return {host.options.width, host.options.height}; }
    render::NativeWindow nativeWindow(const NativeClient& host) const noexcept override { return {host.window}; }
    void showWindow(NativeClient&) override { ++shows; }
    bool pumpMessages(NativeClient& host) override {
        ++pumps;
        const bool open = onPump(host);
        if (!open) host.quitRequested = true;
        return open;
    }
    void waitMessage(NativeClient& host) override { ++waits; onWait(host); }
    void destroyWindow(NativeClient& host) noexcept override { host.window = nullptr; }
    void unregisterWindowClass(NativeClient&) noexcept override {}
};

// A log in a fresh directory named after the running test; lines() closes it and returns its
// messages, the lines without their time stamps ("2026-03-01T08:15:42Z ").
struct TestLog {
    std::filesystem::path path = render::testing::scratchDirectory() / "run.log";
    std::unique_ptr<Log> log = std::make_unique<Log>(path);

    std::vector<std::string> lines() {
        log.reset();
        std::ifstream in(path);
        std::vector<std::string> messages;
        for (std::string line; std::getline(in, line);) messages.push_back(line.size() > 21 ? line.substr(21) : line);
        return messages;
    }
};

// A whole text file, its newlines read as '\n' (empty when it is missing).
inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Its log is the test's log.
struct FakeHost : TestLog {
    ScriptedWindowHost* window = nullptr;
    ManualClock* clock = nullptr;
    render::testing::RecordingBackend* backend = nullptr;
    std::unique_ptr<NativeClient> host;

    explicit FakeHost(LaunchOptions options = {}) {
        auto windowHost = std::make_unique<ScriptedWindowHost>();
        auto manualClock = std::make_unique<ManualClock>();
        auto recording = std::make_unique<render::testing::RecordingBackend>();
        std::tie(window, clock, backend) = std::tuple(windowHost.get(), manualClock.get(), recording.get());
        HostServices services{std::move(windowHost), std::move(recording), std::move(manualClock)};
        host = std::make_unique<NativeClient>(std::move(options), log.get(), std::move(services));
    }

    // What the boot coordinator has done by the time the loop starts.
    void startRenderer() {
        host->windowHost->createMainWindow(*host);
        host->renderer.Create(host->windowHost->nativeWindow(*host), host->options.width, host->options.height, false);
        host->rendererReady = true;
        host->lastCounter = clock->counter();
        host->accumulator = 0.0;
    }
};

}  // namespace kestrune::app::testing
