#include "socketerror.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#endif

namespace tarvik::os {

QString lastSocketError(const QString& fallback)
{
#ifdef Q_OS_WIN
    const int code = WSAGetLastError();
#else
    const int code = errno;
#endif
    return code != 0 ? qt_error_string(code) : fallback;
}

} // namespace tarvik::os
