// The tool's one UDP endpoint: bound at local port 65002 on every IPv4 address, sending to the
// limited broadcast address through one network card or through every card that can broadcast,
// handing on every datagram that arrives with the card it arrived on, one arrival per datagram.
#pragma once

#include "link/link.h"
#include "link/wirelog.h"

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

    explicit UdpEndpoint(QObject* parent = nullptr);

    // Binds the local port with broadcast permission; false when the port cannot be had, and
    // errorString() says why. The port is tried again at the next send, and a send without a
    // bound port is a send error.
    bool open(quint16 localPort = kLocalPort);
    bool isBound() const;
    // The system's reason for the last bind or send that failed.
    QString errorString() const { return m_error; }

    // Broadcasts go out only through the card of this name (empty, as by default: every usable card).
    void setOnlyCard(const QString& name) { m_onlyCard = name; }
    // The cards a broadcast would go out through now.
    QList<Card> cards() const;

    bool send(const QByteArray& payload, int card) override;
    BroadcastReport broadcast(const QByteArray& payload) override;

    quint16 localPort() const { return m_localPort; }
    // The host's primary IPv4 address: the first of a card that is up and not the loopback.
    static QHostAddress primaryIPv4Address();

signals:
    // `card`: the card the datagram arrived on (kAnyCard when the system did not say).
    void datagramArrived(const QByteArray& datagram, int card);
    // A broadcast was handed on; the report names the cards looked up and those it went out on.
    void broadcastDone(const tarvik::BroadcastReport& report);

private:
    bool bind();
    bool sendThrough(const QByteArray& payload, int card);
    // Tells the wire's listeners of a datagram sent (`error` empty) or not sent.
    void heard(const QByteArray& payload, int card, const QString& error);
    void readPending();

    QUdpSocket m_socket;
    quint16 m_localPort = kLocalPort;
    QString m_onlyCard;
    QString m_error;
    // Arrivals being handed on, and the sends made meanwhile, for the tap to hear after them.
    struct Sent
    {
        wire::Datagram datagram;
        QString error;
    };
    int m_arrivals = 0;
    QList<Sent> m_heldSends;
};

} // namespace tarvik
