#pragma once
// The application host: one per process, created by the entry point with the final
// launch options and the log, run by the boot coordinator and destroyed (in a fixed
// teardown order) before the log is closed.

#include "app/launch_options.h"

namespace kestrune::app {

class Log;

class NativeClient {
public:
    NativeClient(LaunchOptions options, Log* log);
    ~NativeClient();
    NativeClient(const NativeClient&) = delete;
    NativeClient& operator=(const NativeClient&) = delete;

    LaunchOptions options;
    Log* log = nullptr;  // not owned
};

}  // namespace kestrune::app
