// Guard for test programs that open real sockets: they run only inside a private network
// namespace (scripts/test.sh makes one), so that no datagram reaches the machine's real network.
#pragma once

#include <QString>

namespace tarvik::test {

// True when this process has a network namespace of its own (not that of PID 1, where that can be read)
// holding nothing but the loopback interface; otherwise `why` says why not.
bool insidePrivateNetworkNamespace(QString* why = nullptr);

// Prints the reason and exits with status 2 unless inside a private network namespace.
void requirePrivateNetworkNamespace(const char* program);

} // namespace tarvik::test
