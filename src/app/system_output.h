#pragma once
// Where the shell's texts leave the process besides its files: the debugger mirror of the
// log (OutputDebugStringW on Windows, standard error on Linux), the one-line fatal message
// on standard error (both platforms), the help text, and the fatal-error message box.
// Failures of the channels themselves are ignored: there is nowhere left to report them.

#include <string_view>

namespace kestrune::app {

inline constexpr std::u16string_view kFatalErrorCaption = u"Kestrune Native - fatal error";

// Passes one complete log line, line break included, to the debugger output.
void mirrorToDebugger(std::u16string_view line);

// Writes `text` and a line break to standard error; the caller keeps `text` to one line.
void writeStandardErrorLine(std::u16string_view text);

// Writes `text` (whole lines) to standard output. A Windows GUI program started from a
// console has none: it writes to the parent's console then, and shows the text in a box
// when there is no console either.
void writeStandardOutput(std::u16string_view text);

// Shows `message` in a modal error box without owner window and waits until it is closed.
// On Linux only when a display is available; elsewhere it returns at once.
void showFatalErrorMessageBox(std::u16string_view message);

}  // namespace kestrune::app
