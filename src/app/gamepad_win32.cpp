#include "app/gamepad_win32.h"

#include <algorithm>
#include <string>

#include "app/log.h"

namespace kestrune::app {
namespace {

constexpr f32 kThumbFullScale = 32767.0f;
constexpr f32 kTriggerFullScale = 255.0f;

struct ButtonRead {
    WORD xinput;
    GamepadButton button;
};

constexpr ButtonRead kButtonReads[] = {
    {XINPUT_GAMEPAD_A, GamepadButton::south},
    {XINPUT_GAMEPAD_X, GamepadButton::west},
    {XINPUT_GAMEPAD_Y, GamepadButton::north},
    {XINPUT_GAMEPAD_LEFT_SHOULDER, GamepadButton::leftShoulder},
    {XINPUT_GAMEPAD_RIGHT_SHOULDER, GamepadButton::rightShoulder},
    {XINPUT_GAMEPAD_BACK, GamepadButton::back},
    {XINPUT_GAMEPAD_START, GamepadButton::start},
    {XINPUT_GAMEPAD_DPAD_UP, GamepadButton::dpadUp},
    {XINPUT_GAMEPAD_DPAD_DOWN, GamepadButton::dpadDown},
    {XINPUT_GAMEPAD_DPAD_LEFT, GamepadButton::dpadLeft},
    {XINPUT_GAMEPAD_DPAD_RIGHT, GamepadButton::dpadRight},
};
static_assert(std::size(kButtonReads) == kGamepadButtonCount, "every button of the layout is read");

f32 thumbFraction(SHORT value) noexcept { return std::max(-1.0f, static_cast<f32>(value) / kThumbFullScale); }

void logSlot(Log* log, const char* what, i32 userIndex) {
    if (log != nullptr) {
        log->write(kLogInfo, std::string(what) + "XInput controller " + std::to_string(userIndex + 1));
    }
}

}  // namespace

GamepadSnapshot snapshotFromXInput(const XINPUT_GAMEPAD& pad) noexcept {
    GamepadSnapshot snapshot;
    for (const ButtonRead& read : kButtonReads) {
        if ((pad.wButtons & read.xinput) != 0) {
            snapshot.buttons = static_cast<u16>(snapshot.buttons | buttonBit(read.button));
        }
    }
    snapshot.leftStickX = thumbFraction(pad.sThumbLX);
    snapshot.leftStickY = thumbFraction(pad.sThumbLY);  // XInput's y points up, that is forward
    snapshot.leftTrigger = static_cast<f32>(pad.bLeftTrigger) / kTriggerFullScale;
    return snapshot;
}

XInputGamepads::~XInputGamepads() {
    if (library_ != nullptr) {
        FreeLibrary(library_);
    }
}

void XInputGamepads::load(Log* log) {
    for (const wchar_t* name : {L"xinput1_4.dll", L"xinput9_1_0.dll"}) {
        library_ = LoadLibraryW(name);
        if (library_ != nullptr) {
            // GetProcAddress returns a generic FARPROC; the export's real type is XInputGetState's.
            getState_ = reinterpret_cast<XInputGetStateFunction>(
                reinterpret_cast<void*>(GetProcAddress(library_, "XInputGetState")));
            if (getState_ != nullptr) {
                return;
            }
            FreeLibrary(library_);
            library_ = nullptr;
        }
    }
    if (log != nullptr) {
        log->write(kLogInfo, std::string_view("No XInput library: playing without a controller"));
    }
}

void XInputGamepads::poll(InputState& input, Log* log, u64 nowMs) {
    if (getState_ == nullptr) {
        return;
    }
    XINPUT_STATE state{};
    if (userIndex_ >= 0) {
        if (getState_(static_cast<DWORD>(userIndex_), &state) == ERROR_SUCCESS) {
            gamepad_.apply(snapshotFromXInput(state.Gamepad), input);
            return;
        }
        gamepad_.release(input);
        logSlot(log, "Controller lost: ", userIndex_);
        userIndex_ = -1;
        nextProbeMs_ = nowMs;  // another slot may already hold a controller
    }
    if (nowMs < nextProbeMs_) {
        return;
    }
    nextProbeMs_ = nowMs + kXInputProbeIntervalMs;
    for (DWORD slot = 0; slot < XUSER_MAX_COUNT; ++slot) {
        if (getState_(slot, &state) == ERROR_SUCCESS) {
            userIndex_ = static_cast<i32>(slot);
            logSlot(log, "Controller taken: ", userIndex_);
            gamepad_.apply(snapshotFromXInput(state.Gamepad), input);
            return;
        }
    }
}

}  // namespace kestrune::app
