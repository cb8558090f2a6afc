#pragma once
// Runs one program lifetime on the application host: start-up in a fixed order, the
// fixed-step frame loop, and the end-of-run summary. Throws on any start-up failure.

#include "app/run_summary.h"

namespace kestrune::app {

class NativeClient;

class BootCoordinator {
public:
    explicit BootCoordinator(NativeClient& host) : host_(host) {}
    RunSummary run();

private:
    NativeClient& host_;
};

}  // namespace kestrune::app
