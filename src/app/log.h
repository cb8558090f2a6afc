#pragma once
// The process log: one timestamped line per event ("2026-03-01T08:15:42Z [INFO] text"),
// flushed line by line and mirrored to the debugger output (standard error on Linux).
// Thread-safe: one mutex makes each line atomic. Opening throws std::runtime_error
// "Unable to create native client log file."; writing never throws.

#include <cstdio>
#include <filesystem>
#include <mutex>
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

}  // namespace kestrune::app
