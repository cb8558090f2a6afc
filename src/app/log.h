#pragma once
// The process log: one timestamped line per event ("2026-03-01T08:15:42Z [INFO] text"),
// flushed line by line and mirrored to the debugger output (standard error on Linux).
// Thread-safe: one mutex makes each line atomic. Opening throws std::runtime_error
// "Unable to create native client log file." (or the file system's error when a parent
// directory cannot be created); writing never throws in ordinary operation.
//
// The file is 8-bit text: a character up to U+00FF is the byte of the same value; any
// character above it (a surrogate pair counting as one) is written as the byte "?", so
// every byte of the file is one character. The debugger mirror receives the full text.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "base/types.h"

namespace kestrune::app {

inline constexpr u32 kLogInfo = 0;
inline constexpr u32 kLogWarn = 1;
inline constexpr u32 kLogError = 2;

class Log {
public:
    explicit Log(const std::filesystem::path& path);
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void write(u32 level, std::u16string_view message);
    // Convenience for the shell's ASCII texts: each byte becomes one UTF-16 unit.
    void write(u32 level, std::string_view message);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

// One line as Log::write produces it for the wall-clock `time` (UTC, floored to whole
// seconds), ending in "\n". A level other than the three above is named "UNKNOWN".
std::u16string formatLogLine(std::chrono::system_clock::time_point time, u32 level, std::u16string_view message);

}  // namespace kestrune::app
