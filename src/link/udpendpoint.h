// The tool's one UDP endpoint: bound at local port 65002 on every IPv4 address, sending to the
// limited broadcast address, handing on every datagram that arrives, one arrival per datagram.
#pragma once

#include "link/link.h"

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

namespace tarvik {

class UdpEndpoint : public QObject, public Link
{
    Q_OBJECT

public:
    // The arrival path holds a datagram's length as a signed 16-bit count: longer datagrams are
    // taken off the socket and dropped whole.
    static constexpr qint64 kMaxDatagramSize = 32767;
    // Datagrams taken per notification of the socket. Under a flood the queue never empties; taking
    // a bounded batch lets the event loop run the timer and paint the window between batches, and
    // the rest of the queue notifies again on the loop's next turn.
    static constexpr int kArrivalBatch = 64;

    explicit UdpEndpoint(QObject* parent = nullptr);

    // Binds the local port with broadcast permission. A failure is not reported here: the port is
    // tried again at the next send, and a send without a bound port is a send error.
    void open(quint16 localPort = kLocalPort);
    bool isBound() const;

    bool send(const QByteArray& payload) override;

    quint16 localPort() const { return m_localPort; }
    // The host's primary IPv4 address: the first of a card that is up and not the loopback.
    static QHostAddress primaryIPv4Address();

signals:
    void datagramArrived(const QByteArray& datagram);
    // A datagram longer than kMaxDatagramSize was dropped.
    void oversizedDropped(qint64 size);

private:
    bool bind();
    void readPending();

    QUdpSocket m_socket;
    // Room for the largest datagram UDP carries, so that one read takes any datagram whole.
    QByteArray m_buffer{65536, Qt::Uninitialized};
    quint16 m_localPort = kLocalPort;
};

} // namespace tarvik
