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
                 "%s: skipped: it opens real sockets and broadcasts, and runs only inside a private network "
                 "namespace (%s). Run the tests with scripts/test.sh.\n",
                 program, qPrintable(why));
    std::exit(kSkipped);
}

} // namespace tarvik::test
