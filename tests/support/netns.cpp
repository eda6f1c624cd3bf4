#include "netns.h"

#include <QFile>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tarvik::test {

namespace {

// Names of the network interfaces this process can see (its own network namespace).
QStringList interfaceNames()
{
    QFile devices(QStringLiteral("/proc/self/net/dev"));
    if (!devices.open(QIODevice::ReadOnly))
        return {QStringLiteral("?")};
    QStringList names;
    const QList<QByteArray> lines = devices.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            names << QString::fromLatin1(line.left(colon).trimmed());
    }
    return names;
}

} // namespace

bool insidePrivateNetworkNamespace(QString* why)
{
    // Where PID 1's namespace can be read, ours must differ from it.
    std::error_code ownError;
    std::error_code initError;
    const auto own = std::filesystem::read_symlink("/proc/self/ns/net", ownError);
    const auto init = std::filesystem::read_symlink("/proc/1/ns/net", initError);
    if (!ownError && !initError && own == init) {
        if (why)
            *why = QStringLiteral("this process shares the network namespace of PID 1 (%1)")
                       .arg(QString::fromStdString(own.string()));
        return false;
    }
    // And nothing but the loopback may exist in it, so that no datagram can leave the machine.
    const QStringList names = interfaceNames();
    for (const QString& name : names) {
        if (name != QStringLiteral("lo")) {
            if (why)
                *why = QStringLiteral("network interfaces other than the loopback are present: %1")
                           .arg(names.join(QStringLiteral(", ")));
            return false;
        }
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
