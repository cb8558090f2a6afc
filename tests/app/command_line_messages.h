#pragma once
// The command line's refusals, as its test and its fuzzer expect them word for word.

#include <string>

namespace kestrune::app::testing {

inline const std::string kInvalidNumber = "Invalid numeric value for ";  // then the option's name
inline const std::string kTooSmall = "Window dimensions must be at least 320x240.";
inline const std::string kFramesRange = "--frames must be between 1 and 10000.";
inline const std::string kFixedFpsRange = "--fixed-fps must be between 1 and 1000.";
inline const std::string kUnknownOption = "Unknown command-line option.";
inline const std::string kHostPort = "--server must use host:port.";
inline const std::string kPortRange = "Server port must be between 1 and 65535.";
inline const std::string kClasses = "--class must be warrior or templar.";
inline const std::string kContentSmoke = "--content-smoke requires --content=<runtime directory>.";
inline const std::string kPipeOnce = "--session-pipe can only be supplied once.";
inline const std::string kPipeServer = "--session-pipe requires --server.";
inline const std::string kReplaySpeedRange = "--replay-speed must be between 0.1 and 10.";
inline const std::string kReplayServer = "--replay plays without a server: leave out --server.";
inline const std::string kReplayRecord = "--replay and --record cannot be used together.";
inline const std::string kReplayContent = "--replay requires --content=<runtime directory>.";
inline const std::string kName = "--name must be 1 to 24 bytes of UTF-8 text.";

inline std::string keysRefusal(const std::string& entry) {
    return "--keys entry \"" + entry +
           "\" is not FRAME:KEY, FRAME:+KEY or FRAME:-KEY (FRAME from 1; KEY a letter, a digit, Space, Shift, "
           "Tab, Escape, Left, Up, Right, Down or F3).";
}

}  // namespace kestrune::app::testing
