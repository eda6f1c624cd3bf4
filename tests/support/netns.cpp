#include "netns.h"

#include <cstdio>
#include <cstdlib>

namespace tarvik::test {

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
