#include "netlab.h"

#include <QFile>
#include <QNetworkInterface>
#include <QProcess>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace tarvik::test {

namespace {

// Writes a sysctl of this thread's network namespace; the reverse-path filter is off on the
// test's side, so that replies from modules in other subnets, with no route to them, are taken.
void writeSysctl(const QString& path, const QByteArray& value)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(value);
}

QString fdPath(int fd)
{
    return QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(fd);
}

} // namespace

bool NetLab::enterOwnNamespace(QString* why)
{
    if (::unshare(CLONE_NEWNET) != 0) {
        *why = QStringLiteral("cannot make a network namespace: %1").arg(QString::fromLocal8Bit(::strerror(errno)));
        return false;
    }
    writeSysctl(QStringLiteral("/proc/sys/net/ipv4/conf/all/rp_filter"), "0");
    writeSysctl(QStringLiteral("/proc/sys/net/ipv4/conf/default/rp_filter"), "0");
    return true;
}

NetLab::~NetLab()
{
    // Deleting one end of a veth pair deletes the other; closing a namespace's last descriptor
    // deletes the namespace with what is left in it.
    for (const QString& card : std::as_const(m_cards))
        ip({QStringLiteral("link"), QStringLiteral("del"), card});
    for (int fd : std::as_const(m_namespaces))
        ::close(fd);
}

int NetLab::addNamespace()
{
    const int own = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (own < 0)
        return -1;
    int made = -1;
    if (::unshare(CLONE_NEWNET) == 0) {
        made = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (::setns(own, CLONE_NEWNET) != 0)
            qFatal("cannot return to the test's network namespace");
    }
    ::close(own);
    if (made < 0) {
        qWarning("cannot make a network namespace");
        return -1;
    }
    m_namespaces.append(made);
    if (!ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}, made))
        return -1;
    return made;
}

bool NetLab::ip(const QStringList& args, int netns)
{
    QProcess process;
    process.setChildProcessModifier([netns] {
        if (netns >= 0 && ::setns(netns, CLONE_NEWNET) != 0)
            ::_exit(127);
    });
    process.start(QStringLiteral("ip"), args);
    if (process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    qWarning("ip %s: %s%s", qPrintable(args.join(QLatin1Char(' '))), process.readAllStandardError().constData(),
             qPrintable(process.errorString()));
    return false;
}

int NetLab::addNetwork(const QString& card, const QString& ownAddress, const QString& moduleAddress)
{
    const int netns = addNamespace();
    const QString peer = card + QLatin1Char('m');
    const bool made =
        netns >= 0 &&
        ip({QStringLiteral("link"), QStringLiteral("add"), card, QStringLiteral("type"), QStringLiteral("veth"),
            QStringLiteral("peer"), QStringLiteral("name"), peer, QStringLiteral("netns"), fdPath(netns)}) &&
        (m_cards.append(card), true) &&
        ip({QStringLiteral("address"), QStringLiteral("add"), ownAddress, QStringLiteral("dev"), card}) &&
        ip({QStringLiteral("link"), QStringLiteral("set"), card, QStringLiteral("up")}) &&
        ip({QStringLiteral("address"), QStringLiteral("add"), moduleAddress, QStringLiteral("dev"), peer}, netns) &&
        ip({QStringLiteral("link"), QStringLiteral("set"), peer, QStringLiteral("up")}, netns) &&
        ip({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"), QStringLiteral("dev"), peer},
           netns);
    return made ? netns : -1;
}

int NetLab::addSharedNetwork(const QString& cardA, const QString& ownAddressA, const QString& cardB,
                             const QString& ownAddressB, const QString& moduleAddress)
{
    const int netns = addNamespace();
    const QString bridge = QStringLiteral("tvkbr");
    bool made =
        netns >= 0 &&
        ip({QStringLiteral("link"), QStringLiteral("add"), bridge, QStringLiteral("type"), QStringLiteral("bridge"),
            QStringLiteral("forward_delay"), QStringLiteral("0")},
           netns) &&
        ip({QStringLiteral("address"), QStringLiteral("add"), moduleAddress, QStringLiteral("dev"), bridge}, netns) &&
        ip({QStringLiteral("link"), QStringLiteral("set"), bridge, QStringLiteral("up")}, netns);
    const QList<QPair<QString, QString>> cards = {{cardA, ownAddressA}, {cardB, ownAddressB}};
    for (const auto& [card, address] : cards) {
        const QString peer = card + QLatin1Char('m');
        made = made &&
               ip({QStringLiteral("link"), QStringLiteral("add"), card, QStringLiteral("type"), QStringLiteral("veth"),
                   QStringLiteral("peer"), QStringLiteral("name"), peer, QStringLiteral("netns"), fdPath(netns)}) &&
               (m_cards.append(card), true) &&
               ip({QStringLiteral("address"), QStringLiteral("add"), address, QStringLiteral("dev"), card}) &&
               ip({QStringLiteral("link"), QStringLiteral("set"), card, QStringLiteral("up")}) &&
               ip({QStringLiteral("link"), QStringLiteral("set"), peer, QStringLiteral("master"), bridge}, netns) &&
               ip({QStringLiteral("link"), QStringLiteral("set"), peer, QStringLiteral("up")}, netns);
    }
    made = made && ip({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"), QStringLiteral("dev"),
                       bridge},
                      netns);
    return made ? netns : -1;
}

int NetLab::cardIndex(const QString& card)
{
    return QNetworkInterface::interfaceIndexFromName(card);
}

QStringList NetLab::routes()
{
    QProcess process;
    process.start(QStringLiteral("ip"), {QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("show")});
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace tarvik::test
