// Guard for test programs that open real sockets: they run only inside a private network
// namespace (scripts/test.sh makes one) that holds nothing but the loopback, so that no datagram
// reaches the machine's real network.
#pragma once

#include "netns/netns.h"

namespace tarvik::test {

using tarvik::insidePrivateNetworkNamespace;

// Prints the reason and exits with status 2 unless inside a private network namespace.
void requirePrivateNetworkNamespace(const char* program);

} // namespace tarvik::test
