#include "app/boot_coordinator.h"

#include <stdexcept>

#include "app/log.h"
#include "app/native_client.h"

namespace kestrune::app {

// Until the window host and renderer exist, a run can only say so and end.
RunSummary BootCoordinator::run() {
    host_.log->write(kLogInfo, std::string_view("BootCoordinator start"));
    throw std::runtime_error("This build has no renderer yet.");
}

}  // namespace kestrune::app
