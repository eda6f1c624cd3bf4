#include "netns.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tarvik::test {

bool insidePrivateNetworkNamespace(QString* why)
{
    std::error_code ownError;
    std::error_code initError;
    const auto own = std::filesystem::read_symlink("/proc/self/ns/net", ownError);
    const auto init = std::filesystem::read_symlink("/proc/1/ns/net", initError);
    if (ownError || initError) {
        if (why)
            *why = QStringLiteral("cannot compare network namespaces with PID 1 (/proc/1/ns/net unreadable)");
        return false;
    }
    if (own == init) {
        if (why)
            *why = QStringLiteral("this process shares the network namespace of PID 1 (%1)")
                       .arg(QString::fromStdString(own.string()));
        return false;
    }
    return true;
}

void requirePrivateNetworkNamespace(const char* program)
{
    QString why;
    if (insidePrivateNetworkNamespace(&why))
        return;
    std::fprintf(stderr,
                 "%s: refusing to run: it opens real sockets and broadcasts, and must run inside a private "
                 "network namespace (%s). Run the tests with scripts/test.sh.\n",
                 program, qPrintable(why));
    std::exit(2);
}

} // namespace tarvik::test
