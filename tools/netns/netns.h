// Network safety of the programs that broadcast on their own: the tests, the benchmarks and the
// module simulator run only inside a private network namespace from which no datagram can leave
// the machine.
#pragma once

#include <QString>
#include <QStringList>

namespace tarvik {

// True when this process's network namespace is not that of PID 1 (where that can be read) and
// holds no network interface but the loopback and those whose names start with one of
// `allowedPrefixes`; otherwise `why` says why not.
bool insidePrivateNetworkNamespace(QString* why = nullptr, const QStringList& allowedPrefixes = {});

} // namespace tarvik
