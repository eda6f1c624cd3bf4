#include "host.h"

#include "netns/netns.h"
#include "wireline.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QStringList>
#include <QTime>
#include <QTimer>

namespace tarvik::sim {

namespace {

QString ruleText(const Rule& rule)
{
    const QString match = rule.match.toString();
    switch (rule.action) {
    case Rule::Drop:
        return QStringLiteral("drop %1").arg(match);
    case Rule::Delay:
        return QStringLiteral("delay %1 ms: %2").arg(rule.amount).arg(match);
    case Rule::Duplicate:
        return QStringLiteral("duplicate %1").arg(match);
    case Rule::Truncate:
        return QStringLiteral("truncate to %1 B: %2").arg(rule.amount).arg(match);
    case Rule::Refuse:
        return QStringLiteral("refuse %1").arg(match);
    case Rule::Answer:
        return QStringLiteral("answer %1 with |%2|").arg(match, printable(rule.text));
    }
    return {};
}

} // namespace

Host::Host(Options options, QTextStream& out, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_out(out)
{
    const QList<QByteArray> identities = m_options.moduleIdentities();
    m_modules.reserve(static_cast<size_t>(identities.size()));
    for (int i = 0; i < identities.size(); ++i) {
        m_modules.emplace_back(Module(identities[i], i), &m_options.faults);
        m_modules.back().module().setIdentityInReplies(!m_options.noIdentity);
    }
    connect(&m_socket, &QUdpSocket::readyRead, this, &Host::readPending);
}

bool Host::start(QString* error)
{
    // Shared, so that several simulators and a test's listener can all hear the tool's broadcasts.
    if (!m_socket.bind(QHostAddress::AnyIPv4, m_options.port,
                       QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        if (error)
            *error = QStringLiteral("cannot bind UDP port %1: %2").arg(m_options.port).arg(m_socket.errorString());
        return false;
    }
    print(QStringLiteral("tarvik-sim: %1 module(s) on UDP port %2, replies to %3:%4")
              .arg(m_modules.size())
              .arg(m_options.port)
              .arg(m_options.replyHost)
              .arg(m_options.replyPort));
    for (const FaultyModule& m : m_modules) {
        print(QStringLiteral("  module %1: %2, own address %3")
                  .arg(m.module().index() + 1)
                  .arg(identityHex(m.module().identity()), QString::fromLatin1(m.module().valueText("IP"))));
    }
    if (m_options.faults.silent)
        print(QStringLiteral("  fault: silent, answers nothing"));
    for (const Rule& rule : m_options.faults.rules)
        print(QStringLiteral("  fault: ") + ruleText(rule));
    if (m_options.faults.lossPerMillion > 0)
        print(QStringLiteral("  fault: loses %1 % of the replies at random (seed %2)")
                  .arg(m_options.faults.lossPerMillion / 10000.0)
                  .arg(m_options.faults.lossSeed));
    print(QStringLiteral("ready"));
    return true;
}

void Host::readPending()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        if (!datagram.isValid())
            continue;
        if (!m_options.quiet) {
            const QString from = QStringLiteral("%1:%2")
                                     .arg(QHostAddress(datagram.senderAddress().toIPv4Address()).toString())
                                     .arg(datagram.senderPort());
            print(wireLine(QTime::currentTime(), QStringLiteral("RX"), from, datagram.data()));
        }
        take(datagram.data());
    }
}

void Host::take(const QByteArray& datagram)
{
    for (FaultyModule& m : m_modules) {
        const bool wasConfiguring = m.module().isConfiguring();
        const Handled handled = m.receive(datagram);
        if (!handled.taken)
            continue;
        if (wasConfiguring != m.module().isConfiguring() && !m_options.quiet) {
            print(note(m, m.module().isConfiguring() ? QStringLiteral("found: takes commands now")
                                                     : QStringLiteral("reset: runs, answers only SETUP")));
        }
        if (handled.dropped && !m_options.quiet)
            print(note(m, QStringLiteral("loses its reply to %1").arg(QString::fromLatin1(handled.request.key))));
        if (!handled.reply)
            continue;
        const Outgoing out = *handled.reply;
        const QByteArray identity = m.module().identity();
        const auto sendAll = [this, identity, out] {
            for (const FaultyModule& sender : m_modules) {
                if (sender.module().identity() != identity)
                    continue;
                for (int copy = 0; copy < out.copies; ++copy)
                    send(sender, out.bytes);
            }
        };
        if (out.delayMs > 0)
            QTimer::singleShot(out.delayMs, this, sendAll);
        else
            sendAll();
    }
}

void Host::send(const FaultyModule& module, const QByteArray& bytes)
{
    const qint64 sent = m_socket.writeDatagram(bytes, QHostAddress(m_options.replyHost), m_options.replyPort);
    if (m_options.quiet)
        return;
    QString line = wireLine(QTime::currentTime(), QStringLiteral("TX"),
                            identityHex(module.module().identity()) + QStringLiteral(" -> ") + m_options.replyHost +
                                QLatin1Char(':') + QString::number(m_options.replyPort),
                            bytes);
    if (sent != bytes.size())
        line += QStringLiteral(" SEND FAILED: ") + m_socket.errorString();
    print(line);
}

QString Host::note(const FaultyModule& module, const QString& text) const
{
    return QStringLiteral("%1 -- %2 %3")
        .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")), identityHex(module.module().identity()),
             text);
}

void Host::print(const QString& line)
{
    m_out << line << Qt::endl; // endl flushes: a watcher sees each line at once
}

bool insidePrivateNetworkNamespace(QString* why)
{
    // Besides the loopback, the demo's own veth links (named tvk...) may be present.
    return tarvik::insidePrivateNetworkNamespace(why, {QStringLiteral("tvk")});
}

} // namespace tarvik::sim
