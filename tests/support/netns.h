// Guard for test programs that open real sockets: they run only inside a private network
// namespace (scripts/test.sh makes one), so that no datagram reaches the machine's real network.
#pragma once

#include <QString>

namespace tarvik::test {

// True when this process's network namespace differs from that of PID 1; otherwise `why` says why not.
bool insidePrivateNetworkNamespace(QString* why = nullptr);

// Prints the reason and exits with status 2 unless inside a private network namespace.
void requirePrivateNetworkNamespace(const char* program);

} // namespace tarvik::test
