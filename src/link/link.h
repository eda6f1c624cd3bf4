// The device link as the operations see it: one datagram endpoint that sends every datagram to
// the modules' port at the limited broadcast address, through one network card or through every
// card that can broadcast.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace tarvik {

inline constexpr quint16 kLocalPort = 65002;  // the tool sends from and receives on this port
inline constexpr quint16 kModulePort = 65000; // the modules listen here

// A network card is named by the number the system gives it, its index; 0 names none: the routing
// table chooses, and an arrival whose card is not known carries 0.
inline constexpr int kAnyCard = 0;

// A card a broadcast can go out through: its index, its name and its first IPv4 address.
struct Card
{
    int index = kAnyCard;
    QString name;
    QString address;

    bool operator==(const Card& other) const
    {
        return index == other.index && name == other.name && address == other.address;
    }
};

// What became of one broadcast.
struct BroadcastReport
{
    QList<Card> cards;   // the usable cards looked up for it, in the system's order
    QList<Card> sentOn;  // those it went out through
    bool routed = false; // there was no usable card, and the routing table sent it
    QString error;       // the system's reason for the last send that failed, if any

    // Whether the datagram went out at all.
    bool sent() const { return routed || !sentOn.isEmpty(); }
};

class Link
{
public:
    virtual ~Link() = default;
    // Hands one datagram to the network stack, to go out through the card `card` only (kAnyCard:
    // where the routing table sends it); false on a send error (a failed bind included).
    virtual bool send(const QByteArray& payload, int card) = 0;
    // Hands one datagram to the network stack once for every usable card, looked up afresh; with
    // no usable card, once through the routing table. A card that fails does not stop the others.
    virtual BroadcastReport broadcast(const QByteArray& payload) = 0;
};

} // namespace tarvik
