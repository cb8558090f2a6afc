#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <cstdlib>
#include <string>

#include "app/system_output.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

bool displayAvailable() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

// Without a display nobody could close the box, so a headless run must not wait for one;
// the message is on standard error already.
void showFatalErrorMessageBox(std::u16string_view message) {
    if (!displayAvailable()) {
        return;
    }
    const std::string text = utf8FromUtf16Lossy(message);
    const std::string caption = utf8FromUtf16Lossy(kFatalErrorCaption);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr);
}

}  // namespace kestrune::app
