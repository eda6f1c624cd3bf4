// Guard for test programs that open real sockets: they run only inside a private network
// namespace (scripts/test.sh makes one) that holds nothing but the loopback, so that no datagram
// reaches the machine's real network.
#pragma once

#include "netns/netns.h"

namespace tarvik::test {

using tarvik::insidePrivateNetworkNamespace;

// The status of a test program that cannot run here; every test declares it as its
// SKIP_RETURN_CODE, so that ctest outside a namespace reports these programs as skipped.
inline constexpr int kSkipped = 77;

// Prints the reason and exits with kSkipped unless inside a private network namespace.
void requirePrivateNetworkNamespace(const char* program);

// A test program's status from QTest's count of failures: exactly kSkipped failures must not read
// as a skip.
constexpr int testStatus(int failures)
{
    return failures == kSkipped ? kSkipped + 1 : failures;
}

} // namespace tarvik::test
