#include "app/native_client.h"

#include <utility>

namespace kestrune::app {

NativeClient::NativeClient(LaunchOptions launchOptions, Log* sharedLog)
    : options(std::move(launchOptions)), log(sharedLog) {}

NativeClient::~NativeClient() = default;

}  // namespace kestrune::app
