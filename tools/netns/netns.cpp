#include "netns.h"

#include <QFile>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tarvik {

bool insidePrivateNetworkNamespace(QString* why, const QStringList& allowedPrefixes)
{
    // PID 1's namespace cannot always be read (not even by root): where it can, ours must differ.
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
    // And nothing may be in it that leads off the machine.
    QFile devices(QStringLiteral("/proc/self/net/dev"));
    if (!devices.open(QIODevice::ReadOnly)) {
        if (why)
            *why = QStringLiteral("cannot list the network interfaces");
        return false;
    }
    QStringList others;
    const QList<QByteArray> lines = devices.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QString name = QString::fromLatin1(line.left(colon).trimmed());
        const bool allowed = name == QStringLiteral("lo") ||
                             std::any_of(allowedPrefixes.begin(), allowedPrefixes.end(),
                                         [&name](const QString& prefix) { return name.startsWith(prefix); });
        if (!allowed)
            others << name;
    }
    if (!others.isEmpty()) {
        if (why)
            *why = QStringLiteral("network interfaces other than the loopback are present: %1")
                       .arg(others.join(QStringLiteral(", ")));
        return false;
    }
    return true;
}

} // namespace tarvik
