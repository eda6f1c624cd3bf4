// The system's reason for a socket call that failed, which Linux and Windows keep in different places.
#pragma once

#include <QString>

namespace tarvik::os {

// The reason the last socket call of this thread failed ("Network is unreachable"), or `fallback`
// when the system has none. Called right after the call, before anything else can change it.
QString lastSocketError(const QString& fallback);

} // namespace tarvik::os
