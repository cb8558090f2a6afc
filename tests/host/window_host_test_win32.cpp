#include "app/window_host_win32.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <utility>

#include "app/frame_clock.h"
#include "app/native_client.h"
#include "app/test_support.h"
#include "render/recording_backend.h"

namespace kestrune::app {
namespace {

std::unique_ptr<NativeClient> makeHost() {
    return std::make_unique<NativeClient>(LaunchOptions{.width = 320, .height = 200}, nullptr,
                                          HostServices{std::make_unique<Win32WindowHost>(),
                                                       std::make_unique<render::testing::RecordingBackend>(),
                                                       createSystemFrameClock()});
}

class Win32WindowHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = makeHost();
        host_->windowHost->registerWindowClass(*host_);
        host_->windowHost->createMainWindow(*host_);
        window_ = static_cast<HWND>(host_->window);
        ASSERT_NE(window_, nullptr);
    }
    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam) { return SendMessageW(window_, message, wParam, lParam); }

    std::unique_ptr<NativeClient> host_;
    HWND window_ = nullptr;
};

constexpr LPARAM kRepeatBit = LPARAM{1} << 30;

// Hidden at the requested client size; minimized, then restored; closed, a quit.
TEST_F(Win32WindowHostTest, WindowIsHiddenResizesAfterRestoringAndQuitsWhenClosed) {
    const ClientSize size = host_->windowHost->clientSize(*host_);
    EXPECT_EQ(std::tuple(IsWindowVisible(window_), size.widthPixels, size.heightPixels), std::tuple(FALSE, 320u, 200u));
    EXPECT_EQ(reinterpret_cast<NativeClient*>(GetWindowLongPtrW(window_, GWLP_USERDATA)), host_.get());
    send(WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_EQ(std::pair(host_->minimized, host_->resizePending), std::pair(true, false));
    send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
    EXPECT_EQ(std::tuple(host_->minimized, host_->resizePending, host_->pendingWidth, host_->pendingHeight),
              std::tuple(false, true, 800u, 600u));
    send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 0));
    EXPECT_FALSE(host_->resizePending);
    send(WM_CLOSE, 0, 0);
    const bool open = host_->windowHost->pumpMessages(*host_);
    EXPECT_EQ(std::tuple(IsWindow(window_), host_->window, open, host_->quitRequested),
              std::tuple(FALSE, static_cast<void*>(nullptr), false, true));
}

TEST_F(Win32WindowHostTest, KeyAndMouseMessagesFillInputAndSystemKeysAreConsumed) {
    EXPECT_EQ(send(WM_KEYDOWN, 0x41, kRepeatBit), 0);  // a repeat alone (focus gained with A held): no press
    EXPECT_EQ(std::pair(host_->input.keyDown[0x41], host_->input.pressed[0x41]), std::pair(true, false));
    send(WM_SYSKEYUP, 0x41, 0);
    EXPECT_TRUE(host_->input.released[0x41]);
    send(WM_KEYDOWN, 0x41, 0);
    EXPECT_TRUE(host_->input.pressed[0x41]);
    send(WM_KEYDOWN, 0x142, 0);  // above 255, or above 32 bits: truncating either would alias 'B'
    send(WM_KEYDOWN, static_cast<WPARAM>(0x1'0000'0042), 0);
    EXPECT_FALSE(host_->input.keyDown[0x42]);
    EXPECT_EQ(send(WM_SYSKEYDOWN, VK_F4, LPARAM{1} << 29), 0);  // Alt+F4 must not close the window
    EXPECT_EQ(std::pair(IsWindow(window_), host_->input.pressed[VK_F4]), std::pair(TRUE, true));
    // Mouse coordinates are signed 16-bit.
    send(WM_MOUSEMOVE, 0, MAKELPARAM(10, 20));
    send(WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-6), 25));
    const InputState& input = host_->input;
    EXPECT_EQ(std::tuple(input.mouseDeltaX, input.mouseDeltaY, input.lastMouseX), std::tuple(-16, 5, -6));
}

TEST_F(Win32WindowHostTest, SecondRegistrationFails) {
    auto second = makeHost();
    testing::expectThrowWith<std::runtime_error>([&] { second->windowHost->registerWindowClass(*second); },
                                                 "RegisterClassExW failed.");
    second->instance = nullptr;  // the class belongs to the first host; only it unregisters
}

}  // namespace
}  // namespace kestrune::app
