#include "udpendpoint.h"

#include "link/cards.h"
#include "link/wirelog.h"
#include "os/socketerror.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>

#include <utility>

namespace tarvik {

UdpEndpoint::UdpEndpoint(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("Winsock"));
    connect(&m_socket, &QUdpSocket::readyRead, this, &UdpEndpoint::readPending);
}

bool UdpEndpoint::open(quint16 localPort)
{
    m_localPort = localPort;
    return bind();
}

bool UdpEndpoint::isBound() const
{
    return m_socket.state() == QAbstractSocket::BoundState;
}

bool UdpEndpoint::bind()
{
    if (isBound())
        return true;
        // Broadcast permission and the card each datagram arrived on (IP_PKTINFO) are set by Qt
        // on every UDP socket it opens. Windows would let a second program bind the port beside us and
        // take some of the replies: the port is held exclusively there, as Linux holds it anyway.
#ifdef Q_OS_WIN
    constexpr auto kBindMode = QAbstractSocket::DontShareAddress;
#else
    constexpr auto kBindMode = QAbstractSocket::DefaultForPlatform;
#endif
    if (m_socket.bind(QHostAddress::AnyIPv4, m_localPort, kBindMode))
        return true;
    m_error = m_socket.errorString();
    return false;
}

QList<Card> UdpEndpoint::cards() const
{
    return cards::usable(m_onlyCard);
}

bool UdpEndpoint::send(const QByteArray& payload, int card)
{
    // An unbound socket would send from a port of the system's choosing, where no reply can
    // reach us: without our own port there is no send.
    if (!bind()) {
        heard(payload, card, m_error);
        return false;
    }
    return sendThrough(payload, card);
}

void UdpEndpoint::heard(const QByteArray& payload, int card, const QString& error)
{
    if (!error.isEmpty())
        wire::sendFailed(payload, card, error);
    if (!wire::tap())
        return;
    // The address the datagram leaves from is the card's; through the routing table, the
    // system's choice, which the socket does not tell.
    const QString from = card == kAnyCard ? QString() : cards::addressOf(card);
    Sent sent{{payload, card, QHostAddress(from).toIPv4Address(), m_localPort,
               QHostAddress(QHostAddress::Broadcast).toIPv4Address(), kModulePort},
              error};
    // A send made while an arrival is handed on is its consequence: the tap hears it after the
    // arrival, in the order of the wire.
    if (m_arrivals > 0)
        m_heldSends.append(std::move(sent));
    else
        wire::tap()->sent(sent.datagram, sent.error);
}

bool UdpEndpoint::sendThrough(const QByteArray& payload, int card)
{
    qint64 sent = 0;
#ifndef Q_OS_WIN
    errno = 0;
#endif
    if (card == kAnyCard) {
        sent = m_socket.writeDatagram(payload, QHostAddress(QHostAddress::Broadcast), kModulePort);
    } else {
        // Sent with the card chosen (IP_PKTINFO): the limited broadcast goes out through it
        // whatever the routing table holds, a default route or none.
        QNetworkDatagram datagram(payload, QHostAddress(QHostAddress::Broadcast), kModulePort);
        datagram.setInterfaceIndex(static_cast<uint>(card));
        sent = m_socket.writeDatagram(datagram);
    }
    if (sent == payload.size()) {
        heard(payload, card, QString());
        return true;
    }
    m_error = os::lastSocketError(m_socket.errorString());
    heard(payload, card, m_error);
    return false;
}

BroadcastReport UdpEndpoint::broadcast(const QByteArray& payload)
{
    BroadcastReport report;
    report.cards = cards();
    if (!bind()) {
        report.error = m_error;
        heard(payload, kAnyCard, m_error);
    } else if (report.cards.isEmpty() && m_onlyCard.isEmpty()) {
        // No card to choose (only the loopback, say): the routing table decides, as it always did.
        report.routed = sendThrough(payload, kAnyCard);
        if (!report.routed)
            report.error = m_error;
    } else if (report.cards.isEmpty()) {
        report.error = cards::notUsable(m_onlyCard);
        m_error = report.error;
        heard(payload, kAnyCard, m_error);
    } else {
        for (const Card& card : std::as_const(report.cards)) {
            if (sendThrough(payload, card.index))
                report.sentOn.append(card);
            else
                report.error = cards::describe(card) + QStringLiteral(": ") + m_error;
        }
    }
    emit broadcastDone(report);
    return report;
}

// One datagram per notification of the socket, read without asking its size first: one system
// call where asking would take three. Under a flood the queue never empties; the socket notifies
// again on the loop's next turn, so that the timer and the window's painting still get theirs.
void UdpEndpoint::readPending()
{
    const QNetworkDatagram datagram = m_socket.receiveDatagram(kMaxDatagramSize + 1);
    if (!datagram.isValid())
        return;
    const int card = datagram.interfaceIndex() > 0 ? static_cast<int>(datagram.interfaceIndex()) : kAnyCard;
    // Of exactly its size: what it was read into is as large as the largest datagram taken.
    const QByteArray bytes(datagram.data().constData(), datagram.data().size());
    ++m_arrivals;
    {
        // Whoever it is handed to says what became of it while the bracket is open.
        wire::Arrival arrival(
            {bytes, card, datagram.senderAddress().toIPv4Address(), static_cast<quint16>(datagram.senderPort()),
             datagram.destinationAddress().toIPv4Address(), static_cast<quint16>(datagram.destinationPort())});
        // Longer than the arrival path holds: dropped whole (only its first bytes were read).
        if (bytes.size() > kMaxDatagramSize)
            wire::notTaken(bytes, card, QStringLiteral("longer than %1 bytes: dropped whole").arg(kMaxDatagramSize));
        else
            emit datagramArrived(bytes, card);
    }
    if (--m_arrivals == 0 && !m_heldSends.isEmpty()) {
        const QList<Sent> held = std::exchange(m_heldSends, {});
        if (wire::Tap* tap = wire::tap()) {
            for (const Sent& sent : held)
                tap->sent(sent.datagram, sent.error);
        }
    }
}

QHostAddress UdpEndpoint::primaryIPv4Address()
{
    // The first IPv4 address of an interface that is up and not the loopback; the loopback
    // address only when there is no other.
    QHostAddress loopback;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        const QList<QHostAddress> addresses = cards::ipv4Addresses(interface);
        for (const QHostAddress& address : addresses) {
            if (address.isLoopback()) {
                if (loopback.isNull())
                    loopback = address;
                continue;
            }
            return address;
        }
    }
    return loopback.isNull() ? QHostAddress(QHostAddress::LocalHost) : loopback;
}

} // namespace tarvik
