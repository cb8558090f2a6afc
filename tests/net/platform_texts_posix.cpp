#include "test_peer.h"

namespace kestrune::net::test {

// SO_RCVTIMEO expiry surfaces as EAGAIN from recv.
std::string receiveTimeoutText() { return "recv failed with socket error 11 (Resource temporarily unavailable)"; }
std::string connectRefusedText() { return "connect failed with socket error 111 (Connection refused)"; }

}  // namespace kestrune::net::test
