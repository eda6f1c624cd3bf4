#include "udpendpoint.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>

namespace tarvik {

UdpEndpoint::UdpEndpoint(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("Winsock"));
    connect(&m_socket, &QUdpSocket::readyRead, this, &UdpEndpoint::readPending);
}

void UdpEndpoint::open(quint16 localPort)
{
    m_localPort = localPort;
    bind();
}

bool UdpEndpoint::isBound() const
{
    return m_socket.state() == QAbstractSocket::BoundState;
}

bool UdpEndpoint::bind()
{
    if (isBound())
        return true;
    // Broadcast permission is set by Qt on every UDP socket it opens.
    return m_socket.bind(QHostAddress::AnyIPv4, m_localPort);
}

bool UdpEndpoint::send(const QByteArray& payload)
{
    // An unbound socket would send from a port of the system's choosing, where no reply can
    // reach us: without our own port there is no send.
    if (!bind())
        return false;
    return m_socket.writeDatagram(payload, QHostAddress(QHostAddress::Broadcast), kModulePort) == payload.size();
}

void UdpEndpoint::readPending()
{
    for (int taken = 0; taken < kArrivalBatch && m_socket.hasPendingDatagrams(); ++taken) {
        const qint64 size = m_socket.readDatagram(m_buffer.data(), m_buffer.size());
        if (size < 0)
            continue;
        if (size > kMaxDatagramSize) {
            emit oversizedDropped(size);
            continue;
        }
        emit datagramArrived(QByteArray(m_buffer.constData(), static_cast<qsizetype>(size)));
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
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
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
