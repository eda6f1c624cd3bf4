// What crosses the wire, for whoever looks: every datagram sent and received, and for a received one
// whether the tool took it and, if not, why. Nothing here changes what the tool does.
//
// Two listeners: the logging category "tarvik.wire" (off by default; "tarvik.wire.debug=true" turns
// it on), which gets one line for every datagram that was not taken and every send that failed; and
// at most one Tap (a capture file), which gets every datagram.
//
// The endpoint brackets each arrival with an Arrival: while it is handed on, whoever judges it says
// what became of it through taken() or notTaken(); the tap hears the datagram with that verdict when
// the bracket closes.
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

namespace tarvik::wire {

Q_DECLARE_LOGGING_CATEGORY(lcWire)

// One datagram with its addresses (IPv4, host order) and the card it went through or came on.
struct Datagram
{
    QByteArray payload;
    int card = 0; // kAnyCard when the system did not say
    quint32 source = 0;
    quint16 sourcePort = 0;
    quint32 destination = 0;
    quint16 destinationPort = 0;
};

class Tap
{
public:
    virtual ~Tap() = default;
    // A datagram handed to the network stack (`error` empty) or refused by it (the system's reason).
    virtual void sent(const Datagram& datagram, const QString& error) = 0;
    // A datagram that arrived, with what became of it: empty when it was taken (an answer, a module
    // listed), otherwise why not.
    virtual void received(const Datagram& datagram, const QString& verdict) = 0;
};

// The tap that hears everything from now on (nullptr: none). Not owned.
void setTap(Tap* tap);
Tap* tap();

// Opened by the endpoint around the hand-over of one arrived datagram.
class Arrival
{
public:
    explicit Arrival(Datagram datagram);
    ~Arrival();
    Arrival(const Arrival&) = delete;
    Arrival& operator=(const Arrival&) = delete;

private:
    Datagram m_datagram;
    QString m_verdict;
    bool m_judged = false;
    Arrival* m_outer;
    friend void taken();
    friend void notTaken(const QByteArray& datagram, int card, const QString& why);
};

// The datagram in hand was taken: as an answer, or as a discovery reply that lists its module.
void taken();
// A datagram that was not taken, and why (the reply rule's verdict, in English): logged under
// tarvik.wire, and the verdict of the arrival in hand.
void notTaken(const QByteArray& datagram, int card, const QString& why);
// A send that failed, with the system's reason: logged under tarvik.wire.
void sendFailed(const QByteArray& payload, int card, const QString& reason);

} // namespace tarvik::wire
