#include "test_peer.h"

namespace kestrune::net::test {

// WSAETIMEDOUT and WSAECONNREFUSED.
std::string receiveTimeoutText() { return "recv failed with WSA error 10060"; }
std::string sendTimeoutText() { return "send failed with WSA error 10060"; }
std::string connectRefusedText() { return "connect failed with WSA error 10061"; }

}  // namespace kestrune::net::test
