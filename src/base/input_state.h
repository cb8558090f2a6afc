#pragma once
// Keyboard, controller and mouse state of the window, indexed by Windows virtual-key codes on
// every platform. Filled by the window host while messages are pumped (a controller's buttons
// type the keys of its layout), read by the duel scene, which never learns which device held
// a key; the frame loop clears the per-frame fields at the start of each frame. Main thread only.

#include <array>

#include "base/types.h"

namespace kestrune {

inline constexpr u32 kVirtualKeyCount = 256;
inline constexpr u32 kVirtualKeyTab = 0x09;
inline constexpr u32 kVirtualKeyShift = 0x10;
inline constexpr u32 kVirtualKeyEscape = 0x1B;
inline constexpr u32 kVirtualKeySpace = 0x20;
inline constexpr u32 kVirtualKeyLeft = 0x25;
inline constexpr u32 kVirtualKeyUp = 0x26;
inline constexpr u32 kVirtualKeyRight = 0x27;
inline constexpr u32 kVirtualKeyDown = 0x28;
inline constexpr u32 kVirtualKeyF3 = 0x72;
// Letters and digits are their upper-case ASCII codes.
inline constexpr u32 virtualKeyOf(char letterOrDigit) noexcept { return static_cast<unsigned char>(letterOrDigit); }

// The devices that can hold a key; each holds it independently of the other.
enum class InputSource : u8 { keyboard = 1, controller = 2 };

struct InputState {
    std::array<bool, kVirtualKeyCount> keyDown{};   // held now by some source
    std::array<bool, kVirtualKeyCount> pressed{};   // went from no source to some this frame (auto-repeat excluded)
    std::array<bool, kVirtualKeyCount> released{};  // the last source let go this frame
    std::array<u8, kVirtualKeyCount> heldBy{};      // InputSource bits
    // The controller's stick after its dead zone: x right, z forward, length 0 to 1.
    f32 analogMoveX = 0.0f;
    f32 analogMoveZ = 0.0f;
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
    void keyPressed(u32 key, bool alreadyDown, InputSource source = InputSource::keyboard) noexcept {
        if (key >= kVirtualKeyCount) {
            return;
        }
        if (!alreadyDown && !keyDown[key]) {
            pressed[key] = true;
        }
        heldBy[key] |= static_cast<u8>(source);
        keyDown[key] = true;
    }

    // A key released by a source that did not hold it (held before the window had focus) is
    // not "released"; nor is one that another source still holds.
    void keyReleased(u32 key, InputSource source = InputSource::keyboard) noexcept {
        if (key >= kVirtualKeyCount || (heldBy[key] & static_cast<u8>(source)) == 0) {
            return;
        }
        heldBy[key] &= static_cast<u8>(~static_cast<u8>(source));
        if (heldBy[key] == 0) {
            released[key] = true;
            keyDown[key] = false;
        }
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
