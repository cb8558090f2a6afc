#include "test_peer.h"

namespace kestrune::net::test {

// SO_RCVTIMEO and SO_SNDTIMEO expiry surface as EAGAIN.
std::string receiveTimeoutText() { return "recv failed with socket error 11 (Resource temporarily unavailable)"; }
std::string sendTimeoutText() { return "send failed with socket error 11 (Resource temporarily unavailable)"; }
std::string connectRefusedText() { return "connect failed with socket error 111 (Connection refused)"; }

}  // namespace kestrune::net::test
