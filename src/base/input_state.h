#pragma once
// Keyboard and mouse state of the window, indexed by Windows virtual-key codes on every
// platform. Filled by the window host while messages are pumped, read by the duel scene;
// the frame loop clears the per-frame fields at the start of each frame. Main thread only.

#include <array>

#include "base/types.h"

namespace kestrune {

inline constexpr u32 kVirtualKeyCount = 256;
inline constexpr u32 kVirtualKeyTab = 0x09;
inline constexpr u32 kVirtualKeyShift = 0x10;
inline constexpr u32 kVirtualKeyEscape = 0x1B;
inline constexpr u32 kVirtualKeySpace = 0x20;
// Letters and digits are their upper-case ASCII codes.
inline constexpr u32 virtualKeyOf(char letterOrDigit) noexcept { return static_cast<unsigned char>(letterOrDigit); }

struct InputState {
    std::array<bool, kVirtualKeyCount> keyDown{};   // held now
    std::array<bool, kVirtualKeyCount> pressed{};   // went down this frame (auto-repeat excluded)
    std::array<bool, kVirtualKeyCount> released{};  // went up this frame after having been down
    i32 lastMouseX = 0;
    i32 lastMouseY = 0;
    i32 mouseDeltaX = 0;
    i32 mouseDeltaY = 0;
    bool mouseSeen = false;

    // Clears what belongs to one frame; held keys and the last position persist.
    void beginFrame() noexcept {
        pressed.fill(false);
        released.fill(false);
        mouseDeltaX = 0;
        mouseDeltaY = 0;
    }

    // `alreadyDown` is the platform's auto-repeat flag. Codes above 255 are ignored.
    void keyPressed(u32 key, bool alreadyDown) noexcept {
        if (key >= kVirtualKeyCount) {
            return;
        }
        if (!alreadyDown && !keyDown[key]) {
            pressed[key] = true;
        }
        keyDown[key] = true;
    }

    // A key released without having been seen down (held before the window had focus) is not "released".
    void keyReleased(u32 key) noexcept {
        if (key >= kVirtualKeyCount) {
            return;
        }
        released[key] = keyDown[key];
        keyDown[key] = false;
    }

    // The first position only anchors the delta.
    void mouseMoved(i32 x, i32 y) noexcept {
        if (mouseSeen) {
            mouseDeltaX += x - lastMouseX;
            mouseDeltaY += y - lastMouseY;
        }
        lastMouseX = x;
        lastMouseY = y;
        mouseSeen = true;
    }
};

}  // namespace kestrune
